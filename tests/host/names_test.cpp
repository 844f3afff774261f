// names_test.cpp - case-insensitive names and the UTF-16 / UTF-8 conversion.
#include "temp_root.h"

#include "names/case_fold.h"
#include "coredll.h"
#include "platform_names.h"
#include "names/utf16.h"
#include "paths/device_path.h"

namespace {

using Names = TempRoot;

TEST(Utf16, ConvertsBothWaysIncludingNonBmp)
{
    const std::u16string device = u"Caf\u00e9 \U0001F600 \u4e2d";
    char utf8[64];
    size_t length = 0;
    ASSERT_TRUE(coredll::Utf16ToUtf8(device, utf8, sizeof(utf8), length));
    EXPECT_EQ(std::string(utf8, length), "Caf\xc3\xa9 \xf0\x9f\x98\x80 \xe4\xb8\xad");
    char16_t back[64];
    ASSERT_TRUE(coredll::Utf8ToUtf16(std::string_view(utf8, length), back, 64, length));
    EXPECT_EQ(std::u16string(back, length), device);
}

TEST(Utf16, RefusesInvalidInputAndOverflow)
{
    char utf8[16];
    size_t length = 0;
    EXPECT_FALSE(coredll::Utf16ToUtf8(u"a\xD800", utf8, sizeof(utf8), length));
    EXPECT_FALSE(coredll::Utf16ToUtf8(u"\xDC00"
                                      u"a",
                                      utf8, sizeof(utf8), length));
    EXPECT_FALSE(coredll::Utf16ToUtf8(u"abcd", utf8, 4, length)); // no room for the NUL
    char16_t wide[8];
    for (const char *bad : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe4\xb8", "\xff"}) {
        EXPECT_FALSE(coredll::Utf8ToUtf16(bad, wide, 8, length)) << bad;
    }
    EXPECT_FALSE(coredll::Utf8ToUtf16("\xf0\x9f\x98\x80", wide, 2, length)); // pair + NUL

    char on_disk[8] = "xxxxxxx";
    coredll::PathBuilder path(on_disk, sizeof(on_disk));
    EXPECT_STREQ(path.c_str(), "");
    EXPECT_TRUE(path.AppendComponent("abc"));
    EXPECT_FALSE(path.AppendComponent("abcd")); // "abc/abcd" and its NUL: 9
    EXPECT_TRUE(path.AppendComponent("abc"));   // 8, exactly
    EXPECT_STREQ(path.c_str(), "abc/abc");
}

TEST(CaseFold, ComparesIgnoringCase)
{
    EXPECT_TRUE(coredll::Utf16EqualsIgnoringCase(u"ServicePack", u"SERVICEPACK"));
    EXPECT_TRUE(coredll::Utf16EqualsIgnoringCase(u"\u00c9T\u00c9", u"\u00e9t\u00e9"));
    EXPECT_FALSE(coredll::Utf16EqualsIgnoringCase(u"abc", u"abd"));
    EXPECT_FALSE(coredll::Utf16EqualsIgnoringCase(u"abc", u"abcd"));
    EXPECT_TRUE(coredll::Utf8NameEqualsIgnoringCase("\xc3\x89t\xc3\xa9", u"\u00c9T\u00c9"));
    EXPECT_FALSE(coredll::Utf8NameEqualsIgnoringCase("a\xff", u"a\u00ff"));
}

// Wine's RtlUpcaseUnicodeChar is the oracle: it upper-cases y-diaeresis to
// U+0178 and Georgian Mkhedruli to Mtavruli, but leaves long s, Kelvin sign,
// dotless i, dotted capital I, micro sign, final sigma and the title-case
// digraph alone; C-library folding made each of those equal to a plain letter.
TEST(CaseFold, OnlyTheOneToOneUpperCaseTable)
{
    using coredll::Utf16EqualsIgnoringCase;
    EXPECT_TRUE(Utf16EqualsIgnoringCase(u"\u00ff", u"\u0178"));
    EXPECT_TRUE(Utf16EqualsIgnoringCase(u"\u10d0", u"\u1c90"));
    EXPECT_TRUE(Utf16EqualsIgnoringCase(u"\u1f80", u"\u1f88"));
    const char16_t *const distinct[][2] = {{u"\u017f", u"s"},      {u"\u212a", u"k"},
                                           {u"\u0131", u"i"},      {u"\u0130", u"i"},
                                           {u"\u00b5", u"\u03bc"}, {u"\u03c2", u"\u03c3"},
                                           {u"\u01c5", u"\u01c6"}, {u"\u00df", u"\u1e9e"}};
    for (const auto &pair : distinct) {
        EXPECT_FALSE(Utf16EqualsIgnoringCase(pair[0], pair[1])) << int(pair[0][0]);
        char utf8[8];
        size_t length = 0;
        ASSERT_TRUE(coredll::Utf16ToUtf8(pair[0], utf8, sizeof(utf8), length));
        EXPECT_FALSE(coredll::Utf8NameEqualsIgnoringCase(std::string_view(utf8, length), pair[1]));
    }
    // A pair of surrogates is two units with no case of their own.
    EXPECT_FALSE(Utf16EqualsIgnoringCase(u"\U00010428", u"\U00010400"));
}

// CE's MatchesWildcardMask (coredll apis.c) is the oracle.
TEST(CaseFold, WildcardPatterns)
{
    using coredll::WildcardMatches;
    EXPECT_TRUE(WildcardMatches(u"*.TXT", u"a.txt"));
    EXPECT_FALSE(WildcardMatches(u"*.txt", u"a.txt.bak"));
    EXPECT_TRUE(WildcardMatches(u"a?c*", u"ABCdef"));
    EXPECT_FALSE(WildcardMatches(u"a?c", u"ac"));
    EXPECT_TRUE(WildcardMatches(u"*b*b*", u"abxb"));
    EXPECT_FALSE(WildcardMatches(u"exact", u"exact2"));
    // "?" is one unit, or nothing once the name is used up.
    EXPECT_FALSE(WildcardMatches(u"?", u"\U0001F600"));
    EXPECT_TRUE(WildcardMatches(u"??", u"\U0001F600"));
    EXPECT_TRUE(WildcardMatches(u"ab??", u"ab"));
    EXPECT_TRUE(WildcardMatches(u"*?", u"ab"));
    EXPECT_FALSE(WildcardMatches(u"a?b", u"a"));
    // A dot is a character like any other: "*." needs a final dot, and only
    // a whole search pattern of "*.*" means every name (find_api.cpp).
    EXPECT_FALSE(WildcardMatches(u"*.", u"abc"));
    EXPECT_TRUE(WildcardMatches(u"*.", u"abc."));
    EXPECT_FALSE(WildcardMatches(u"*.*", u"no_dot"));
    EXPECT_FALSE(WildcardMatches(u"A*.*", u"abc"));
    EXPECT_TRUE(WildcardMatches(u"a*.*", u"ab.c"));
    // Many stars and no match cost neither stack nor exponential time.
    std::u16string stars;
    for (int i = 0; i < 120; ++i) {
        stars += u"*a";
    }
    EXPECT_FALSE(WildcardMatches(stars + u"*b", std::u16string(250, u'a')));
}

TEST_F(Names, ExactNameIsPreferredOverACaseVariant)
{
    WriteFile(InRoot("Report.TXT"), "upper");
    WriteFile(InRoot("report.txt"), "lower");
    EXPECT_TRUE(DeleteFileW(u"\\report.txt"));
    EXPECT_EQ(ReadFile(InRoot("Report.TXT")), "upper");
    EXPECT_FALSE(Exists(InRoot("report.txt")));
    // No exact match left: the variant that equals it ignoring case goes.
    EXPECT_TRUE(DeleteFileW(u"\\REPORT.txt"));
    EXPECT_FALSE(Exists(InRoot("Report.TXT")));
}

TEST_F(Names, EveryComponentMatchesIgnoringCase)
{
    MakeDirs(InRoot("Temp/ServicePackOld"));
    WriteFile(InRoot("Temp/ServicePackOld/\xc3\x89t\xc3\xa9.txt"), "x");
    EXPECT_EQ(GetFileAttributesW(u"\\TEMP\\servicepackold"), DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_TRUE(DeleteFileW(u"/temp/SERVICEPACKOLD/\u00e9T\u00c9.TXT"));
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/\xc3\x89t\xc3\xa9.txt")));
    WriteFile(InRoot("Temp/\xc9\x90x"), ""); // U+0250, shorter in UTF-8 than its upper case
    EXPECT_TRUE(DeleteFileW(u"\\temp\\\u2c6fX"));
    // A new name keeps the spelling it was given, under the matched parent.
    EXPECT_TRUE(CreateDirectoryW(u"\\temp\\New\U0001F600", nullptr));
    EXPECT_TRUE(Exists(InRoot("Temp/New\xf0\x9f\x98\x80")));
}

// Spellings as CE's canonicaliser reads them (coredll cnnclpth.c, apis.c).
TEST_F(Names, PathSpellingsAsThePlatformReadsThem)
{
    MakeDirs(InRoot("D"));
    WriteFile(InRoot("D/f.txt"), "x");
    constexpr DWORD kFile = FILE_ATTRIBUTE_NORMAL;
    EXPECT_EQ(GetFileAttributesW(u"\\\\D\\f.txt"), INVALID_FILE_ATTRIBUTES); // network
    EXPECT_EQ(GetFileAttributesW(u"//D/f.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"\\\\"), INVALID_FILE_ATTRIBUTES); // two slashes alone too
    EXPECT_EQ(GetFileAttributesW(u"\\/D\\f.txt"), kFile);            // unequal slashes: local
    EXPECT_EQ(GetFileAttributesW(u"\\\\\\D\\f.txt"), kFile);         // a third slash: local
    EXPECT_EQ(GetFileAttributesW(u"D\\f.txt"), kFile);               // from the root
    EXPECT_EQ(GetFileAttributesW(u"\\x\\..\\..\\D\\.\\yz\\..\\f.txt"), kFile);
    EXPECT_EQ(GetFileAttributesW(u"\\D\\x\\.."), DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(GetFileAttributesW(u"\\D\\f.txt\\"), kFile); // a final separator is dropped
    EXPECT_EQ(GetFileAttributesW(u"\\D.\\f.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"\\D\\f.txt."), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"\\D\\f.txt "), INVALID_FILE_ATTRIBUTES);
    for (char c : std::string("*?\"<>|")) { // no device name holds these, whatever the disk has
        WriteFile(InRoot(std::string("D/a") + c), "");
        std::u16string path = u"\\D\\a" + std::u16string(1, static_cast<char16_t>(c));
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << c;
    }
    WIN32_FIND_DATAW record;
    EXPECT_EQ(FindFirstFileW(u"\\D\\*. ", &record), INVALID_HANDLE_VALUE); // "*. " as given
    EXPECT_TRUE(DeleteFileW(u"\\D\\f.txt\\"));
    EXPECT_FALSE(Exists(InRoot("D/f.txt")));
}

TEST_F(Names, TrailingDotsSpacesAndDosNamesAreNamesLikeAnyOther)
{
    for (const char *name : {"foo", "foo.", "bar ", "con", "aux.log", "nul.txt", "..."}) {
        WriteFile(InRoot(name), name);
    }
    EXPECT_TRUE(DeleteFileW(u"\\foo."));
    EXPECT_EQ(ReadFile(InRoot("foo")), "foo");
    for (const char16_t *path : {u"\\bar ", u"\\CON", u"\\aux.log", u"\\nul.txt", u"\\..."}) {
        EXPECT_EQ(GetFileAttributesW(path), DWORD{FILE_ATTRIBUTE_NORMAL});
        EXPECT_TRUE(DeleteFileW(path));
    }
    for (const char *gone : {"foo.", "bar ", "con", "aux.log", "nul.txt", "..."}) {
        EXPECT_FALSE(Exists(InRoot(gone))) << gone;
    }
}

TEST_F(Names, LegacyDevicesAndOverlongPathsNameNoFile)
{
    // A root-level name of five characters ending in ':' goes to the device
    // manager (fsdmgr IsLegacyDeviceName); deeper down it is a name.
    MakeDirs(InRoot("Dir"));
    WriteFile(InRoot("COM1:"), "");
    WriteFile(InRoot("Dir/COM1:"), "");
    EXPECT_FALSE(DeleteFileW(u"\\Dir\\..\\COM1:"));
    EXPECT_TRUE(DeleteFileW(u"\\Dir\\COM1:"));
    // At most 259 characters as given, and the canonical "\..." too.
    std::u16string directory(200, u'd');
    std::u16string file(56, u'f');
    MakeDirs(InRoot(std::string(200, 'd')));
    WriteFile(InRoot(std::string(200, 'd') + "/" + std::string(56, 'f')), "");
    std::u16string path = u"\\" + directory + u"\\" + file; // 258
    EXPECT_EQ(GetFileAttributesW((path + u"\\").c_str()), DWORD{FILE_ATTRIBUTE_NORMAL});
    EXPECT_EQ(GetFileAttributesW((path + u"\\\\").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(path.substr(1).c_str()), DWORD{FILE_ATTRIBUTE_NORMAL});
    // Relative, 258 as given is 259 canonical; 259 would be 260 and fails.
    WriteFile(InRoot(std::string(200, 'd') + "/" + std::string(57, 'f')), "");
    WriteFile(InRoot(std::string(200, 'd') + "/" + std::string(58, 'f')), "");
    std::u16string relative = directory + u"\\" + file + u"f";
    EXPECT_EQ(GetFileAttributesW(relative.c_str()), DWORD{FILE_ATTRIBUTE_NORMAL});
    EXPECT_EQ(GetFileAttributesW((relative + u"f").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Names, InvalidUtf8NamesAreNeverConfusedWithOthers)
{
    WriteFile(InRoot("bad\xff"), "bad");
    WriteFile(InRoot("bad\xc3\xbf"), "good"); // "bad\u00ff", what a lax decoder makes of it
    EXPECT_TRUE(DeleteFileW(u"\\BAD\u00ff"));
    EXPECT_EQ(ReadFile(InRoot("bad\xff")), "bad");
    EXPECT_FALSE(DeleteFileW(u"\\bad\u00ff"));
    EXPECT_EQ(ReadFile(InRoot("bad\xff")), "bad");

    // A search skips the name it cannot give back.
    WIN32_FIND_DATAW record;
    EXPECT_EQ(FindFirstFileW(u"\\*.*", &record), INVALID_HANDLE_VALUE);
}

TEST_F(Names, UnpairedSurrogatesAreRefused)
{
    WriteFile(InRoot("a"), "a");
    EXPECT_FALSE(DeleteFileW(u"\\a\xD800"));
    EXPECT_FALSE(CreateDirectoryW(u"\\\xDC00", nullptr));
    EXPECT_EQ(GetFileAttributesW(u"\\\xD800\\a"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Exists(InRoot("a")));
}

} // namespace
