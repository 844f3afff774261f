// registry_export_test.cpp - parsing registry export files.
#include "registry_export.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using coredll::ParseRegistryExport;
using coredll::RegistryExport;
using Bytes = std::vector<uint8_t>;

RegistryExport ParseUtf8(const std::string &text)
{
    return ParseRegistryExport(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

// `text` (ASCII) as the registry editor writes it: UTF-16LE with a BOM.
Bytes Utf16File(const std::string &text)
{
    Bytes bytes = {0xFF, 0xFE};
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

// The value `name` of key `path`, or nullptr.
const coredll::RegistryValue *Value(const RegistryExport &reg, std::u16string_view path,
                                    std::u16string_view name)
{
    const coredll::RegistryKey *key = coredll::FindRegistryKey(reg, path);
    return key == nullptr ? nullptr : coredll::FindRegistryValue(*key, name);
}

const char kKey[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X]\r\n";

TEST(RegistryExport, ReadsEveryEncodingAndHeader)
{
    const std::string body = std::string(kKey) + "\"CabFile\"=\"abc\"\r\n";
    std::vector<RegistryExport> parsed;
    Bytes utf16 = Utf16File("Windows Registry Editor Version 5.00\r\n\r\n" + body);
    parsed.push_back(ParseRegistryExport(utf16.data(), utf16.size()));
    parsed.push_back(ParseUtf8("Windows Registry Editor Version 5.00\n" + body));
    parsed.push_back(ParseUtf8("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n" + body));
    parsed.push_back(ParseUtf8("REGEDIT4\r\n\r\n" + body));
    for (const RegistryExport &reg : parsed) {
        const coredll::RegistryValue *value =
            Value(reg, u"hkey_local_machine\\software\\apps\\x", u"CABFILE");
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->type, 1u);
        EXPECT_EQ(value->data, (Bytes{'a', 0, 'b', 0, 'c', 0, 0, 0}));
    }
}

TEST(RegistryExport, WithoutAValidHeaderTheRegistryIsEmpty)
{
    const std::string body = std::string(kKey) + "\"CabFile\"=\"abc\"\n";
    EXPECT_TRUE(ParseUtf8(body).keys.empty());
    EXPECT_TRUE(ParseUtf8("Windows Registry Editor Version 4.00\n" + body).keys.empty());
    EXPECT_TRUE(ParseUtf8("").keys.empty());
    EXPECT_TRUE(ParseRegistryExport(nullptr, 0).keys.empty());
    Bytes odd = {0xFF, 0xFE, 'R'};
    EXPECT_TRUE(ParseRegistryExport(odd.data(), odd.size()).keys.empty());
}

TEST(RegistryExport, EveryValueType)
{
    const RegistryExport reg = ParseUtf8(std::string("REGEDIT4\n") + kKey +
                                         "@=\"default\"\n"
                                         "\"Path\"=\"C:\\\\dir\\\\\\\"q\\\"\"\n"
                                         "\"Count\"=dword:0000002A\n"
                                         "\"Blob\"=hex:01,02,ff\n"
                                         "\"Expand\"=hex(2):41,00,00,00\n"
                                         "\"Multi\"=hex(7):41,00,00,00,00,00\n"
                                         "\"None\"=hex(0):\n"
                                         "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\n"
                                         "\"Esc\\\"aped\\\\Name\"=dword:1\n");
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X";
    struct Expected {
        std::u16string name;
        uint32_t type;
        Bytes data;
    };
    const Expected expected[] = {
        {u"", 1, {'d', 0, 'e', 0, 'f', 0, 'a', 0, 'u', 0, 'l', 0, 't', 0, 0, 0}},
        {u"path", 1, {'C', 0,    ':', 0,   '\\', 0,   'd', 0,   'i', 0, 'r',
                      0,   '\\', 0,   '"', 0,    'q', 0,   '"', 0,   0, 0}},
        {u"Count", 4, {0x2A, 0, 0, 0}},
        {u"Blob", 3, {1, 2, 0xFF}},
        {u"Expand", 2, {'A', 0, 0, 0}},
        {u"Multi", 7, {'A', 0, 0, 0, 0, 0}},
        {u"None", 0, {}},
        {u"Quad", 11, {1, 0, 0, 0, 0, 0, 0, 0}},
        {u"esc\"aped\\name", 4, {1, 0, 0, 0}},
    };
    for (const Expected &e : expected) {
        const coredll::RegistryValue *value = Value(reg, key, e.name);
        ASSERT_NE(value, nullptr) << std::string(e.name.begin(), e.name.end());
        EXPECT_EQ(value->type, e.type);
        EXPECT_EQ(value->data, e.data);
    }
}

TEST(RegistryExport, ContinuationLinesCommentsAndDeletions)
{
    const RegistryExport reg = ParseUtf8(std::string("REGEDIT4\n") +
                                         "; a comment\n"
                                         "[HKEY_LOCAL_MACHINE\\Gone]\n"
                                         "[-HKEY_LOCAL_MACHINE\\Deleted]\n"
                                         "\"InDeleted\"=dword:1\n" +
                                         kKey +
                                         "\"Long\"=hex:01,02,\\\n"
                                         "  03,04\n"
                                         "  ; an indented comment\n"
                                         "\"Removed\"=-\n"
                                         "\"Kept\"=dword:00000007 ; note\n");
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X";
    ASSERT_NE(Value(reg, key, u"Long"), nullptr);
    EXPECT_EQ(Value(reg, key, u"Long")->data, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Value(reg, key, u"Removed"), nullptr);
    ASSERT_NE(Value(reg, key, u"Kept"), nullptr);
    EXPECT_EQ(Value(reg, key, u"Kept")->data, (Bytes{7, 0, 0, 0}));
    EXPECT_EQ(coredll::FindRegistryKey(reg, u"HKEY_LOCAL_MACHINE\\Deleted"), nullptr);
    EXPECT_NE(coredll::FindRegistryKey(reg, u"HKEY_LOCAL_MACHINE\\Gone"), nullptr);
    EXPECT_EQ(Value(reg, u"HKEY_LOCAL_MACHINE\\Gone", u"InDeleted"), nullptr);
}

TEST(RegistryExport, MalformedLinesAreSkippedAlone)
{
    const RegistryExport reg = ParseUtf8(std::string("REGEDIT4\n") + kKey +
                                         "\"Open\"=\"never closed\n"
                                         "\"Big\"=dword:123456789\n"
                                         "\"BadHex\"=hex:1g,02\n"
                                         "\"NoEquals\" dword:1\n"
                                         "\"Unknown\"=str:1\n"
                                         "\"Trail\"=\"x\" junk\n"
                                         "garbage line\n"
                                         "[unclosed\n"
                                         "\"Good\"=dword:1\n"
                                         "[HKEY_LOCAL_MACHINE\\Next]\n"
                                         "\"Other\"=\"y\"\n");
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X";
    for (const char16_t *skipped :
         {u"Open", u"Big", u"BadHex", u"NoEquals", u"Unknown", u"Trail"}) {
        EXPECT_EQ(Value(reg, key, skipped), nullptr);
    }
    // "[unclosed" ends the section: "Good" belongs to no key.
    EXPECT_EQ(Value(reg, key, u"Good"), nullptr);
    EXPECT_NE(Value(reg, u"HKEY_LOCAL_MACHINE\\NEXT", u"other"), nullptr);
}

TEST(RegistryExport, RepeatedSectionsAndValuesKeepTheLastImport)
{
    const RegistryExport reg = ParseUtf8(std::string("REGEDIT4\n") + kKey +
                                         "\"A\"=dword:1\n"
                                         "\"B\"=dword:1\n"
                                         "[hkey_local_machine\\software\\apps\\x]\n"
                                         "\"a\"=dword:2\n");
    const std::u16string key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X";
    ASSERT_NE(Value(reg, key, u"A"), nullptr);
    EXPECT_EQ(Value(reg, key, u"A")->data, (Bytes{2, 0, 0, 0}));
    EXPECT_NE(Value(reg, key, u"B"), nullptr);
}

} // namespace
