#pragma once
// A kernel that offers Landlock ABI `abi` (0: none) when asked its version,
// and otherwise lets the real kernel answer.

#include "kernel/system_calls.h"

#include <cerrno>
#include <cstdint>
#include <linux/landlock.h>

inline int LandlockRulesetAtAbi(int abi, const struct landlock_ruleset_attr *attr, size_t size,
                                uint32_t flags)
{
    if (abi == 0) {
        errno = ENOSYS;
        return -1;
    }
    if (flags == LANDLOCK_CREATE_RULESET_VERSION) {
        return abi;
    }
    return coredll::KernelSystemCalls().landlock_create_ruleset(attr, size, flags);
}
