/*
 * registry_number.cpp - numbers in a registry export, read as the import
 * reads them.
 */
#include "registry/registry_number.h"

namespace coredll {

namespace {

/* The zero of each run of ten decimal digits that wcstoul reads besides
 * ASCII (Arabic-Indic, Devanagari, ..., full-width). */
constexpr char16_t kDigitZeros[] = {0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6,
                                    0x0B66, 0x0C66, 0x0CE6, 0x0D66, 0x0E50, 0x0ED0,
                                    0x0F20, 0x1040, 0x17E0, 0x1810, 0xFF10};

/* The value of `c` as a digit of base 16, or -1. */
int DigitValue(char16_t c)
{
    int value = -1;
    if (c >= u'0' && c <= u'9') {
        value = c - u'0';
    } else if (c >= u'A' && c <= u'Z') {
        value = c - u'A' + 10;
    } else if (c >= u'a' && c <= u'z') {
        value = c - u'a' + 10;
    } else {
        for (char16_t zero : kDigitZeros) {
            if (c >= zero && c <= zero + 9) {
                value = c - zero;
            }
        }
    }
    return value < 16 ? value : -1;
}

} // namespace

bool IsRuntimeSpace(char16_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool IsRuntimeHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f') ||
           (c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF26) ||
           (c >= 0xFF41 && c <= 0xFF46);
}

uint32_t ReadHexNumber(std::u16string_view text, size_t &used, bool &overflowed)
{
    size_t pos = 0;
    while (pos < text.size() && IsRuntimeSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'-' || text[pos] == u'+')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    if (pos + 1 < text.size() && DigitValue(text[pos]) == 0 &&
        (text[pos + 1] == u'x' || text[pos + 1] == u'X')) {
        pos += 2;
    }
    uint64_t magnitude = 0;
    size_t digits_start = pos;
    for (; pos < text.size() && DigitValue(text[pos]) >= 0; ++pos) {
        if (magnitude <= UINT32_MAX) { /* beyond that, only "too large" matters */
            magnitude = magnitude * 16 + static_cast<unsigned>(DigitValue(text[pos]));
        }
    }
    if (pos == digits_start) {
        used = 0;
        return 0;
    }
    used = pos;
    if (magnitude > UINT32_MAX) {
        overflowed = true;
        return negative ? 1 : UINT32_MAX;
    }
    return negative ? static_cast<uint32_t>(0 - magnitude) : static_cast<uint32_t>(magnitude);
}

} // namespace coredll
