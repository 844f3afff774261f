// format_api_test.cpp - wsprintfW's %s, %% and other characters after a %.
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

TEST(FormatApi, OtherCharactersAfterAPercentSignAsCeRuntime)
{
    // CE's C runtime (corelibc output.c): a character its table does not take
    // after '%' is written alone, a final '%' nothing, NULL as "(null)".
    WCHAR out[64];
    EXPECT_EQ(wsprintfW(out, u"%q%\\%s 100%", static_cast<LPCWSTR>(nullptr)), 12);
    EXPECT_EQ(std::u16string(out), u"q\\(null) 100");
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

} // namespace
