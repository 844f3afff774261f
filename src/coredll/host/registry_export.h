/*
 * registry_export.h - the device registry, read from a registry export file.
 *
 * The host keeps the device's registry as the text file that the registry
 * editor exports ("Windows Registry Editor Version 5.00" or "REGEDIT4").
 * This parser turns such a file into keys and values, with the values' data
 * in the form the platform's RegQueryValueExW hands out.
 */
#ifndef COREDLL_HOST_REGISTRY_EXPORT_H
#define COREDLL_HOST_REGISTRY_EXPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace coredll {

/* One value: its name (u"" for the default value "@"), its REG_* type and
 * its data bytes exactly as RegQueryValueExW returns them (a string's UTF-16LE
 * characters with their NUL terminator, a dword's 4 little-endian bytes). */
struct RegistryValue {
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
};

/* One key: its full path as written between the brackets, for example
 * u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X", and its values in file order. */
struct RegistryKey {
    std::u16string path;
    std::vector<RegistryValue> values;
};

/* The whole export: every key section in file order. */
struct RegistryExport {
    std::vector<RegistryKey> keys;
};

/*
 * ParseRegistryExport - parses the `size` bytes at `bytes` as a registry
 * export file.  The text is UTF-16LE with a byte-order mark, or UTF-8 with or
 * without one.  Its first line must be "Windows Registry Editor Version 5.00"
 * or "REGEDIT4"; without such a header the result is empty.  Deleted keys
 * ("[-key]") and deleted values ("name"=-) are skipped, as is every line that
 * cannot be parsed.  Never throws (an allocation failure gives what was
 * parsed so far) and never reads outside the given bytes.
 */
RegistryExport ParseRegistryExport(const uint8_t *bytes, size_t size);

/*
 * FindRegistryKey - the key of `reg` whose path equals `path` ignoring case
 * (a later section of the same name wins, as its values were imported last),
 * or nullptr when there is none.
 */
const RegistryKey *FindRegistryKey(const RegistryExport &reg, std::u16string_view path);

/*
 * FindRegistryValue - the value of `key` whose name equals `name` ignoring
 * case (u"" is the default value, "@"); the last one wins when a name repeats.
 * nullptr when there is none.
 */
const RegistryValue *FindRegistryValue(const RegistryKey &key, std::u16string_view name);

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_EXPORT_H */
