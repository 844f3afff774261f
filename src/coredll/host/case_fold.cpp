/*
 * case_fold.cpp - the device's case-insensitive comparison of names.
 */
#include "case_fold.h"

#include "utf16.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

namespace coredll {

namespace {

/* The locale whose case tables fold characters; (locale_t)0 when missing. */
locale_t FoldingLocale()
{
    static locale_t const locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

/* Reads one code point of a UTF-16 string, an unpaired surrogate as itself. */
char32_t NextUtf16(std::u16string_view text, size_t &pos)
{
    char32_t cp = 0;
    if (!DecodeUtf16(text, pos, cp)) {
        cp = text[pos];
        pos += 1;
    }
    return cp;
}

/* The pattern match proper: "*" any run, "?" any one character, others
 * equal ignoring case.  Greedy with one remembered star: linear in practice
 * and without recursion, so a hostile pattern cannot exhaust the stack. */
bool MatchesGreedily(std::u16string_view pattern, std::u16string_view name)
{
    size_t p = 0;
    size_t n = 0;
    size_t star = std::u16string_view::npos;
    size_t star_name = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            star_name = n;
            continue;
        }
        if (p < pattern.size()) {
            size_t p_next = p;
            size_t n_next = n;
            char32_t pc = NextUtf16(pattern, p_next);
            char32_t nc = NextUtf16(name, n_next);
            if (pc == u'?' || pc == nc || FoldCase(pc) == FoldCase(nc)) {
                p = p_next;
                n = n_next;
                continue;
            }
        }
        if (star == std::u16string_view::npos) {
            return false;
        }
        p = star + 1;
        NextUtf16(name, star_name);
        n = star_name;
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace

char32_t FoldCase(char32_t cp)
{
    locale_t locale = FoldingLocale();
    if (locale != static_cast<locale_t>(0)) {
        auto upper = towupper_l(static_cast<wint_t>(cp), locale);
        return static_cast<char32_t>(towlower_l(upper, locale));
    }
    bool ascii_upper = cp >= 'A' && cp <= 'Z';
    bool latin1_upper = cp >= 0xC0 && cp <= 0xDE && cp != 0xD7;
    return (ascii_upper || latin1_upper) ? cp + 0x20 : cp;
}

bool Utf8NameEqualsIgnoringCase(std::string_view disk, std::u16string_view name)
{
    size_t disk_pos = 0;
    size_t name_pos = 0;
    while (disk_pos < disk.size() && name_pos < name.size()) {
        char32_t a = 0;
        char32_t b = 0;
        if (!DecodeUtf8(disk, disk_pos, a) || !DecodeUtf16(name, name_pos, b)) {
            return false;
        }
        if (a != b && FoldCase(a) != FoldCase(b)) {
            return false;
        }
    }
    return disk_pos == disk.size() && name_pos == name.size();
}

bool Utf16EqualsIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    size_t a_pos = 0;
    size_t b_pos = 0;
    while (a_pos < a.size() && b_pos < b.size()) {
        char32_t x = NextUtf16(a, a_pos);
        char32_t y = NextUtf16(b, b_pos);
        if (x != y && FoldCase(x) != FoldCase(y)) {
            return false;
        }
    }
    return a_pos == a.size() && b_pos == b.size();
}

bool WildcardMatches(std::u16string_view pattern, std::u16string_view name)
{
    if (pattern == u"*" || pattern == u"*.*") {
        return true;
    }
    /* As on the device, a final ".*" also matches a name without a dot:
     * "a*.*" matches "abc". */
    if (pattern.size() > 2 && pattern.substr(pattern.size() - 2) == u".*" &&
        MatchesGreedily(pattern.substr(0, pattern.size() - 2), name)) {
        return true;
    }
    return MatchesGreedily(pattern, name);
}
} // namespace coredll
