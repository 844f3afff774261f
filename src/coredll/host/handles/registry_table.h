/*
 * registry_table.h - the fixed table of open registry keys.
 *
 * An open key keeps a copy of its path and values as read when it was
 * opened.  At most kRegistrySlots keys are open at once; an HKEY names a
 * slot (HKEY_LOCAL_MACHINE is never a slot).
 */
#ifndef COREDLL_HOST_REGISTRY_TABLE_H
#define COREDLL_HOST_REGISTRY_TABLE_H

#include "coredll.h"
#include "registry/registry_keys.h"

#include <cstddef>

namespace coredll {

constexpr size_t kRegistrySlots = 16;

/*
 * OpenRegistrySlot - stores `key` in a free slot and returns the HKEY that
 * names it, or nullptr when every slot is in use.
 */
HKEY OpenRegistrySlot(RegistryKey &&key);

/* RegistryKeyOfHandle - the open key that `handle` names, or nullptr. */
const RegistryKey *RegistryKeyOfHandle(HKEY handle);

/* CloseRegistrySlot - frees the slot `handle` names; false when none. */
bool CloseRegistrySlot(HKEY handle);

/* CloseAllRegistryKeys - frees every slot. */
void CloseAllRegistryKeys();

} // namespace coredll

#endif /* COREDLL_HOST_REGISTRY_TABLE_H */
