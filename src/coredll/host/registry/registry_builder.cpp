/*
 * registry_builder.cpp - the registry an import builds, key by key.
 */
#include "registry/registry_builder.h"

#include "names/case_fold.h"

namespace coredll {

namespace {

std::u16string Upcased(std::u16string_view text)
{
    std::u16string out(text);
    for (char16_t &unit : out) {
        unit = UpcaseUnit(unit);
    }
    return out;
}

} // namespace

std::u16string RegistryBuilder::ValueId(size_t key, std::u16string_view name)
{
    std::u16string id;
    id.reserve(4 + name.size());
    for (int shift = 0; shift < 64; shift += 16) {
        id.push_back(static_cast<char16_t>(static_cast<uint64_t>(key) >> shift));
    }
    return id + Upcased(name);
}

size_t RegistryBuilder::CreateKey(std::u16string_view path)
{
    std::u16string upper = Upcased(path);
    auto found = keys_.find(upper);
    if (found != keys_.end()) {
        return found->second;
    }
    size_t parent = SIZE_MAX;
    for (size_t end = upper.find(u'\\');; end = upper.find(u'\\', end + 1)) {
        std::u16string prefix = upper.substr(0, end);
        auto existing = keys_.find(prefix);
        size_t node = 0;
        if (existing != keys_.end()) {
            node = existing->second;
        } else {
            node = nodes_.size();
            nodes_.push_back(
                Node{RegistryKey{std::u16string(path.substr(0, end)), {}}, true, {}, {}});
            keys_.emplace(std::move(prefix), node);
            if (parent != SIZE_MAX) {
                nodes_[parent].children.push_back(node);
            }
        }
        if (end == std::u16string::npos) {
            return node;
        }
        parent = node;
    }
}

void RegistryBuilder::DeleteTree(std::u16string_view path)
{
    auto found = keys_.find(Upcased(path));
    if (found == keys_.end()) {
        return;
    }
    std::vector<size_t> pending{found->second};
    while (!pending.empty()) {
        Node &node = nodes_[pending.back()];
        pending.pop_back();
        if (!node.alive) {
            continue; /* deleted before, and created anew as another node */
        }
        node.alive = false;
        keys_.erase(Upcased(node.key.path));
        pending.insert(pending.end(), node.children.begin(), node.children.end());
    }
}

void RegistryBuilder::SetValue(size_t key, RegistryValue &&value)
{
    Node &node = nodes_[key];
    std::u16string id = ValueId(key, value.name);
    auto found = values_.find(id);
    if (found != values_.end()) {
        RegistryValue &existing = node.key.values[found->second];
        existing.type = value.type;
        existing.data = std::move(value.data);
        node.value_alive[found->second] = true;
        return;
    }
    /* In this order: out of memory, Finish may meet a flag without its
     * value, never a value without its flag. */
    node.value_alive.push_back(true);
    node.key.values.push_back(std::move(value));
    values_.emplace(std::move(id), node.key.values.size() - 1);
}

void RegistryBuilder::DeleteValue(size_t key, std::u16string_view name)
{
    auto found = values_.find(ValueId(key, name));
    if (found != values_.end()) {
        nodes_[key].value_alive[found->second] = false;
    }
}

RegistryExport RegistryBuilder::Finish()
{
    RegistryExport reg;
    for (Node &node : nodes_) {
        if (!node.alive) {
            continue;
        }
        std::vector<RegistryValue> &values = node.key.values;
        size_t kept = 0;
        for (size_t i = 0; i < values.size(); ++i) {
            if (node.value_alive[i] && kept++ != i) {
                values[kept - 1] = std::move(values[i]);
            }
        }
        values.resize(kept);
        reg.keys.push_back(std::move(node.key));
    }
    nodes_.clear();
    keys_.clear();
    values_.clear();
    return reg;
}

} // namespace coredll
