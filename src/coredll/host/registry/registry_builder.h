/*
 * registry_builder.h - the registry an import builds, key by key.
 *
 * A key is created under its parent, one level at a time, and deleted with
 * its subkeys; values are set and deleted by name.  A key is found under its
 * parent, and a value in its key, by name ignoring case, as the registry
 * compares names, through hash tables: an import costs time and memory in
 * proportion to its file whatever the shape of the tree.
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
    /* CreateKey - the subkey `name` of the key `parent` (an id this builder
     * gave, of a key not deleted since, or kNoParent for a root key), created
     * when missing; returns its id.  May throw std::bad_alloc. */
    size_t CreateKey(size_t parent, std::u16string_view name);

    /* FindKey - the id of the subkey `name` of `parent`, or kNoParent. */
    size_t FindKey(size_t parent, std::u16string_view name) const;

    /* DeleteTree - deletes the key `key` (an id FindKey gave) and its subkeys. */
    void DeleteTree(size_t key);

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
        bool deleted;
        std::vector<bool> value_deleted;
    };

    /* The hash table key of the name `name` in the key `key`. */
    static std::u16string NameId(size_t key, std::u16string_view name);

    std::vector<Node> nodes_;
    std::unordered_map<std::u16string, size_t> keys_;   /* parent's NameId -> node */
    std::unordered_map<std::u16string, size_t> values_; /* key's NameId -> position */
};

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_BUILDER_H */
