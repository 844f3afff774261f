/*
 * registry_keys.h - the device registry's keys and values, as an import
 * builds them and an open key holds them.
 */
#ifndef COREDLL_HOST_REGISTRY_KEYS_H
#define COREDLL_HOST_REGISTRY_KEYS_H

#include <cstddef>
#include <cstdint>
#include <string>
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

/* The parent of a key that has none. */
constexpr size_t kNoParent = SIZE_MAX;

/* One key: its name, its parent's index in RegistryExport::keys, and its
 * values in the order they were first set.  A key without a parent is named
 * by its full path: a root key by its long name (u"HKEY_LOCAL_MACHINE"), an
 * open key, copied out of the registry on its own, by the path it was opened
 * by (u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\X", one backslash between names). */
struct RegistryKey {
    std::u16string name;
    size_t parent;
    std::vector<RegistryValue> values;
};

/* The registry after the import: every key it created, the parents of a key
 * line's key included, root keys too, in the order they were created, so
 * that a key's parent always comes before it. */
struct RegistryExport {
    std::vector<RegistryKey> keys;
};

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_KEYS_H */
