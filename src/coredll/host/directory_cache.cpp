/*
 * directory_cache.cpp - the directory of the open search, kept for deletions.
 */
#include "directory_cache.h"

#include "device_root.h"
#include "directory_watch.h"

#include <climits>
#include <cstring>

namespace coredll {

namespace {

constexpr size_t kKeyCapacity = 512;

char16_t cached_key[kKeyCapacity];
size_t cached_key_length = 0;
int cached_fd = -1;

char yielded_name[256];
int yielded_fd = -1;
struct stat yielded_stat;

} // namespace

void RememberDirectory(std::u16string_view device_directory, int dir_fd)
{
    ForgetCachedDirectory();
    if (device_directory.size() > kKeyCapacity || dir_fd < 0 ||
        !WatchDirectoryChain(dir_fd, DeviceRootFd())) {
        return;
    }
    std::memcpy(cached_key, device_directory.data(), device_directory.size() * sizeof(char16_t));
    cached_key_length = device_directory.size();
    cached_fd = dir_fd;
}

int CachedDirectoryFd(std::u16string_view device_directory)
{
    if (cached_fd < 0 || device_directory != std::u16string_view(cached_key, cached_key_length)) {
        return -1;
    }
    if (!DirectoryChainUnchanged()) {
        ForgetCachedDirectory();
        return -1;
    }
    return cached_fd;
}

void ForgetCachedDirectory()
{
    StopWatchingDirectoryChain();
    yielded_fd = -1;
    cached_fd = -1;
    cached_key_length = 0;
}

void ForgetCachedDirectoryFd(int dir_fd)
{
    if (cached_fd == dir_fd) {
        ForgetCachedDirectory();
    }
}

void RememberYieldedEntry(int dir_fd, const char *name, const struct stat &st)
{
    size_t length = std::strlen(name);
    yielded_fd = -1;
    if (length >= sizeof(yielded_name)) {
        return;
    }
    std::memcpy(yielded_name, name, length + 1);
    yielded_stat = st;
    yielded_fd = dir_fd;
}

bool TakeYieldedEntry(int dir_fd, const char *name, struct stat &st)
{
    if (yielded_fd < 0 || yielded_fd != dir_fd || cached_fd != dir_fd ||
        std::strcmp(yielded_name, name) != 0) {
        return false;
    }
    yielded_fd = -1;
    st = yielded_stat;
    return true;
}

int TakeUnwatchedYieldedEntry(std::u16string_view device_directory, const char *name,
                              struct stat &st)
{
    if (cached_fd < 0 || device_directory != std::u16string_view(cached_key, cached_key_length) ||
        !TakeYieldedEntry(cached_fd, name, st)) {
        return -1;
    }
    return cached_fd;
}

} // namespace coredll
