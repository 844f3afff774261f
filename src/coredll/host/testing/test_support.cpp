/*
 * test_support.cpp - what a test changes in the layer.
 */
#include "testing/test_support.h"

#include "handles/find_table.h"
#include "handles/registry_table.h"
#include "kernel/device_root.h"

namespace coredll {

bool ReopenDeviceRoot()
{
    CloseAllSearches();
    CloseAllRegistryKeys();
    return OpenDeviceRoot();
}

void SetSystemCalls(const SystemCalls &calls)
{
    SystemCallsInUse() = calls;
}

} // namespace coredll
