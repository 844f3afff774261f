/*
 * device_root.cpp - the device root and the kernel's confinement to it.
 */
#include "device_root.h"

#include "directory_cache.h"
#include "find_table.h"
#include "registry_table.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
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

} // namespace coredll
