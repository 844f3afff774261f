/* registry/ - the device registry, imported from its export file. */
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

#include "registry/registry_keys.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace coredll {

/*
 * ParseRegistryExport - imports the `size` bytes at `bytes` as a registry
 * export file (registry_text.h says how its bytes are read).  Its first line
 * must be "Windows Registry Editor Version 5.00", or "REGEDIT4" in UTF-16 or
 * Windows-1252; otherwise the result is empty.  "[-key]" deletes a key the
 * file created earlier, with its subkeys; "name"=- deletes a value.  A line
 * that cannot be read is skipped.  The registry's limits hold: a key or value
 * name of at most 255 characters, at most 16 levels of subkeys.  Time and
 * memory grow in proportion to `size`.  Never throws (an allocation failure
 * gives what was imported so far) and never reads outside the given bytes.
 */
RegistryExport ParseRegistryExport(const uint8_t *bytes, size_t size);

/*
 * FindRegistryKey - the key of `reg` whose path, its names from the root
 * key's long name down joined by single backslashes, equals `path` ignoring
 * case; nullptr when there is none.
 */
const RegistryKey *FindRegistryKey(const RegistryExport &reg, std::u16string_view path);

/*
 * FindRegistryValue - the value of `key` whose name equals `name` ignoring
 * case (u"" is the default value, "@"), or nullptr when there is none.
 */
const RegistryValue *FindRegistryValue(const RegistryKey &key, std::u16string_view name);

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_EXPORT_H */
