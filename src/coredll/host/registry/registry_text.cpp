/*
 * registry_text.cpp - the characters of a registry export file.
 */
#include "registry/registry_text.h"

#include "names/utf16.h"

#include <string_view>

namespace coredll {

namespace {

/* Windows-1252 bytes 80 to 9F; the rest are their own code points. */
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

/* Decodes UTF-8; false at the first invalid sequence. */
bool AppendStrictUtf8(std::string_view bytes, std::u16string &out)
{
    size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t cp = 0;
        if (!DecodeUtf8(bytes, pos, cp)) {
            return false;
        }
        char16_t units[2];
        out.append(units, EncodeUtf16(cp, units));
    }
    return true;
}

/* Whether the first line of `bytes`, after blanks, is exactly "REGEDIT4". */
bool IsVersion4Header(std::string_view bytes)
{
    std::string_view line = bytes.substr(0, bytes.find_first_of("\r\n"));
    size_t start = line.find_first_not_of(" \t");
    return start != std::string_view::npos && line.substr(start) == "REGEDIT4";
}

} // namespace

void AppendWindows1252(const uint8_t *bytes, size_t size, std::u16string &out)
{
    out.reserve(out.size() + size);
    for (size_t i = 0; i < size; ++i) {
        uint8_t byte = bytes[i];
        out.push_back(byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
    }
}

ExportText DecodeExportText(const uint8_t *bytes, size_t size)
{
    ExportText result{ExportEncoding::Utf8, {}};
    std::u16string &text = result.text;
    std::string_view raw(reinterpret_cast<const char *>(bytes), size);
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        result.encoding = ExportEncoding::Utf16;
        text.reserve(size / 2);
        for (size_t i = 2; i + 1 < size; i += 2) {
            text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
    } else if (raw.substr(0, 3) == "\xEF\xBB\xBF") {
        AppendUtf8AsUtf16(raw.substr(3), text);
    } else if (IsVersion4Header(raw) || !AppendStrictUtf8(raw, text)) {
        result.encoding = ExportEncoding::Ansi;
        text.clear();
        AppendWindows1252(bytes, size, text);
    }
    size_t nul = text.find(u'\0');
    if (nul != std::u16string::npos) {
        text.resize(nul);
    }
    return result;
}

} // namespace coredll
