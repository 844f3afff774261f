/*
 * registry_export.h - the device registry, read from a registry export file.
 *
 * The host keeps the device's registry as the text file that the registry
 * editor exports ("Windows Registry Editor Version 5.00" or "REGEDIT4").
 * The file is imported into an empty registry as the registry editor imports
 * it, giving keys and values with the values' data in the form the
 * platform's RegQueryValueExW hands out.
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

/* One key: its full path from the root key's long name, one backslash between
 * names, for example u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X", and its
 * values in the order they were first set. */
struct RegistryKey {
    std::u16string path;
    std::vector<RegistryValue> values;
};

/* The registry after the import: every key it created, the parents of a
 * key line's key included, root keys too, in the order they were created. */
struct RegistryExport {
    std::vector<RegistryKey> keys;
};

/*
 * ParseRegistryExport - imports the `size` bytes at `bytes` as a registry
 * export file (registry_text.h says how its bytes are read).  Its first line
 * must be "Windows Registry Editor Version 5.00", or "REGEDIT4" in UTF-16 or
 * Windows-1252; otherwise the result is empty.  "[-key]" deletes a key the
 * file created earlier, with its subkeys; "name"=- deletes a value.  A line
 * that cannot be read is skipped.  Never throws (an allocation failure gives
 * what was imported so far) and never reads outside the given bytes.
 */
RegistryExport ParseRegistryExport(const uint8_t *bytes, size_t size);

/*
 * FindRegistryKey - the key of `reg` whose path equals `path` (a path as
 * RegistryKey holds it) ignoring case, or nullptr when there is none.
 */
const RegistryKey *FindRegistryKey(const RegistryExport &reg, std::u16string_view path);

/*
 * FindRegistryValue - the value of `key` whose name equals `name` ignoring
 * case (u"" is the default value, "@"), or nullptr when there is none.
 */
const RegistryValue *FindRegistryValue(const RegistryKey &key, std::u16string_view name);

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_EXPORT_H */
