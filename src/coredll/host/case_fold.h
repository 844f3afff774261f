/*
 * case_fold.h - the device's case-insensitive comparison of names.
 *
 * Characters are compared after simple case folding (the C.UTF-8 locale's
 * lower case of the upper case; ASCII and Latin-1 when that locale is
 * missing).  Names are compared code point by code point.
 */
#ifndef COREDLL_HOST_CASE_FOLD_H
#define COREDLL_HOST_CASE_FOLD_H

#include <string_view>

namespace coredll {

/* FoldCase - the case-folded form of the code point `cp`. */
char32_t FoldCase(char32_t cp);

/*
 * Utf8NameEqualsIgnoringCase - whether the on-disk name `disk` (UTF-8) and
 * the device name `name` (UTF-16) are equal ignoring case.  A name that is not
 * valid UTF-8, or a `name` with an unpaired surrogate, equals nothing.
 */
bool Utf8NameEqualsIgnoringCase(std::string_view disk, std::u16string_view name);

/*
 * Utf16EqualsIgnoringCase - whether two UTF-16 strings are equal ignoring
 * case.  Unpaired surrogates compare as themselves.
 */
bool Utf16EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

/*
 * WildcardMatches - whether `name` matches the search pattern `pattern`
 * ignoring case: "*" matches any run of characters, "?" any one character,
 * and "*.*" matches every name, with or without a dot, as on the device.
 */
bool WildcardMatches(std::u16string_view pattern, std::u16string_view name);

} // namespace coredll

#endif /* COREDLL_HOST_CASE_FOLD_H */
