/*
 * case_fold.cpp - the device's case-insensitive comparison of names.
 */
#include "names/case_fold.h"

#include "names/utf16.h"

#include <cstdint>

namespace coredll {

namespace {

/* Every `step`-th unit from `first` to `last` upper-cases to itself + delta. */
struct UpcaseRun {
    char16_t first;
    char16_t last;
    uint16_t step;
    int32_t delta;
};

constexpr UpcaseRun kUpcaseRuns[] = {
#include "names/upcase_table.inc"
};

thread_local size_t units_examined = 0;

bool UnitsEqualIgnoringCase(char16_t a, char16_t b)
{
    ++units_examined;
    return a == b || UpcaseUnit(a) == UpcaseUnit(b);
}

} // namespace

char16_t UpcaseUnit(char16_t unit)
{
    ++units_examined;
    /* ASCII first: the table's only change there is a-z. */
    if (unit < 0x80) {
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
    }
    /* The first run that ends at or after `unit` (runs are sorted). */
    size_t low = 0;
    size_t high = sizeof(kUpcaseRuns) / sizeof(kUpcaseRuns[0]);
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (kUpcaseRuns[mid].last < unit) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    if (low == sizeof(kUpcaseRuns) / sizeof(kUpcaseRuns[0])) {
        return unit;
    }
    const UpcaseRun &run = kUpcaseRuns[low];
    if (unit < run.first || (unit - run.first) % run.step != 0) {
        return unit;
    }
    return static_cast<char16_t>(static_cast<int32_t>(unit) + run.delta);
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
        /* Past the basic plane a character is a surrogate pair, and
         * surrogates have no case: those compare exactly. */
        bool equal =
            a == b || (a <= 0xFFFF && b <= 0xFFFF &&
                       UnitsEqualIgnoringCase(static_cast<char16_t>(a), static_cast<char16_t>(b)));
        if (!equal) {
            return false;
        }
    }
    return disk_pos == disk.size() && name_pos == name.size();
}

bool Utf16EqualsIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (!UnitsEqualIgnoringCase(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

bool WildcardMatches(std::u16string_view pattern, std::u16string_view name)
{
    /* CE's MatchesWildcardMask (coredll apis.c): "*" any run, "?" one unit
     * while the name lasts, others equal ignoring case; once the name is
     * used up, the rest of the pattern must be "*" and "?" only.  Its
     * recursion over a star's every suffix is the greedy scan here: a
     * mismatch resumes one unit past where the last star's match began, so
     * a hostile pattern costs neither stack nor exponential time. */
    constexpr size_t kNone = std::u16string_view::npos;
    size_t p = 0;
    size_t n = 0;
    size_t after_star = kNone;
    size_t retry = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            after_star = ++p;
            retry = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || UnitsEqualIgnoringCase(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (after_star != kNone) {
            p = after_star;
            n = ++retry;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && (pattern[p] == u'*' || pattern[p] == u'?')) {
        ++p;
    }
    return p == pattern.size();
}

size_t NameUnitsExamined()
{
    return units_examined;
}

} // namespace coredll
