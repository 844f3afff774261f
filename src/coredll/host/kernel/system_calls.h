/*
 * system_calls.h - every system call the layer makes, through one table.
 *
 * The layer never calls the kernel directly: it calls Sys().<name>, so that a
 * test can put its own table in place (SetSystemCalls) and make the kernel
 * look like one without Landlock, without /proc or out of descriptors.
 * Each entry has the kernel's signature and error convention (-1 and errno).
 */
#ifndef COREDLL_HOST_SYSTEM_CALLS_H
#define COREDLL_HOST_SYSTEM_CALLS_H

#include <cstddef>
#include <cstdint>
#include <sys/stat.h>
#include <sys/types.h>

struct open_how;
struct landlock_ruleset_attr;

namespace coredll {

struct SystemCalls {
    int (*openat)(int dir_fd, const char *path, int flags);
    int (*openat2)(int dir_fd, const char *path, const struct open_how *how, size_t size);
    int (*close)(int fd);
    int (*close_range)(unsigned first, unsigned last, int flags);
    int (*fstatat)(int dir_fd, const char *path, struct stat *st, int flags);
    int (*unlinkat)(int dir_fd, const char *path, int flags);
    int (*mkdirat)(int dir_fd, const char *path, mode_t mode);
    int (*renameat2)(int from_dir, const char *from, int to_dir, const char *to, unsigned flags);
    long (*getdents64)(int fd, void *buffer, size_t size);
    ssize_t (*read)(int fd, void *buffer, size_t size);
    ssize_t (*readlinkat)(int dir_fd, const char *path, char *out, size_t size);
    int (*landlock_create_ruleset)(const struct landlock_ruleset_attr *attr, size_t size,
                                   uint32_t flags);
    int (*landlock_add_rule)(int ruleset_fd, int rule_type, const void *rule, uint32_t flags);
    int (*landlock_restrict_self)(int ruleset_fd, uint32_t flags);
    int (*set_no_new_privs)();
};

/* The kernel's own calls. */
const SystemCalls &KernelSystemCalls();

/* The table in use: the kernel's unless a test has replaced it
 * (SetSystemCalls, testing/test_support.h). */
const SystemCalls &Sys();

/* SystemCallsInUse - the table Sys() returns, to be replaced. */
SystemCalls &SystemCallsInUse();

} // namespace coredll

#endif /* COREDLL_HOST_SYSTEM_CALLS_H */
