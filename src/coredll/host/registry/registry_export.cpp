/*
 * registry_export.cpp - the device registry, read from a registry export file.
 *
 * The file is imported as the registry editor's import does it (Wine's
 * programs/reg is the reference), into a registry that starts empty: line by
 * line, a key line opening (and creating) the key that later values go to.
 * A line the import cannot read is skipped alone; a malformed key line keeps
 * the key that was open.
 */
#include "registry/registry_export.h"

#include "names/case_fold.h"
#include "registry/registry_builder.h"
#include "registry/registry_number.h"
#include "registry/registry_text.h"

#include <new>
#include <optional>

namespace coredll {

namespace {

using Text = std::u16string_view;

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

Text SkipBlanks(Text text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

/* Whether the rest of a line is empty or a comment. */
bool EndsLine(Text rest)
{
    rest = SkipBlanks(rest);
    return rest.empty() || rest.front() == u';';
}

/* The long name of a root key named `name` (HKLM or HKEY_LOCAL_MACHINE and so
 * on, ignoring ASCII case), or an empty view. */
Text RootKeyName(Text name)
{
    static const Text kRoots[][2] = {
        {u"HKLM", u"HKEY_LOCAL_MACHINE"},  {u"HKCU", u"HKEY_CURRENT_USER"},
        {u"HKCR", u"HKEY_CLASSES_ROOT"},   {u"HKU", u"HKEY_USERS"},
        {u"HKCC", u"HKEY_CURRENT_CONFIG"},
    };
    for (const auto &root : kRoots) {
        for (Text spelling : root) {
            if (name.size() == spelling.size() && Utf16EqualsIgnoringCase(name, spelling)) {
                return root[1];
            }
        }
    }
    return {};
}

/* The registry's limits, from CE's reference pages (RegCreateKeyEx,
 * RegSetValueEx, and the registry's table of size limits; CE's registry code
 * is not in its published source): a key or value name of at most 255
 * characters, and at most 16 levels of subkeys below a root key. */
constexpr size_t kNameLimit = 255;
constexpr size_t kDepthLimit = 16;

/* The long name of the root key of a key line's `name`, leaving in `subkeys`
 * the path after it; empty when the root is unknown or that path starts with
 * a backslash (the registry refuses such a name). */
Text SplitRootKey(Text name, Text &subkeys)
{
    size_t separator = name.find(u'\\');
    subkeys = separator == Text::npos ? Text() : name.substr(separator + 1);
    if (!subkeys.empty() && subkeys.front() == u'\\') {
        return {};
    }
    return RootKeyName(name.substr(0, separator));
}

/* The first name of the subkey path `subkeys`, taken off it; empty at its
 * end.  Empty names (a run of backslashes, a final one) are skipped. */
Text NextKeyName(Text &subkeys)
{
    while (!subkeys.empty()) {
        size_t end = subkeys.find(u'\\');
        Text name = subkeys.substr(0, end);
        subkeys = end == Text::npos ? Text() : subkeys.substr(end + 1);
        if (!name.empty()) {
            return name;
        }
    }
    return {};
}

/* Reads a quoted string whose opening quote is already read, with the
 * escapes \n, \r, \\ and \" (a backslash before any other character stands
 * for that character; \0 is refused).  Leaves `text` after the closing quote;
 * false when the string is not closed or holds \0. */
bool ReadQuoted(Text &text, std::u16string &out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c == u'\\') {
            if (++i == text.size() || text[i] == u'0') {
                return false;
            }
            c = text[i] == u'n' ? u'\n' : text[i] == u'r' ? u'\r' : text[i];
        }
        out.push_back(c);
    }
    return false;
}

/* The "dword:" data: up to 8 hex digits between blanks, then the line's end
 * or a comment ("dword:;" is 0, as the import reads it). */
bool ReadDword(Text text, uint32_t &value)
{
    text = SkipBlanks(text);
    size_t digits = 0;
    while (digits < text.size() && IsRuntimeHexDigit(text[digits])) {
        ++digits;
    }
    if (text.empty() || digits > 8 || !EndsLine(text.substr(digits))) {
        return false;
    }
    size_t used = 0;
    bool overflowed = false;
    value = ReadHexNumber(text.substr(0, digits), used, overflowed);
    return true;
}

/* Appends `text` to `out` as UTF-16LE bytes. */
void AppendUtf16Bytes(Text text, std::vector<uint8_t> &out)
{
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
}

/* Reads an export and applies it to `reg`. */
class Importer {
  public:
    Importer(RegistryBuilder &registry, const ExportText &file)
        : registry_(registry), text_(file.text), ansi_(file.encoding == ExportEncoding::Ansi)
    {
    }

