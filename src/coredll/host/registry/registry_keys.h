/*
 * registry_keys.h - the device registry's keys and values, as an import
 * builds them and an open key holds them.
 */
#ifndef COREDLL_HOST_REGISTRY_KEYS_H
#define COREDLL_HOST_REGISTRY_KEYS_H

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

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_KEYS_H */
