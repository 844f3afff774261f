/*
 * device_root.cpp - the device root and the kernel's confinement to it.
 */
#include "device_root.h"

#include "directory_cache.h"
#include "find_table.h"
#include "registry_table.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <pthread.h>
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

} // namespace coredll
