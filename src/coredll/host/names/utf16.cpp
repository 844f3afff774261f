/*
 * utf16.cpp - conversion between the device's UTF-16 names and UTF-8 on disk.
 */
#include "names/utf16.h"

namespace coredll {

namespace {

bool IsHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

/* Writes the UTF-8 form of `cp` (a valid scalar value) to `out`; returns its
 * byte count (1 to 4). */
size_t EncodeUtf8(char32_t cp, char out[4])
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

} // namespace

bool DecodeUtf16(std::u16string_view text, size_t &pos, char32_t &cp)
{
    if (pos >= text.size()) {
        return false;
    }
    char32_t unit = text[pos];
    if (IsLowSurrogate(unit)) {
        return false;
    }
    if (!IsHighSurrogate(unit)) {
        cp = unit;
        pos += 1;
        return true;
    }
    if (pos + 1 >= text.size() || !IsLowSurrogate(text[pos + 1])) {
        return false;
    }
    cp = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(text[pos + 1]) - 0xDC00);
    pos += 2;
    return true;
}

bool DecodeUtf8(std::string_view text, size_t &pos, char32_t &cp)
{
    if (pos >= text.size()) {
        return false;
    }
    auto lead = static_cast<unsigned char>(text[pos]);
    size_t count = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        cp = lead;
        pos += 1;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        count = 1, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        count = 2, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        count = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (text.size() - pos <= count) {
        return false;
    }
    for (size_t i = 1; i <= count; ++i) {
        auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return false;
    }
    cp = value;
    pos += count + 1;
    return true;
}

bool Utf16ToUtf8(std::u16string_view text, char *out, size_t capacity, size_t &length)
{
    size_t pos = 0;
    size_t used = 0;
    if (capacity == 0) {
        return false;
    }
    out[0] = '\0';
    while (pos < text.size()) {
        /* ASCII, as nearly every name is, is copied as it stands. */
        if (text[pos] != 0 && text[pos] < 0x80 && used + 2 <= capacity) {
            out[used++] = static_cast<char>(text[pos++]);
            continue;
        }
        char32_t cp = 0;
        char bytes[4];
        if (!DecodeUtf16(text, pos, cp) || cp == 0) {
            out[0] = '\0';
            return false;
        }
        size_t n = EncodeUtf8(cp, bytes);
        if (used + n + 1 > capacity) {
            out[0] = '\0';
            return false;
        }
        for (size_t i = 0; i < n; ++i) {
            out[used++] = bytes[i];
        }
    }
    out[used] = '\0';
    length = used;
    return true;
}

size_t EncodeUtf16(char32_t cp, char16_t out[2])
{
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    out[0] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    return 2;
}

void AppendUtf8AsUtf16(std::string_view text, std::u16string &out)
{
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp = 0xFFFD;
        if (!DecodeUtf8(text, pos, cp)) {
            cp = 0xFFFD;
            pos += 1;
        }
        char16_t units[2];
        out.append(units, EncodeUtf16(cp, units));
    }
}

bool Utf8ToUtf16(std::string_view text, char16_t *out, size_t capacity, size_t &length)
{
    size_t pos = 0;
    size_t used = 0;
    if (capacity == 0) {
        return false;
    }
    out[0] = 0;
    while (pos < text.size()) {
        auto byte = static_cast<unsigned char>(text[pos]);
        if (byte != 0 && byte < 0x80 && used + 2 <= capacity) {
            out[used++] = byte;
            ++pos;
            continue;
        }
        char32_t cp = 0;
        if (!DecodeUtf8(text, pos, cp) || cp == 0) {
            out[0] = 0;
            return false;
        }
        char16_t units[2];
        size_t n = EncodeUtf16(cp, units);
        if (used + n + 1 > capacity) {
            out[0] = 0;
            return false;
        }
        for (size_t i = 0; i < n; ++i) {
            out[used++] = units[i];
        }
    }
    out[used] = 0;
    length = used;
    return true;
}

} // namespace coredll
