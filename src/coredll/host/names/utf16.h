/*
 * utf16.h - conversion between the device's UTF-16 names and UTF-8 on disk.
 *
 * Both directions are strict: an unpaired surrogate in UTF-16, or an
 * overlong, truncated, surrogate or out-of-range sequence in UTF-8, makes the
 * conversion fail, so that a name is never silently changed into another.
 */
#ifndef COREDLL_HOST_UTF16_H
#define COREDLL_HOST_UTF16_H

#include <cstddef>
#include <string>
#include <string_view>

namespace coredll {

/*
 * DecodeUtf16 - reads one code point from `text` at `pos` into `cp` and
 * advances `pos`.  Returns false (pos unchanged) at an unpaired surrogate.
 */
bool DecodeUtf16(std::u16string_view text, size_t &pos, char32_t &cp);

/*
 * DecodeUtf8 - reads one code point from `text` at `pos` into `cp` and
 * advances `pos`.  Returns false (pos unchanged) at an invalid sequence.
 */
bool DecodeUtf8(std::string_view text, size_t &pos, char32_t &cp);

/*
 * EncodeUtf16 - writes `cp` (a scalar value) as one or two UTF-16 units to
 * `out`; returns how many.
 */
size_t EncodeUtf16(char32_t cp, char16_t out[2]);

/*
 * AppendUtf8AsUtf16 - appends `text` converted to UTF-16 to `out`, every
 * invalid UTF-8 byte as U+FFFD.  May throw std::bad_alloc.
 */
void AppendUtf8AsUtf16(std::string_view text, std::u16string &out);

/*
 * Utf16ToUtf8 - converts `text` into `out` (capacity `capacity` bytes) with a
 * terminating NUL, and stores the length without the NUL in `length`.
 * Returns false when `text` holds an unpaired surrogate or a NUL, or when the
 * result does not fit; `out` then holds an empty string (if capacity > 0).
 */
bool Utf16ToUtf8(std::u16string_view text, char *out, size_t capacity, size_t &length);

/*
 * Utf8ToUtf16 - converts `text` into `out` (capacity `capacity` characters)
 * with a terminating NUL and stores the length without the NUL in `length`.
 * Returns false when `text` is not valid UTF-8, holds a NUL, or does not fit.
 */
bool Utf8ToUtf16(std::string_view text, char16_t *out, size_t capacity, size_t &length);

} // namespace coredll

#endif /* COREDLL_HOST_UTF16_H */