    void Run(bool utf8)
    {
        Text line;
        if (!NextLine(line)) {
            return;
        }
        line = SkipBlanks(line);
        bool version4 = line == u"REGEDIT4";
        if ((!version4 || utf8) && line != u"Windows Registry Editor Version 5.00") {
            return;
        }
        while (!stopped_ && NextLine(line)) {
            line = SkipBlanks(line);
            if (line.empty()) {
                continue;
            }
            char16_t first = line.front();
            line.remove_prefix(1);
            if (first == u'[') {
                KeyLine(line);
            } else if (first == u'@') {
                ValueLine(u"", line);
            } else if (first == u'"') {
                std::u16string name;
                if (ReadQuoted(line, name)) {
                    ValueLine(name, line);
                }
            }
        }
    }

  private:
    /* The next line, without its break (\r\n, \n or \r); false at the end. */
    bool NextLine(Text &line)
    {
        if (pos_ >= text_.size()) {
            return false;
        }
        size_t end = text_.find_first_of(u"\r\n", pos_);
        end = end == Text::npos ? text_.size() : end;
        line = text_.substr(pos_, end - pos_);
        pos_ = end;
        if (pos_ < text_.size()) {
            bool carriage_return = text_[pos_++] == u'\r';
            if (carriage_return && pos_ < text_.size() && text_[pos_] == u'\n') {
                ++pos_;
            }
        }
        return true;
    }

    /* "[key]" opens the key; "[-key]" deletes it with its subkeys.  The text
     * after the last "]" is ignored.  A line without "]", or with a blank
     * after "[", changes nothing. */
    void KeyLine(Text line)
    {
        size_t close = line.rfind(u']');
        if (close == Text::npos || (!line.empty() && IsBlank(line.front()))) {
            return;
        }
        Text name = line.substr(0, close);
        current_.reset();
        if (!name.empty() && name.front() == u'-') {
            DeleteKey(name.substr(1));
        } else {
            OpenKey(name);
        }
    }

    /* Creates the key `name` one level at a time, as the import's
     * RegCreateKeyEx does (Wine's kernelbase create_key), and opens it.  A
     * level the registry refuses, its name too long or the level too deep,
     * ends the line: the levels above it stay, and no key is open. */
    void OpenKey(Text name)
    {
        Text subkeys;
        Text root = SplitRootKey(name, subkeys);
        if (root.empty()) {
            return;
        }
        size_t key = registry_.CreateKey(kNoParent, root);
        for (size_t depth = 1;; ++depth) {
            Text subkey = NextKeyName(subkeys);
            if (subkey.empty()) {
                current_ = key;
                return;
            }
            if (depth > kDepthLimit || subkey.size() > kNameLimit) {
                return;
            }
            key = registry_.CreateKey(key, subkey);
        }
    }

    /* Deletes the key `name` with its subkeys, when it exists and is not a
     * root key. */
    void DeleteKey(Text name)
    {
        Text subkeys;
        Text root = SplitRootKey(name, subkeys);
        Text subkey = NextKeyName(subkeys);
        if (root.empty() || subkey.empty()) {
            return;
        }
        size_t key = registry_.FindKey(kNoParent, root);
        for (; key != kNoParent && !subkey.empty(); subkey = NextKeyName(subkeys)) {
            key = registry_.FindKey(key, subkey);
        }
        if (key != kNoParent) {
            registry_.DeleteTree(key);
        }
    }

    /* `rest` follows the value's name: "= data" or "=-" (a deletion). */
    void ValueLine(Text name, Text rest)
    {
        rest = SkipBlanks(rest);
        if (rest.empty() || rest.front() != u'=') {
            return;
        }
        rest = SkipBlanks(rest.substr(1));
        while (!rest.empty() && IsBlank(rest.back())) {
            rest.remove_suffix(1);
        }
        if (!rest.empty() && rest.front() == u'-') {
            if (EndsLine(rest.substr(1))) {
                DeleteValue(name);
            }
            return;
        }
        RegistryValue value{std::u16string(name), 0, {}};
        if (ReadData(rest, value) && name.size() <= kNameLimit) {
            SetValue(std::move(value));
        }
    }

    /* Reads the data after "=", with its continuation lines; false when the
     * value is not to be set. */
    bool ReadData(Text data, RegistryValue &value)
    {
        if (!data.empty() && data.front() == u'"') {
            data.remove_prefix(1);
            std::u16string content;
            if (!ReadQuoted(data, content) || !EndsLine(data)) {
                return false;
            }
            value.type = kRegSz;
            AppendUtf16Bytes(content, value.data);
            AppendUtf16Bytes(Text(u"\0", 1), value.data);
            return true;
        }
        if (data.substr(0, 6) == u"dword:") {
            uint32_t number = 0;
            if (!ReadDword(data.substr(6), number)) {
                return false;
            }
            value.type = kRegDword;
            for (int shift = 0; shift < 32; shift += 8) {
                value.data.push_back(static_cast<uint8_t>(number >> shift));
            }
            return true;
        }
        if (data.substr(0, 4) == u"hex:") {
            value.type = kRegBinary;
            data.remove_prefix(4);
        } else if (data.substr(0, 4) == u"hex(") {
            data.remove_prefix(4);
            if (!ReadHexType(data, value.type)) {
                return false;
            }
        } else {
            return false;
        }
        if (data.empty()) {
            return true;
        }
        return ReadHexBytes(data, value.data) && FinishHexString(value);
    }

