/*
 * registry_table.cpp - the fixed table of open registry keys.
 */
#include "registry_table.h"

#include <cstdint>
#include <utility>

namespace coredll {

namespace {

struct RegistrySlot {
    bool used = false;
    RegistryKey key;
};

RegistrySlot slots[kRegistrySlots];

/* Handles are small numbers, clear of NULL and the predefined keys. */
constexpr uintptr_t kHandleBase = 0x4E60;

RegistrySlot *SlotOfHandle(HKEY handle)
{
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value < kHandleBase || value >= kHandleBase + kRegistrySlots) {
        return nullptr;
    }
    RegistrySlot *slot = &slots[value - kHandleBase];
    return slot->used ? slot : nullptr;
}

} // namespace

HKEY OpenRegistrySlot(RegistryKey &&key)
{
    for (size_t i = 0; i < kRegistrySlots; ++i) {
        if (!slots[i].used) {
            slots[i].used = true;
            slots[i].key = std::move(key);
            return reinterpret_cast<HKEY>(kHandleBase + i);
        }
    }
    return nullptr;
}

const RegistryKey *RegistryKeyOfHandle(HKEY handle)
{
    RegistrySlot *slot = SlotOfHandle(handle);
    return slot == nullptr ? nullptr : &slot->key;
}

bool CloseRegistrySlot(HKEY handle)
{
    RegistrySlot *slot = SlotOfHandle(handle);
    if (slot == nullptr) {
        return false;
    }
    slot->used = false;
    slot->key = RegistryKey{};
    return true;
}

void CloseAllRegistryKeys()
{
    for (RegistrySlot &slot : slots) {
        slot.used = false;
        slot.key = RegistryKey{};
    }
}

} // namespace coredll
