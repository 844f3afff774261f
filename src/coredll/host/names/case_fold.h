/* names/ - names as the platform compares them: UTF-16 and its case table. */
/*
 * case_fold.h - the device's case-insensitive comparison of names.
 *
 * Two names are equal ignoring case when they have the same length in UTF-16
 * code units and each pair of units upper-cases to the same unit, by the
 * platform's fixed one-to-one table (Wine's, in upcase_table.inc).  No other
 * folding: no multi-unit mappings, surrogates compared as themselves.
 */
#ifndef COREDLL_HOST_CASE_FOLD_H
#define COREDLL_HOST_CASE_FOLD_H

#include <cstddef>
#include <string_view>

namespace coredll {

/* UpcaseUnit - the upper case of one UTF-16 code unit (itself when none). */
char16_t UpcaseUnit(char16_t unit);

/*
 * Utf8NameEqualsIgnoringCase - whether the on-disk name `disk` (UTF-8) and
 * the device name `name` (UTF-16) are equal ignoring case.  A name that is not
 * valid UTF-8, or a `name` with an unpaired surrogate, equals nothing.
 */
bool Utf8NameEqualsIgnoringCase(std::string_view disk, std::u16string_view name);

/* Utf16EqualsIgnoringCase - whether two UTF-16 strings are equal ignoring case. */
bool Utf16EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

/*
 * WildcardMatches - whether `name` matches the search pattern `pattern`
 * ignoring case, by CE's rule: "*" matches any run of code units, "?" one
 * unit or, at the end of the name, nothing ("a?" matches "a"), "*." only
 * names that end in a dot.
 */
bool WildcardMatches(std::u16string_view pattern, std::u16string_view name);

/*
 * NameUnitsExamined - how many units this thread has upper-cased or compared
 * ignoring case: the work names cost, which no machine's speed or load
 * changes, for tests that judge how that work grows.
 */
size_t NameUnitsExamined();

} // namespace coredll

#endif /* COREDLL_HOST_CASE_FOLD_H */
