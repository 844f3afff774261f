/*
 * device_root.cpp - the device root and the kernel's confinement to it.
 */
#include "device_root.h"

#include "directory_cache.h"
#include "find_table.h"
#include "registry_table.h"

#include <cerrno>
#include <cstdint>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace coredll {

namespace {

int root_fd = -2; /* -2: not opened yet; -1: could not be opened. */

int OpenCurrentDirectory()
{
    return open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

} // namespace

int DeviceRootFd()
{
    if (root_fd == -2) {
        root_fd = OpenCurrentDirectory();
    }
    return root_fd;
}

bool ReopenDeviceRoot()
{
    CloseAllSearches();
    CloseAllRegistryKeys();
    ForgetCachedDirectory();
    if (root_fd >= 0) {
        close(root_fd);
    }
    root_fd = OpenCurrentDirectory();
    return root_fd >= 0;
}

int OpenInRoot(int root, const char *relative, int flags)
{
    struct open_how how = {};
    how.flags = static_cast<unsigned long long>(flags) | O_CLOEXEC;
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    if (root < 0) {
        errno = EBADF;
        return -1;
    }
    if (relative[0] == '\0') {
        relative = ".";
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        long fd = syscall(SYS_openat2, root, relative, &how, sizeof(how));
        if (fd >= 0) {
            return static_cast<int>(fd);
        }
        if (errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    return -1;
}

namespace {

int proc_fd_dir = -2; /* /proc/self/fd: -2 not opened yet, -1 unavailable. */

/* A forked child has its own fd table: its /proc/self/fd is another. */
void ForgetProcFdDirectory()
{
    if (proc_fd_dir >= 0) {
        close(proc_fd_dir);
    }
    proc_fd_dir = -2;
}

/* This process's /proc/self/fd directory, kept open so that each FdPath is
 * a single lookup; -1 when procfs is unavailable. */
int ProcFdDirectory()
{
    if (proc_fd_dir == -2) {
        static const bool registered = pthread_atfork(nullptr, nullptr, ForgetProcFdDirectory) == 0;
        (void)registered;
        proc_fd_dir = open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    return proc_fd_dir;
}

} // namespace

bool FdPath(int fd, char *out, size_t capacity)
{
    char name[16];
    std::snprintf(name, sizeof(name), "%d", fd);
    ssize_t length = readlinkat(ProcFdDirectory(), name, out, capacity);
    if (fd < 0 || length <= 0 || static_cast<size_t>(length) >= capacity || out[0] != '/') {
        return false;
    }
    out[length] = '\0';
    return true;
}

bool PathLiesUnder(const char *root, const char *path)
{
    size_t root_length = std::strlen(root);
    if (root_length == 1) {
        return path[0] == '/'; /* The root is "/". */
    }
    return std::strncmp(path, root, root_length) == 0 &&
           (path[root_length] == '\0' || path[root_length] == '/');
}

bool FdStillInsideRoot(int fd)
{
    char root[PATH_MAX];
    char path[PATH_MAX];
    return FdPath(DeviceRootFd(), root, sizeof(root)) && FdPath(fd, path, sizeof(path)) &&
           PathLiesUnder(root, path);
}

#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14) /* Landlock ABI 3 (Linux 6.2). */
#endif

namespace {

bool changes_confined = false;

/* Every change to the file system that Landlock ABI `abi` can refuse. */
uint64_t ChangeAccessesOf(long abi)
{
    uint64_t accesses = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                        LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                        LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                        LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                        LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2) {
        accesses |= LANDLOCK_ACCESS_FS_REFER;
    }
    if (abi >= 3) {
        accesses |= LANDLOCK_ACCESS_FS_TRUNCATE;
    }
    return accesses;
}

} // namespace

bool ConfineChangesToRoot()
{
    int root = DeviceRootFd();
    long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (root < 0 || abi < 1) {
        return false;
    }
    struct landlock_ruleset_attr ruleset = {};
    ruleset.handled_access_fs = ChangeAccessesOf(abi);
    long ruleset_fd = syscall(SYS_landlock_create_ruleset, &ruleset, sizeof(ruleset), 0);
    if (ruleset_fd < 0) {
        return false;
    }
    /* Everything beneath the root stays allowed; everything else is refused. */
    struct landlock_path_beneath_attr beneath_root = {};
    beneath_root.allowed_access = ruleset.handled_access_fs;
    beneath_root.parent_fd = root;
    bool confined = syscall(SYS_landlock_add_rule, ruleset_fd, LANDLOCK_RULE_PATH_BENEATH,
                            &beneath_root, 0) == 0 &&
                    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                    syscall(SYS_landlock_restrict_self, ruleset_fd, 0) == 0;
    close(static_cast<int>(ruleset_fd));
    changes_confined = confined;
    return confined;
}

bool ChangesConfinedToRoot()
{
    return changes_confined;
}

} // namespace coredll
