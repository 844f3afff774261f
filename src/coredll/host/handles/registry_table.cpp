/*
 * registry_table.cpp - the fixed table of open registry keys.
 */
#include "handles/registry_table.h"

#include "handles/slot_table.h"

#include <utility>

namespace coredll {

namespace {

SlotTable<RegistryKey, kRegistrySlots, 0x4E60> keys;

void Release(RegistryKey &key)
{
    key = RegistryKey{};
}

} // namespace

HKEY OpenRegistrySlot(RegistryKey &&key)
{
    RegistryKey *slot = keys.Open();
    if (slot == nullptr) {
        return nullptr;
    }
    *slot = std::move(key);
    return static_cast<HKEY>(keys.HandleOf(slot));
}

const RegistryKey *RegistryKeyOfHandle(HKEY handle)
{
    return keys.Find(handle);
}

bool CloseRegistrySlot(HKEY handle)
{
    RegistryKey *key = keys.Find(handle);
    if (key == nullptr) {
        return false;
    }
    Release(*key);
    keys.Close(key);
    return true;
}

void CloseAllRegistryKeys()
{
    keys.CloseAll(Release);
}

} // namespace coredll
