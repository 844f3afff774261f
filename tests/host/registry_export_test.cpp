// registry_export_test.cpp - importing registry export files.
//
// The expected registries are what Wine 8's "reg import" leaves in an empty
// key for the same files (each case was imported there and read back with
// RegEnumValueW).
#include "registry/registry_export.h"

#include "allocations.h"
#include "names/case_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using coredll::ParseRegistryExport;
using coredll::RegistryExport;
using Bytes = std::vector<uint8_t>;

RegistryExport Parse(const std::string &bytes)
{
    return ParseRegistryExport(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// `text` as the registry editor writes it: UTF-16LE with a byte-order mark.
Bytes Utf16File(const std::u16string &text)
{
    Bytes bytes = {0xFF, 0xFE};
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

RegistryExport ParseUtf16(const std::u16string &text)
{
    Bytes bytes = Utf16File(text);
    return ParseRegistryExport(bytes.data(), bytes.size());
}

// The UTF-16LE bytes of `text` (ASCII).
Bytes Wide(const std::string &text)
{
    Bytes bytes;
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

const char16_t kKeyPath[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X";
const char kKey[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X]\r\n";
const char16_t kKey16[] = u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X]\r\n";

// The value `name` of key `path`, or nullptr.
const coredll::RegistryValue *Value(const RegistryExport &reg, std::u16string_view name,
                                    std::u16string_view path = kKeyPath)
{
    const coredll::RegistryKey *key = coredll::FindRegistryKey(reg, path);
    return key == nullptr ? nullptr : coredll::FindRegistryValue(*key, name);
}

struct Expected {
    std::u16string name;
    uint32_t type;
    Bytes data;
};

// Checks that the key holds exactly `expected`.
void ExpectValues(const RegistryExport &reg, const std::vector<Expected> &expected,
                  std::u16string_view path = kKeyPath)
{
    const coredll::RegistryKey *key = coredll::FindRegistryKey(reg, path);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->values.size(), expected.size());
    for (const Expected &e : expected) {
        const coredll::RegistryValue *value = coredll::FindRegistryValue(*key, e.name);
        ASSERT_NE(value, nullptr) << std::string(e.name.begin(), e.name.end());
        EXPECT_EQ(value->type, e.type) << std::string(e.name.begin(), e.name.end());
        EXPECT_EQ(value->data, e.data) << std::string(e.name.begin(), e.name.end());
    }
}

TEST(RegistryExport, EncodingsAndHeaders)
{
    const std::string body = std::string(kKey) + "\"CabFile\"=\"abc\"\r\n";
    const Bytes abc = Wide(std::string("abc", 4));
    std::vector<RegistryExport> read;
    read.push_back(ParseUtf16(u"Windows Registry Editor Version 5.00\r\n\r\n" +
                              std::u16string(kKey16) + u"\"CabFile\"=\"abc\"\r\n"));
    read.push_back(ParseUtf16(u"REGEDIT4\r\n" + std::u16string(kKey16) + u"\"CabFile\"=\"abc\""));
    read.push_back(Parse("Windows Registry Editor Version 5.00\n" + body));
    read.push_back(Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n" + body));
    read.push_back(Parse("REGEDIT4\r\n\r\n" + body));
    read.push_back(Parse(" \tREGEDIT4\r\n" + body));
    for (const RegistryExport &reg : read) {
        ExpectValues(reg, {{u"CABFILE", 1, abc}}, u"hkey_local_machine\\software\\apps\\x");
    }

    // Nothing is imported without an exact header.
    for (const char *header : {"", "REGEDIT4 ", "REGEDIT4\t", "regedit4", "REGEDIT", "REGEDIT 4",
                               "\xEF\xBB\xBFREGEDIT4", "Windows Registry Editor Version 4.00"}) {
        EXPECT_TRUE(Parse(std::string(header) + "\r\n" + body).keys.empty()) << header;
    }
    EXPECT_TRUE(Parse("").keys.empty());
    EXPECT_TRUE(ParseRegistryExport(nullptr, 0).keys.empty());
    Bytes odd = {0xFF, 0xFE, 'R'};
    EXPECT_TRUE(ParseRegistryExport(odd.data(), odd.size()).keys.empty());
}

TEST(RegistryExport, Version4IsWindows1252AndItsHexStringsAreWidened)
{
    const RegistryExport reg = Parse(std::string("REGEDIT4\r\n") + kKey +
                                     "\"S\"=\"caf\xE9 \x80\x81\x8D\x9F\"\r\n"
                                     "\"N\xE9\"=dword:1\r\n"
                                     "\"Expand\"=hex(2):41,e9,80\r\n"
                                     "\"Multi\"=hex(7):41,00,42,00,00\r\n"
                                     "\"Sz\"=hex(1):41,e9\r\n"
                                     "\"Ended\"=hex(2):41,00\r\n"
                                     "\"Nul\"=hex(2):00\r\n"
                                     "\"Empty\"=hex(2):\r\n"
                                     "\"Binary\"=hex:41,e9\r\n");
    ExpectValues(reg, {
                          {u"S", 1, {'c',  0,    'a',  0, 'f',  0, 0xE9, 0,    ' ', 0,
                                     0xAC, 0x20, 0x81, 0, 0x8D, 0, 0x78, 0x01, 0,   0}},
                          {u"N\u00E9", 4, {1, 0, 0, 0}},
                          {u"Expand", 2, {'A', 0, 0xE9, 0, 0xAC, 0x20, 0, 0}},
                          {u"Multi", 7, {'A', 0, 0, 0, 'B', 0, 0, 0, 0, 0}},
                          {u"Sz", 1, {'A', 0, 0xE9, 0, 0, 0}},
                          {u"Ended", 2, {'A', 0, 0, 0}},
                          {u"Nul", 2, {0, 0}},
                          {u"Empty", 2, {}},
                          {u"Binary", 3, {'A', 0xE9}},
                      });

    // A version-5 file that is not UTF-8 is ANSI text too.
    const RegistryExport ansi5 = Parse(std::string("Windows Registry Editor Version 5.00\r\n") +
                                       kKey + "\"S\"=\"\xE9\"\r\n\"Expand\"=hex(2):41\r\n");
    ExpectValues(ansi5, {{u"S", 1, {0xE9, 0, 0, 0}}, {u"Expand", 2, {'A', 0, 0, 0}}});
}

TEST(RegistryExport, UnicodeHexStringsGetTheirTerminator)
{
    const RegistryExport reg =
        ParseUtf16(u"Windows Registry Editor Version 5.00\r\n" + std::u16string(kKey16) +
                   u"\"Bare\"=hex(2):41,00\r\n"
                   u"\"Ended\"=hex(2):41,00,00,00\r\n"
                   u"\"Multi\"=hex(7):41,00,42,00\r\n"
                   u"\"Odd\"=hex(1):41,00,42\r\n"
                   u"\"OddEnded\"=hex(2):41,00,00,00,42\r\n"
                   u"\"Binary\"=hex:41,00\r\n"
                   u"\"Latin\"=\"\u00E9\u20AC\u0100\"\r\n");
    ExpectValues(reg, {
                          {u"Bare", 2, {'A', 0, 0, 0}},
                          {u"Ended", 2, {'A', 0, 0, 0}},
                          {u"Multi", 7, {'A', 0, 'B', 0, 0, 0}},
                          {u"Odd", 1, {'A', 0, 0, 0, 0}},
                          {u"OddEnded", 2, {'A', 0, 0, 0, 'B'}},
                          {u"Binary", 3, {'A', 0}},
                          {u"Latin", 1, {0xE9, 0, 0xAC, 0x20, 0x00, 0x01, 0, 0}},
                      });

    // A string type of a single byte makes the import fail there: nothing
    // after it is imported.
    const RegistryExport stopped =
        ParseUtf16(u"Windows Registry Editor Version 5.00\r\n" + std::u16string(kKey16) +
                   u"\"Before\"=dword:1\r\n\"One\"=hex(2):41\r\n\"After\"=dword:2\r\n[HKEY_LOCAL_"
                   u"MACHINE\\Y]\r\n");
    ExpectValues(stopped, {{u"Before", 4, {1, 0, 0, 0}}});
    EXPECT_EQ(coredll::FindRegistryKey(stopped, u"HKEY_LOCAL_MACHINE\\Y"), nullptr);
}

TEST(RegistryExport, QuotedStringEscapes)
{
    const RegistryExport reg = Parse(std::string("REGEDIT4\r\n") + kKey +
                                     "\"N\"=\"x\\ny\"\r\n"
                                     "\"R\"=\"x\\ry\"\r\n"
                                     "\"Q\"=\"x\\qy\"\r\n"
                                     "\"B\"=\"\\\\\\\"\"\r\n"
                                     "\"Zero\"=\"x\\0y\"\r\n"
                                     "\"Open\"=\"x\\\"\r\n"
                                     "\"Name\\q\\\"\"=\"1\"\r\n"
                                     "\"Bad\\0\"=\"1\"\r\n"
                                     "\"C\"=\"x\" ; comment\r\n"
                                     "\"D\"=\"x\";comment\r\n"
                                     "\"E\" = \"sp\" \r\n"
                                     "\"Junk\"=\"x\"y\r\n");
    ExpectValues(reg, {
                          {u"N", 1, {'x', 0, '\n', 0, 'y', 0, 0, 0}},
                          {u"R", 1, {'x', 0, '\r', 0, 'y', 0, 0, 0}},
                          {u"Q", 1, {'x', 0, 'q', 0, 'y', 0, 0, 0}},
                          {u"B", 1, {'\\', 0, '"', 0, 0, 0}},
                          {u"Nameq\"", 1, {'1', 0, 0, 0}},
                          {u"C", 1, {'x', 0, 0, 0}},
                          {u"D", 1, {'x', 0, 0, 0}},
                          {u"E", 1, {'s', 0, 'p', 0, 0, 0}},
                      });
}

TEST(RegistryExport, HexBytesAndContinuationLines)
{
    const RegistryExport reg = Parse(std::string("REGEDIT4\r\n") + kKey +
                                     "\"Long\"=hex:01,\\\r\n"
                                     "\r\n"
                                     "  ; a comment inside the value\r\n"
                                     "\t02,03\r\n"
                                     "\"SpaceBeforeComma\"=hex:01 ,02\r\n"
                                     "\"Wide\"=hex:001,0002\r\n"
                                     "\"NoComma\"=hex:01\\\r\n 02\r\n"
                                     "\"SpaceBeforeBackslash\"=hex:01,02 \\\r\n 03\r\n"
                                     "\"Comment\"=hex:01,02 ;x\r\n"
                                     "\"TrailingComma\"=hex:01,02,\r\n"
                                     "\"TwoCommas\"=hex:01,,02\r\n"
                                     "\"Blanks\"=hex: 01, 02\r\n"
                                     "\"Signs\"=hex:+1,0x2\r\n"
                                     "\"CommentAfterBackslash\"=hex:01,\\ ;c\r\n03\r\n"
                                     "\"JunkAfterBackslash\"=hex:01,\\ x\r\n03\r\n"
                                     "\"Swallows\"=hex:01,\\\r\n"
                                     "\"Swallowed\"=dword:1\r\n"
                                     "\"AtTheEnd\"=hex:01,\\\r\n");
    ExpectValues(reg, {
                          {u"Long", 3, {1, 2, 3}},
                          {u"Wide", 3, {1, 2}},
                          {u"Comment", 3, {1, 2}},
                          {u"TrailingComma", 3, {1, 2}},
                          {u"Blanks", 3, {1, 2}},
                          {u"Signs", 3, {1, 2}},
                          {u"CommentAfterBackslash", 3, {1, 3}},
                          {u"AtTheEnd", 3, {1}},
                      });
}

TEST(RegistryExport, NumbersAsTheCRuntimeReadsThem)
{
    const RegistryExport reg =
        ParseUtf16(u"Windows Registry Editor Version 5.00\r\n" + std::u16string(kKey16) +
                   u"\"Upper\"=DWORD:1\r\n"
                   u"\"UpperHex\"=Hex:01\r\n"
                   u"\"NoType\"=hex():41\r\n"
                   u"\"SpacedType\"=hex( 2):41,00\r\n"
                   u"\"PrefixedType\"=hex(0x2):41,00\r\n"
                   u"\"Minus\"=hex(-1):41\r\n"
                   u"\"DwordSpaces\"=dword: 1 \r\n"
                   u"\"DwordTwo\"=dword:1 2\r\n"
                   u"\"DwordNine\"=dword:000000001\r\n"
                   u"\"DwordSign\"=dword:+1\r\n"
                   u"\"DwordComment\"=dword:;c\r\n"
                   u"\"DwordFullWidth\"=dword:\uFF11\uFF21\r\n"
                   u"\"Spaces\"=hex:\u3000\u00A0 01,\u2028\u1680 02\r\n"
                   u"\"NotSpace\"=hex:\u200B01\r\n"
                   u"\"Digits\"=hex:\uFF11,\u0662,\\\r\n"
                   u"  \uFF13\r\n"
                   u"\"Overflow\"=hex:100000000\r\n"
                   u"\"AfterOverflow\"=hex(ffffffff):41\r\n");
    ExpectValues(reg, {
                          {u"NoType", 0, {'A'}},
                          {u"SpacedType", 2, {'A', 0, 0, 0}},
                          {u"Minus", 0xFFFFFFFF, {'A'}},
                          {u"DwordSpaces", 4, {1, 0, 0, 0}},
                          {u"DwordComment", 4, {0, 0, 0, 0}},
                          {u"DwordFullWidth", 4, {1, 0, 0, 0}},
                          {u"Spaces", 3, {1, 2}},
                          {u"Digits", 3, {1, 2, 3}},
                      });

    // 0xFFFFFFFF is a type unless a number out of range came before it.
    const RegistryExport all_ones =
        ParseUtf16(u"REGEDIT4\r\n" + std::u16string(kKey16) + u"\"T\"=hex(ffffffff):41\r\n");
    ExpectValues(all_ones, {{u"T", 0xFFFFFFFF, {'A'}}});
}

TEST(RegistryExport, KeyLines)
{
    const RegistryExport reg =
        Parse("REGEDIT4\r\n"
              "[HKLM\\SOFTWARE\\K1]\r\n\"a\"=\"1\"\r\n"
              "[hkey_local_machine\\SOFTWARE\\K2] junk\r\n\"a\"=\"2\"\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K3]x]\r\n\"a\"=\"3\"\r\n"
              "[unclosed\r\n\"b\"=\"after unclosed\"\r\n"
              "[ HKEY_LOCAL_MACHINE\\SOFTWARE\\K4]\r\n\"c\"=\"after blank\"\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\\K5\\]\r\n\"a\"=\"5\"\r\n"
              "[HKLM\\\\SOFTWARE\\K6]\r\n\"a\"=\"6\"\r\n"
              "[HKEY_LOCAL_MACHINEX\\SOFTWARE\\K7]\r\n\"a\"=\"7\"\r\n"
              "[]\r\n\"a\"=\"after empty\"\r\n");
    ExpectValues(reg, {{u"a", 1, Wide(std::string("1", 2))}}, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K1");
    ExpectValues(reg, {{u"a", 1, Wide(std::string("2", 2))}}, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K2");
    ExpectValues(reg,
                 {{u"a", 1, Wide(std::string("3", 2))},
                  {u"b", 1, Wide(std::string("after unclosed", 15))},
                  {u"c", 1, Wide(std::string("after blank", 12))}},
                 u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K3]x");
    ExpectValues(reg, {{u"a", 1, Wide(std::string("5", 2))}}, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K5");
    ExpectValues(reg, {}, u"HKEY_LOCAL_MACHINE\\SOFTWARE"); // created as a parent
    for (const char16_t *missing :
         {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K3", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K4",
          u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K6", u"HKEY_LOCAL_MACHINE\\K6",
          u"HKEY_LOCAL_MACHINE\\SOFTWARE\\K7"}) {
        EXPECT_EQ(coredll::FindRegistryKey(reg, missing), nullptr);
    }
}

// The registry's limits are CE's: names of at most 255 characters, 16 levels
// of subkeys.  A key is created one level at a time, so the levels above a
// refused one stay, as Wine 8 leaves HKCU\T\a of [HKCU\T\a\<257 x>\b].
TEST(RegistryExport, NameAndDepthLimits)
{
    const std::u16string name(255, u'k');
    const std::string key(name.begin(), name.end());
    const std::string value(255, 'v');
    std::string sixteen = "\\1\\2\\3\\4\\5\\6\\7\\8\\9\\10\\11\\12\\13\\14\\15\\16";
    const RegistryExport reg = Parse(
        "REGEDIT4\r\n[HKLM\\" + key + "]\r\n\"a\"=dword:1\r\n[HKLM\\" + key +
        "k]\r\n\"b\"=dword:1\r\n" + "[HKLM\\A\\" + key + "k\\B]\r\n\"c\"=dword:1\r\n[HKLM" +
        sixteen + "]\r\n\"d\"=dword:1\r\n" + "[HKLM" + sixteen + "\\17]\r\n\"e\"=dword:1\r\n" +
        kKey + "\"" + value + "\"=dword:1\r\n\"" + value + "v\"=dword:1\r\n");
    ExpectValues(reg, {{u"a", 4, {1, 0, 0, 0}}}, u"HKEY_LOCAL_MACHINE\\" + name);
    ExpectValues(reg, {}, u"HKEY_LOCAL_MACHINE\\A");
    const std::u16string deepest =
        u"HKEY_LOCAL_MACHINE" + std::u16string(sixteen.begin(), sixteen.end());
    ExpectValues(reg, {{u"d", 4, {1, 0, 0, 0}}}, deepest);
    ExpectValues(reg, {{std::u16string(value.begin(), value.end()), 4, {1, 0, 0, 0}}});
    ExpectValues(reg, {}, u"HKEY_LOCAL_MACHINE");
    for (const std::u16string &missing :
         {u"HKEY_LOCAL_MACHINE\\" + name + u"k", u"HKEY_LOCAL_MACHINE\\A\\" + name + u"k",
          deepest + u"\\17"}) {
        EXPECT_EQ(coredll::FindRegistryKey(reg, missing), nullptr);
    }
}

TEST(RegistryExport, DeletionsUndoWhatCameBefore)
{
    const RegistryExport reg = Parse(std::string("REGEDIT4\r\n") +
                                     "[HKLM\\A\\B\\C]\r\n\"x\"=\"1\"\r\n"
                                     "[-HKEY_LOCAL_MACHINE\\a\\b] trailing\r\n"
                                     "\"y\"=\"belongs to no key\"\r\n"
                                     "[HKLM\\D]\r\n\"v\"=\"1\"\r\n"
                                     "[-HKLM\\D\r\n"
                                     "\"w\"=\"kept: the deletion had no ]\"\r\n" +
                                     kKey +
                                     "\"Gone\"=dword:1\r\n"
                                     "\"Kept\"=dword:1\r\n"
                                     "\"gone\"=-\r\n"
                                     "\"Kept\"=- x\r\n"
                                     "\"Never\"=-\r\n"
                                     "\"Back\"=dword:1\r\n\"back\"=-\r\n\"BACK\"=dword:2\r\n"
                                     "[HKLM\\A\\B]\r\n\"z\"=\"new\"\r\n");
    EXPECT_NE(coredll::FindRegistryKey(reg, u"HKEY_LOCAL_MACHINE\\A"), nullptr);
    EXPECT_EQ(reg.keys.size(), 7u); // the root, A, B anew, D, SOFTWARE, Apps, X: no stray C
    ExpectValues(reg, {{u"z", 1, Wide(std::string("new", 4))}}, u"HKEY_LOCAL_MACHINE\\A\\B");
    EXPECT_EQ(coredll::FindRegistryKey(reg, u"HKEY_LOCAL_MACHINE\\A\\B\\C"), nullptr);
    EXPECT_EQ(Value(reg, u"y", u"HKEY_LOCAL_MACHINE\\A"), nullptr);
    ExpectValues(reg,
                 {{u"v", 1, Wide(std::string("1", 2))},
                  {u"w", 1, Wide(std::string("kept: the deletion had no ]", 28))}},
                 u"HKEY_LOCAL_MACHINE\\D");
    ExpectValues(reg, {{u"Kept", 4, {1, 0, 0, 0}}, {u"Back", 4, {2, 0, 0, 0}}});
}

TEST(RegistryExport, RepeatedKeysAndValuesKeepTheLastImport)
{
    const RegistryExport reg = Parse(std::string("REGEDIT4\n") + kKey +
                                     "\"A\"=dword:1\n"
                                     "\"B\"=dword:1\n"
                                     "[hkey_local_machine\\software\\apps\\x]\n"
                                     "\"a\"=dword:2\n"
                                     "@=\"default\"\n"
                                     "\"\"=\"empty name\"\n");
    ExpectValues(reg, {{u"A", 4, {2, 0, 0, 0}},
                       {u"B", 4, {1, 0, 0, 0}},
                       {u"", 1, Wide(std::string("empty name", 11))}});
}

TEST(RegistryExport, TheTextEndsAtItsFirstNul)
{
    const RegistryExport reg =
        Parse(std::string("REGEDIT4\r\n") + kKey + "\"Before\"=dword:1\r\n" +
              std::string("\"Cut\"=\"ab\0cd\"\r\n", 15) + "\"After\"=dword:2\r\n");
    ExpectValues(reg, {{u"Before", 4, {1, 0, 0, 0}}});
}

TEST(RegistryExport, LineBreaks)
{
    const RegistryExport reg = Parse("REGEDIT4\r\r[HKLM\\SOFTWARE\\Apps\\X]\n\r\"A\"=dword:1\r"
                                     "\"B\"=hex:01,\\\n\r02\r\n\"C\"=dword:3");
    ExpectValues(reg, {{u"A", 4, {1, 0, 0, 0}}, {u"B", 3, {1, 2}}, {u"C", 4, {3, 0, 0, 0}}});
}

// An export of `count` keys and as many values in one more key.
std::string ManyKeysAndValues(int count)
{
    std::string text = "REGEDIT4\r\n";
    for (int i = 0; i < count; ++i) {
        text += "[HKLM\\SOFTWARE\\Apps\\K" + std::to_string(i) + "\\Sub]\r\n\"v\"=dword:1\r\n";
    }
    text += "[HKLM\\SOFTWARE\\Apps\\X]\r\n";
    for (int i = 0; i < count; ++i) {
        text += "\"V" + std::to_string(i) + "\"=dword:1\r\n";
    }
    return text;
}

// One key `depth` levels deep, a value in it, then the key's deletion.
std::string DeepKey(int depth)
{
    std::string path = "HKLM";
    for (int level = 0; level < depth; ++level) {
        path += "\\k";
    }
    return "REGEDIT4\r\n[" + path + "]\r\n\"v\"=dword:1\r\n[-" + path + "]\r\n";
}

// What an import of `text` costs: the bytes it allocates and the name units
// it upper-cases or compares ignoring case.
std::pair<size_t, size_t> ImportCost(const std::string &text)
{
    const size_t bytes = BytesAllocated();
    const size_t units = coredll::NameUnitsExamined();
    Parse(text);
    return {BytesAllocated() - bytes, coredll::NameUnitsExamined() - units};
}

// An import costs in proportion to its file whatever the shape of its tree:
// four times the entries, or the depth, may cost at most five times the
// bytes and the name units (4.1 as imported now).  The cost is counted, not
// timed, so that neither the build's speed nor the machine's load changes the
// verdict.  Comparing each new key with the keys before it took minutes for
// 20,000 keys; keeping every key's full path took 4 GB for one key 32,000
// levels deep.
TEST(RegistryExport, ImportCostGrowsInProportionToTheFile)
{
    const int count = 1500;
    const RegistryExport reg = Parse(ManyKeysAndValues(count));
    EXPECT_EQ(reg.keys.size(), 2u * count + 4); // the root, SOFTWARE, Apps, X
    ASSERT_NE(coredll::FindRegistryKey(reg, kKeyPath), nullptr);
    EXPECT_EQ(coredll::FindRegistryKey(reg, kKeyPath)->values.size(), size_t{count});
    for (std::string (*shape)(int) : {ManyKeysAndValues, DeepKey}) {
        const auto [small_bytes, small_units] = ImportCost(shape(count));
        const auto [large_bytes, large_units] = ImportCost(shape(4 * count));
        EXPECT_GT(small_units, size_t{0});
        EXPECT_LE(large_bytes, 5 * small_bytes) << small_bytes << " bytes, then " << large_bytes;
        EXPECT_LE(large_units, 5 * small_units) << small_units << " units, then " << large_units;
    }
}

} // namespace
