/*
 * registry_export.cpp - the device registry, read from a registry export file.
 *
 * The bytes are decoded to UTF-16 first (a UTF-16LE file by its byte-order
 * mark, otherwise UTF-8 with invalid sequences as U+FFFD), then read line by
 * line.  Every rule that a line breaks makes the parser skip that line only.
 */
#include "registry_export.h"

#include "case_fold.h"
#include "utf16.h"

#include <new>

namespace coredll {

namespace {

using Text = std::u16string_view;

/* Decodes the file's bytes to UTF-16. */
std::u16string DecodeText(const uint8_t *bytes, size_t size)
{
    std::u16string text;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        text.reserve(size / 2);
        for (size_t i = 2; i + 1 < size; i += 2) {
            text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
        return text;
    }
    size_t pos = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    std::string_view utf8(reinterpret_cast<const char *>(bytes), size);
    text.reserve(size);
    while (pos < utf8.size()) {
        char32_t cp = 0;
        if (!DecodeUtf8(utf8, pos, cp)) {
            cp = 0xFFFD;
            pos += 1;
        }
        if (cp >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(cp));
        }
    }
    return text;
}

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

Text TrimBlanks(Text text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

/* Reads the next physical line of `text` from `pos` (without its line
 * break: \r\n, \n or \r); false at the end. */
bool NextLine(Text text, size_t &pos, Text &line)
{
    if (pos >= text.size()) {
        return false;
    }
    size_t end = pos;
    while (end < text.size() && text[end] != u'\n' && text[end] != u'\r') {
        ++end;
    }
    line = text.substr(pos, end - pos);
    pos = end;
    if (pos < text.size() && text[pos] == u'\r') {
        ++pos;
    }
    if (pos < text.size() && text[pos] == u'\n') {
        ++pos;
    }
    return true;
}

/* Whether `text` starts with `prefix`, ASCII letters ignoring case. */
bool StartsWithIgnoringCase(Text text, Text prefix)
{
    return text.size() >= prefix.size() &&
           Utf16EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

/* Parses 1 to 8 hex digits as the whole of `text`. */
bool ParseHexNumber(Text text, uint32_t &value)
{
    if (text.empty() || text.size() > 8) {
        return false;
    }
    value = 0;
    for (char16_t c : text) {
        int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

/* Drops a "; comment" from the end of a value that holds no strings. */
Text StripComment(Text text)
{
    size_t semicolon = text.find(u';');
    return TrimBlanks(semicolon == Text::npos ? text : text.substr(0, semicolon));
}

/* Parses a quoted string starting at text[pos] == '"' with the escapes \\
 * and \" (any other backslash stays as written); leaves pos after the closing
 * quote.  False when the string is not closed. */
bool ParseQuoted(Text text, size_t &pos, std::u16string &out)
{
    out.clear();
    for (size_t i = pos + 1; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'"') {
            pos = i + 1;
            return true;
        }
        if (c == u'\\' && i + 1 < text.size() && (text[i + 1] == u'\\' || text[i + 1] == u'"')) {
            out.push_back(text[++i]);
        } else {
            out.push_back(c);
        }
    }
    return false;
}

/* Parses comma-separated hex bytes ("01,02, ff"), reading continuation lines
 * (a trailing backslash) from `text` at `pos`.  False on a malformed byte. */
bool ParseHexBytes(Text list, Text text, size_t &pos, std::vector<uint8_t> &out)
{
    for (;;) {
        list = StripComment(list);
        bool continues = !list.empty() && list.back() == u'\\';
        if (continues) {
            list.remove_suffix(1);
        }
        size_t start = 0;
        while (start < list.size()) {
            size_t comma = list.find(u',', start);
            Text item =
                TrimBlanks(list.substr(start, comma == Text::npos ? Text::npos : comma - start));
            uint32_t value = 0;
            bool last_item = comma == Text::npos;
            if (item.empty() && last_item && (continues || start > 0)) {
                break; /* A trailing comma before the line's end. */
            }
            if (item.size() > 2 || !ParseHexNumber(item, value)) {
                return false;
            }
            out.push_back(static_cast<uint8_t>(value));
            if (last_item) {
                break;
            }
            start = comma + 1;
        }
        if (!continues) {
            return true;
        }
        Text next;
        if (!NextLine(text, pos, next)) {
            return true;
        }
        list = next;
    }
}

/* Parses the data after "=" into `value`; false when the value is a deletion
 * or malformed.  May read continuation lines. */
bool ParseData(Text data, Text text, size_t &pos, RegistryValue &value)
{
    data = TrimBlanks(data);
    if (!data.empty() && data.front() == u'"') {
        std::u16string content;
        size_t end = 0;
        if (!ParseQuoted(data, end, content) || !StripComment(data.substr(end)).empty()) {
            return false;
        }
        value.type = 1; /* REG_SZ */
        for (char16_t c : content) {
            value.data.push_back(static_cast<uint8_t>(c & 0xFF));
            value.data.push_back(static_cast<uint8_t>(c >> 8));
        }
        value.data.push_back(0);
        value.data.push_back(0);
        return true;
    }
    if (StartsWithIgnoringCase(data, u"dword:")) {
        uint32_t number = 0;
        if (!ParseHexNumber(StripComment(data.substr(6)), number)) {
            return false;
        }
        value.type = 4; /* REG_DWORD */
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<uint8_t>(number >> shift));
        }
        return true;
    }
    if (StartsWithIgnoringCase(data, u"hex:")) {
        value.type = 3; /* REG_BINARY */
        return ParseHexBytes(data.substr(4), text, pos, value.data);
    }
    if (StartsWithIgnoringCase(data, u"hex(")) {
        size_t close = data.find(u"):");
        if (close == Text::npos || !ParseHexNumber(data.substr(4, close - 4), value.type)) {
            return false;
        }
        return ParseHexBytes(data.substr(close + 2), text, pos, value.data);
    }
    return false;
}

/* Parses one value line into `value`; false when it is to be skipped. */
bool ParseValueLine(Text line, Text text, size_t &pos, RegistryValue &value)
{
    size_t after_name = 0;
    if (line.front() == u'@') {
        value.name.clear();
        after_name = 1;
    } else if (!ParseQuoted(line, after_name, value.name)) {
        return false;
    }
    Text rest = TrimBlanks(line.substr(after_name));
    if (rest.empty() || rest.front() != u'=') {
        return false;
    }
    return ParseData(rest.substr(1), text, pos, value);
}

/* Sets `value` in `key`, replacing a value of the same name. */
void SetValue(RegistryKey &key, RegistryValue &&value)
{
    for (RegistryValue &existing : key.values) {
        if (Utf16EqualsIgnoringCase(existing.name, value.name)) {
            existing = std::move(value);
            return;
        }
    }
    key.values.push_back(std::move(value));
}

/* The key named `path`, added when missing. */
RegistryKey &KeyFor(RegistryExport &reg, Text path)
{
    for (RegistryKey &key : reg.keys) {
        if (Utf16EqualsIgnoringCase(key.path, path)) {
            return key;
        }
    }
    reg.keys.push_back(RegistryKey{std::u16string(path), {}});
    return reg.keys.back();
}

void ParseInto(RegistryExport &reg, const uint8_t *bytes, size_t size)
{
    std::u16string decoded = DecodeText(bytes, size);
    Text text(decoded);
    size_t pos = 0;
    Text line;
    if (!NextLine(text, pos, line)) {
        return;
    }
    line = TrimBlanks(line);
    if (line != u"Windows Registry Editor Version 5.00" && line != u"REGEDIT4") {
        return;
    }
    RegistryKey *current = nullptr;
    while (NextLine(text, pos, line)) {
        line = TrimBlanks(line);
        if (line.empty() || line.front() == u';') {
            continue;
        }
        if (line.front() == u'[') {
            current = nullptr;
            if (line.back() == u']' && line.size() > 2 && line[1] != u'-') {
                current = &KeyFor(reg, line.substr(1, line.size() - 2));
            }
            continue;
        }
        if (line.front() != u'"' && line.front() != u'@') {
            continue;
        }
        RegistryValue value{u"", 0, {}};
        if (ParseValueLine(line, text, pos, value) && current != nullptr) {
            SetValue(*current, std::move(value));
        }
    }
}

} // namespace

RegistryExport ParseRegistryExport(const uint8_t *bytes, size_t size)
{
    RegistryExport reg;
    if (bytes == nullptr) {
        return reg;
    }
    try {
        ParseInto(reg, bytes, size);
    } catch (const std::bad_alloc &) {
        /* What was parsed so far stands. */
    }
    return reg;
}

const RegistryKey *FindRegistryKey(const RegistryExport &reg, std::u16string_view path)
{
    for (const RegistryKey &key : reg.keys) {
        if (Utf16EqualsIgnoringCase(key.path, path)) {
            return &key;
        }
    }
    return nullptr;
}

const RegistryValue *FindRegistryValue(const RegistryKey &key, std::u16string_view name)
{
    for (const RegistryValue &value : key.values) {
        if (Utf16EqualsIgnoringCase(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

} // namespace coredll
