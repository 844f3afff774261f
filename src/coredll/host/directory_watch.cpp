/*
 * directory_watch.cpp - noticing that a cached directory may have left the root.
 */
#include "directory_watch.h"

#include "device_root.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace coredll {

namespace {

constexpr int kMaximumDepth = 64;
constexpr uint32_t kWatchedEvents = IN_MOVE_SELF | IN_DELETE_SELF | IN_ONLYDIR;

int watch_fd = -1;

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

/* Watches `fd`'s directory (through its /proc/self/fd link). */
bool AddWatch(int fd)
{
    char link[32];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    return inotify_add_watch(watch_fd, link, kWatchedEvents) >= 0;
}

/* Watches `dir_fd` and each ancestor up to, not including, the root. */
bool WatchAncestors(int dir_fd, const struct stat &root)
{
    int current = openat(dir_fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (int depth = 0; current >= 0 && depth <= kMaximumDepth; ++depth) {
        struct stat st = {};
        if (fstat(current, &st) != 0) {
            break;
        }
        if (SameFile(st, root)) {
            close(current);
            return true;
        }
        if (!AddWatch(current)) {
            break;
        }
        int parent = openat(current, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        close(current);
        current = parent;
    }
    if (current >= 0) {
        close(current);
    }
    return false;
}

} // namespace

bool WatchDirectoryChain(int dir_fd, int root_fd)
{
    struct stat root = {};
    StopWatchingDirectoryChain();
    /* Checked before the walk (never climb outside the root) and after it
     * (the directory may have left while the watches were being set). */
    if (!FdStillInsideRoot(dir_fd) || fstat(root_fd, &root) != 0) {
        return false;
    }
    watch_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_fd < 0 || !WatchAncestors(dir_fd, root) || !FdStillInsideRoot(dir_fd) ||
        !DirectoryChainUnchanged()) {
        StopWatchingDirectoryChain();
        return false;
    }
    return true;
}

bool DirectoryChainUnchanged()
{
    alignas(struct inotify_event) char events[sizeof(struct inotify_event) + NAME_MAX + 1];
    if (watch_fd < 0) {
        return false;
    }
    ssize_t got = read(watch_fd, events, sizeof(events));
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void StopWatchingDirectoryChain()
{
    if (watch_fd >= 0) {
        close(watch_fd);
    }
    watch_fd = -1;
}

} // namespace coredll
