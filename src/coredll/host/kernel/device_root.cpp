/*
 * device_root.cpp - the device root and the kernel's confinement to it.
 */
#include "kernel/device_root.h"

#include "kernel/closing.h"
#include "kernel/system_calls.h"
#include "trace/trace.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <unistd.h>

namespace coredll {

namespace {

int root_fd = -2; /* -2: not opened yet; -1: could not be opened. */
bool changes_confined = false;
char root_path[PATH_MAX];

/* openat2(dir_fd, path, flags | O_CLOEXEC) resolved as `resolve` says: tried
 * again on EINTR, on EAGAIN (a concurrent rename can cause it) and, out of
 * descriptors, once those waiting for their batch are closed. */
int OpenRetrying(int dir_fd, const char *path, int flags, uint64_t resolve)
{
    struct open_how how = {};
    how.flags = static_cast<uint64_t>(flags) | O_CLOEXEC;
    how.resolve = resolve;
    int fd = Sys().openat2(dir_fd, path, &how, sizeof(how));
    for (int attempt = 1; fd < 0 && attempt < 8; ++attempt) {
        bool out_of_descriptors = errno == EMFILE || errno == ENFILE;
        if (out_of_descriptors && !CloseBatch()) {
            NoteFailure("out of file descriptors");
            break;
        }
        if (!out_of_descriptors && errno != EAGAIN && errno != EINTR) {
            break;
        }
        fd = Sys().openat2(dir_fd, path, &how, sizeof(how));
    }
    return fd;
}

int OpenCurrentDirectory()
{
    if (getcwd(root_path, sizeof(root_path)) == nullptr) {
        root_path[0] = '\0';
    }
    return OpenInRoot(AT_FDCWD, "", O_PATH | O_DIRECTORY);
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool StatOfFd(int fd, struct stat &st)
{
    return Sys().fstatat(fd, "", &st, AT_EMPTY_PATH) == 0;
}

} // namespace

int DeviceRootFd()
{
    if (root_fd == -2) {
        root_fd = OpenCurrentDirectory();
    }
    return root_fd;
}

const char *DeviceRootPath()
{
    return DeviceRootFd() >= 0 && root_path[0] == '/' ? root_path : nullptr;
}

bool OpenDeviceRoot()
{
    Sys().close(root_fd); /* EBADF when there is none (-2, -1) */
    root_fd = OpenCurrentDirectory();
    return root_fd >= 0;
}

int OpenInRoot(int root, const char *relative, int flags)
{
    return OpenRetrying(root, relative[0] == '\0' ? "." : relative, flags,
                        RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS);
}

bool DirectoryLiesInsideRoot(int dir_fd)
{
    /* "..", "../..", ... stated from dir_fd itself, so no fd is needed; a
     * path longer than the kernel takes (PATH_MAX) counts as outside. */
    char up[PATH_MAX];
    struct stat root = {};
    struct stat current = {};
    struct stat parent = {};
    if (!StatOfFd(DeviceRootFd(), root) || !StatOfFd(dir_fd, current)) {
        return false;
    }
    for (size_t length = 0; !SameFile(current, root);) {
        const char *step = length == 0 ? ".." : "/..";
        size_t step_length = std::strlen(step);
        if (length + step_length >= sizeof(up)) {
            errno = 0;
            return false;
        }
        std::memcpy(up + length, step, step_length + 1);
        length += step_length;
        if (Sys().fstatat(dir_fd, up, &parent, 0) != 0) {
            return false; /* Cannot be told; errno says why. */
        }
        if (SameFile(parent, current)) {
            errno = 0;
            return false; /* "/" reached (its ".." is itself): outside. */
        }
        current = parent;
    }
    return true;
}

#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14) /* Landlock ABI 3 (Linux 6.2). */
#endif

namespace {

/* Every change to the file system that Landlock ABI `abi` (2 or later) can
 * refuse. */
uint64_t ChangeAccessesOf(int abi)
{
    uint64_t accesses = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                        LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                        LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                        LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                        LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM |
                        LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) {
        accesses |= LANDLOCK_ACCESS_FS_TRUNCATE;
    }
    return accesses;
}

} // namespace

void ConfineChangesToRoot()
{
    int root = DeviceRootFd();
    int abi = Sys().landlock_create_ruleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (root < 0 || abi < 2) {
        return;
    }
    struct landlock_ruleset_attr ruleset = {};
    ruleset.handled_access_fs = ChangeAccessesOf(abi);
    /* A ruleset that could not be made (-1) fails the rule (EBADF). */
    int ruleset_fd = Sys().landlock_create_ruleset(&ruleset, sizeof(ruleset), 0);
    /* Everything beneath the root stays allowed; everything else is refused. */
    struct landlock_path_beneath_attr beneath_root = {};
    beneath_root.allowed_access = ruleset.handled_access_fs;
    beneath_root.parent_fd = root;
    bool confined =
        Sys().landlock_add_rule(ruleset_fd, LANDLOCK_RULE_PATH_BENEATH, &beneath_root, 0) == 0 &&
        Sys().set_no_new_privs() == 0 && Sys().landlock_restrict_self(ruleset_fd, 0) == 0;
    Sys().close(ruleset_fd);
    changes_confined = confined;
}

bool ChangesConfinedToRoot()
{
    return changes_confined;
}

} // namespace coredll