    /* The "t):" of "hex(t):"; leaves `data` after the colon. */
    bool ReadHexType(Text &data, uint32_t &type)
    {
        if (data.empty() || (data.size() > 1 && (data[1] == u'x' || data[1] == u'X'))) {
            return false;
        }
        size_t used = 0;
        type = ReadHexNumber(data, used, overflowed_);
        if (data.substr(used, 2) != u"):" || (type == UINT32_MAX && overflowed_)) {
            return false;
        }
        data.remove_prefix(used + 2);
        return true;
    }

    /* Comma-separated bytes; a backslash after a comma continues them on the
     * next line that is neither blank nor a comment. */
    bool ReadHexBytes(Text list, std::vector<uint8_t> &out)
    {
        for (;;) {
            bool continues = false;
            if (!ReadHexLine(list, out, continues)) {
                return false;
            }
            if (!continues) {
                return true;
            }
            if (!EndsLine(list)) {
                return false;
            }
            do {
                if (!NextLine(list)) {
                    return true;
                }
                list = SkipBlanks(list);
            } while (list.empty() || list.front() == u';');
            if (!IsRuntimeHexDigit(list.front())) {
                return false;
            }
        }
    }

    /* The bytes of one line; a backslash leaves `list` after it. */
    bool ReadHexLine(Text &list, std::vector<uint8_t> &out, bool &continues)
    {
        while (!list.empty()) {
            size_t used = 0;
            uint32_t byte = ReadHexNumber(list, used, overflowed_);
            if (byte > 0xFF) {
                return false;
            }
            if (used == 0) {
                list = SkipBlanks(list);
                if (!list.empty() && list.front() == u'\\') {
                    list.remove_prefix(1);
                    continues = true;
                    return true;
                }
                return !list.empty() && list.front() == u';';
            }
            out.push_back(static_cast<uint8_t>(byte));
            list.remove_prefix(used);
            if (!list.empty() && list.front() != u',') {
                return EndsLine(list);
            }
            if (!list.empty()) {
                list.remove_prefix(1);
            }
        }
        return true;
    }

    /* String types given as hex: a UTF-16 file's data gets a terminating
     * NUL character when its last one is not; an ANSI file's data gets a NUL
     * byte and is widened to UTF-16.  With no byte at all (or one, in a
     * UTF-16 file) Wine's import fails at this value and stops. */
    bool FinishHexString(RegistryValue &value)
    {
        if (value.type != kRegSz && value.type != kRegExpandSz && value.type != kRegMultiSz) {
            return true;
        }
        std::vector<uint8_t> &data = value.data;
        if (data.empty() || (!ansi_ && data.size() == 1)) {
            stopped_ = true;
            return false;
        }
        if (ansi_) {
            if (data.back() != 0) {
                data.push_back(0);
            }
            std::u16string wide;
            AppendWindows1252(data.data(), data.size(), wide);
            data.clear();
            AppendUtf16Bytes(wide, data);
            return true;
        }
        size_t last = data.size() / 2 * 2 - 2;
        if (data[last] != 0 || data[last + 1] != 0) {
            size_t size = data.size() + 2;
            data.resize(last + 2);
            data.resize(size, 0);
        }
        return true;
    }

    void SetValue(RegistryValue &&value)
    {
        if (current_) {
            registry_.SetValue(*current_, std::move(value));
        }
    }

    void DeleteValue(Text name)
    {
        if (current_) {
            registry_.DeleteValue(*current_, name);
        }
    }

    RegistryBuilder &registry_;
    Text text_;
    bool ansi_;
    size_t pos_ = 0;
    std::optional<size_t> current_;
    bool overflowed_ = false; /* errno's ERANGE, which the import never clears */
    bool stopped_ = false;
};

} // namespace

RegistryExport ParseRegistryExport(const uint8_t *bytes, size_t size)
{
    RegistryBuilder registry;
    try {
        if (bytes != nullptr) {
            ExportText file = DecodeExportText(bytes, size);
            Importer(registry, file).Run(file.encoding == ExportEncoding::Utf8);
        }
    } catch (const std::bad_alloc &) {
        /* What was imported so far stands. */
    }
    try {
        return registry.Finish();
    } catch (const std::bad_alloc &) {
        return RegistryExport{};
    }
}

const RegistryKey *FindRegistryKey(const RegistryExport &reg, std::u16string_view path)
{
    /* One pass: a key's subkeys all come after it. */
    size_t parent = kNoParent;
    size_t end = path.find(u'\\');
    for (size_t i = 0; i < reg.keys.size(); ++i) {
        const RegistryKey &key = reg.keys[i];
        if (key.parent != parent || !Utf16EqualsIgnoringCase(key.name, path.substr(0, end))) {
            continue;
        }
        if (end == std::u16string_view::npos) {
            return &key;
        }
        parent = i;
        path.remove_prefix(end + 1);
        end = path.find(u'\\');
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
