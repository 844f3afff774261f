// format_api_test.cpp - wsprintfW's %s and %%.
#include "coredll.h"
#include "api/format_api.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatApi, InsertsStringsAndPercentSigns)
{
    WCHAR out[64];
    EXPECT_EQ(wsprintfW(out, u"%s\\*.*", u"\\Temp\\Old"), 13);
    EXPECT_EQ(std::u16string(out), u"\\Temp\\Old\\*.*");
    EXPECT_EQ(wsprintfW(out, u"%s\\%s", u"\\D", u"\U0001F600.txt"), 9);
    EXPECT_EQ(std::u16string(out), u"\\D\\\U0001F600.txt");
    EXPECT_EQ(wsprintfW(out, u"100%% %s", u""), 5);
    EXPECT_EQ(std::u16string(out), u"100% ");
}

TEST(FormatApi, UnknownConversionsAreCopiedAsWritten)
{
    WCHAR out[64];
    EXPECT_EQ(wsprintfW(out, u"%d %x %s %", u"s"), 9);
    EXPECT_EQ(std::u16string(out), u"%d %x s %");
    EXPECT_EQ(wsprintfW(out, u""), 0);
    EXPECT_EQ(out[0], 0);
}

TEST(FormatApi, WritesAtMost1023CharactersAndTheNul)
{
    // CE 6.0 and later: _vsnwprintf bounded by MAX_W32_LEN (coredll wsprintf.c).
    std::u16string long_text(2000, u'x');
    std::u16string out(2048, u'#');
    EXPECT_EQ(wsprintfW(out.data(), u"%s!", long_text.c_str()), 1023);
    EXPECT_EQ(out.substr(1020, 5), std::u16string(u"xxx\0#", 5));
}

TEST(FormatApi, ArgumentArrayCountsOnlyStringConversions)
{
    // The count decides how many arguments an emulator reads from its stack.
    EXPECT_EQ(coredll::FormatArgumentCount(u"%s\\%s %% %d %%s %"), 2U);
    WCHAR out[64];
    const LPCWSTR args[] = {u"\\D"};
    EXPECT_EQ(FormatWide(out, u"%s\\%s", args, 1), 9);
    EXPECT_EQ(std::u16string(out), u"\\D\\(null)");
}

} // namespace
