/*
 * registry_builder.cpp - the registry an import builds, key by key.
 *
 * Every key and value is found through one hash table entry made of the id
 * of the key it lies in and its upper-cased name, so no key ever costs more
 * than its own name, however deep it lies.  A deleted key loses its entry and is
 * marked; its subkeys, which nothing can reach any more, are left out when
 * the registry is finished.
 */
#include "registry/registry_builder.h"

#include "names/case_fold.h"

#include <algorithm>
#include <cstring>

namespace coredll {

std::u16string RegistryBuilder::NameId(size_t key, std::u16string_view name)
{
    /* The key's id as it lies in memory, then the name upper-cased. */
    constexpr size_t kKeyUnits = sizeof key / sizeof(char16_t);
    std::u16string id(kKeyUnits + name.size(), u'\0');
    std::memcpy(id.data(), &key, sizeof key);
    std::transform(name.begin(), name.end(), id.begin() + kKeyUnits, UpcaseUnit);
    return id;
}

size_t RegistryBuilder::CreateKey(size_t parent, std::u16string_view name)
{
    std::u16string id = NameId(parent, name);
    auto found = keys_.find(id);
    if (found != keys_.end()) {
        return found->second;
    }
    nodes_.push_back(Node{RegistryKey{std::u16string(name), parent, {}}, false, {}});
    keys_.emplace(std::move(id), nodes_.size() - 1);
    return nodes_.size() - 1;
}

size_t RegistryBuilder::FindKey(size_t parent, std::u16string_view name) const
{
    auto found = keys_.find(NameId(parent, name));
    return found == keys_.end() ? kNoParent : found->second;
}

void RegistryBuilder::DeleteTree(size_t key)
{
    Node &node = nodes_[key];
    node.deleted = true;
    keys_.erase(NameId(node.key.parent, node.key.name));
}

void RegistryBuilder::SetValue(size_t key, RegistryValue &&value)
{
    Node &node = nodes_[key];
    std::u16string id = NameId(key, value.name);
    auto found = values_.find(id);
    if (found != values_.end()) {
        RegistryValue &existing = node.key.values[found->second];
        existing.type = value.type;
        existing.data = std::move(value.data);
        node.value_deleted[found->second] = false;
        return;
    }
    /* The mark first: values beyond the marks are never looked at. */
    node.value_deleted.push_back(false);
    node.key.values.push_back(std::move(value));
    values_.emplace(std::move(id), node.key.values.size() - 1);
}

void RegistryBuilder::DeleteValue(size_t key, std::u16string_view name)
{
    auto found = values_.find(NameId(key, name));
    if (found != values_.end()) {
        nodes_[key].value_deleted[found->second] = true;
    }
}

RegistryExport RegistryBuilder::Finish()
{
    keys_ = {};
    values_ = {};
    std::vector<size_t> kept_as(nodes_.size(), kNoParent); /* a node's index in reg */
    size_t kept_keys = 0;
    for (size_t i = 0; i < nodes_.size(); ++i) {
        size_t parent = nodes_[i].key.parent;
        if (!nodes_[i].deleted && (parent == kNoParent || kept_as[parent] != kNoParent)) {
            kept_as[i] = kept_keys++;
        }
    }
    RegistryExport reg;
    reg.keys.reserve(kept_keys);
    for (size_t i = 0; i < nodes_.size(); ++i) {
        Node &node = nodes_[i];
        if (kept_as[i] == kNoParent) {
            continue;
        }
        std::vector<RegistryValue> &values = node.key.values;
        size_t kept = 0;
        for (size_t v = 0; v < values.size(); ++v) {
            if (!node.value_deleted[v] && kept++ != v) {
                values[kept - 1] = std::move(values[v]);
            }
        }
        values.resize(kept);
        size_t parent = node.key.parent;
        node.key.parent = parent == kNoParent ? kNoParent : kept_as[parent];
        reg.keys.push_back(std::move(node.key));
    }
    nodes_ = {};
    return reg;
}

} // namespace coredll
