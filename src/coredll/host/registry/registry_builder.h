/*
 * registry_builder.h - the registry an import builds, key by key.
 *
 * Keys are created with their parents and deleted with their subkeys; values
 * are set and deleted by name.  Names are compared ignoring case, as the
 * registry compares them, through hash tables, so that an import costs time
 * in proportion to its file whatever the number of keys and values.
 */
#ifndef COREDLL_HOST_REGISTRY_BUILDER_H
#define COREDLL_HOST_REGISTRY_BUILDER_H

#include "registry/registry_keys.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace coredll {

class RegistryBuilder {
  public:
    /* CreateKey - the key of path `path` (a RegistryKey path), created with
     * every missing parent; returns its id.  May throw std::bad_alloc. */
    size_t CreateKey(std::u16string_view path);

    /* DeleteTree - deletes the key `path` and its subkeys, if it exists. */
    void DeleteTree(std::u16string_view path);

    /* SetValue - sets `value` in the key `key` (an id CreateKey gave, of a
     * key not deleted since), replacing the data of a value of that name. */
    void SetValue(size_t key, RegistryValue &&value);

    /* DeleteValue - deletes the value `name` of the key `key`, if it exists. */
    void DeleteValue(size_t key, std::u16string_view name);

    /* Finish - the registry built: the keys not deleted, in the order they
     * were created, each with its values in the order they were first set.
     * Leaves the builder empty.  May throw std::bad_alloc. */
    RegistryExport Finish();

  private:
    struct Node {
        RegistryKey key;
        bool alive;
        std::vector<size_t> children;
        std::vector<bool> value_alive;
    };

    /* The hash table key of value `name` in key `key`. */
    static std::u16string ValueId(size_t key, std::u16string_view name);

    std::vector<Node> nodes_;
    std::unordered_map<std::u16string, size_t> keys_;   /* upper-cased path -> node */
    std::unordered_map<std::u16string, size_t> values_; /* ValueId -> position */
};

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_BUILDER_H */
