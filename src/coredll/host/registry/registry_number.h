/*
 * registry_number.h - numbers in a registry export, read as the import reads
 * them.
 *
 * The import reads "dword:" data, hex bytes and the type of "hex(t):" with
 * the C runtime's wcstoul (base 16) and its iswspace/iswxdigit, which know
 * more than ASCII: Unicode spaces, the full-width hex digits and the decimal
 * digits of several scripts.
 */
#ifndef COREDLL_HOST_REGISTRY_NUMBER_H
#define COREDLL_HOST_REGISTRY_NUMBER_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace coredll {

/* IsRuntimeSpace - iswspace: the characters with the Unicode White_Space
 * property except U+180E (the line breaks included). */
bool IsRuntimeSpace(char16_t c);

/* IsRuntimeHexDigit - iswxdigit: 0-9, A-F, a-f and their full-width forms. */
bool IsRuntimeHexDigit(char16_t c);

/*
 * ReadHexNumber - wcstoul(text, &end, 16) on a 32-bit unsigned long: skips
 * spaces, takes a sign and a "0x" prefix, then every digit it knows.
 * Returns the value and sets `used` to the characters read (0 when no digit
 * was read, the value then being 0).  Out of range, the value is 0xFFFFFFFF
 * (or 1 for a negative number) and `overflowed` is set, as errno would be;
 * it is never cleared here.
 */
uint32_t ReadHexNumber(std::u16string_view text, size_t &used, bool &overflowed);

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_NUMBER_H */
