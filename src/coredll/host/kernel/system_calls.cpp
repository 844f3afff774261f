/*
 * system_calls.cpp - the kernel's calls, as the layer's table.
 */
#include "kernel/system_calls.h"

#include <cstdio>
#include <fcntl.h>
#include <linux/landlock.h>
#include <linux/openat2.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace coredll {

namespace {

int KernelOpenat(int dir_fd, const char *path, int flags)
{
    return openat(dir_fd, path, flags);
}

int KernelOpenat2(int dir_fd, const char *path, const struct open_how *how, size_t size)
{
    return static_cast<int>(syscall(SYS_openat2, dir_fd, path, how, size));
}

int KernelCloseRange(unsigned first, unsigned last, int flags)
{
    return static_cast<int>(syscall(SYS_close_range, first, last, flags));
}

long KernelGetdents64(int fd, void *buffer, size_t size)
{
    return syscall(SYS_getdents64, fd, buffer, size);
}

int KernelLandlockCreateRuleset(const struct landlock_ruleset_attr *attr, size_t size,
                                uint32_t flags)
{
    return static_cast<int>(syscall(SYS_landlock_create_ruleset, attr, size, flags));
}

int KernelLandlockAddRule(int ruleset_fd, int rule_type, const void *rule, uint32_t flags)
{
    return static_cast<int>(syscall(SYS_landlock_add_rule, ruleset_fd, rule_type, rule, flags));
}

int KernelLandlockRestrictSelf(int ruleset_fd, uint32_t flags)
{
    return static_cast<int>(syscall(SYS_landlock_restrict_self, ruleset_fd, flags));
}

int KernelSetNoNewPrivs()
{
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

/* Constant-initialised, so that a table put in place before main stays. */
constexpr SystemCalls kernel = {
    KernelOpenat,
    KernelOpenat2,
    close,
    KernelCloseRange,
    fstatat,
    unlinkat,
    mkdirat,
    renameat2,
    KernelGetdents64,
    read,
    readlinkat,
    KernelLandlockCreateRuleset,
    KernelLandlockAddRule,
    KernelLandlockRestrictSelf,
    KernelSetNoNewPrivs,
};

SystemCalls in_use = kernel;

} // namespace

const SystemCalls &KernelSystemCalls()
{
    return kernel;
}

const SystemCalls &Sys()
{
    return in_use;
}

SystemCalls &SystemCallsInUse()
{
    return in_use;
}

} // namespace coredll
