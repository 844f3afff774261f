/*
 * directory_cache.h - the directory of the open search, kept for deletions.
 *
 * Emptying a directory is a search followed by DeleteFileW on each entry's
 * "<directory>\<name>".  Resolving the directory again for every entry would
 * cost a walk from the root each time, so the search hands its directory fd
 * here, keyed by the device path exactly as the search spelt it, and
 * DeleteFileW uses it for paths whose parent is spelt the same.  The entry is
 * dropped when its search closes and whenever the layer creates, removes or
 * renames anything that could change what the key resolves to.
 *
 * An open directory follows renames, even one that takes it out of the root.
 * So the cache watches the directory and its ancestors below the root
 * (directory_watch.h) and checks, each time it is used, that none of them
 * has been moved or removed (one non-blocking read); when one has, the cache
 * is dropped and the caller resolves the path afresh inside the root with
 * openat2.
 *
 * The search also leaves here the stat it took of the entry it yielded last,
 * so that a deletion of exactly that entry, right after it was yielded, need
 * not stat it again: the state of the entry is then that of the yield, a
 * moment earlier (the same moment-old state any stat-then-unlink acts on).
 */
#ifndef COREDLL_HOST_DIRECTORY_CACHE_H
#define COREDLL_HOST_DIRECTORY_CACHE_H

#include <string_view>
#include <sys/stat.h>

namespace coredll {

/*
 * RememberDirectory - caches `dir_fd` (not owned; it stays the caller's) as
 * the directory that `device_directory` names.  A key too long to keep
 * leaves the cache empty.
 */
void RememberDirectory(std::u16string_view device_directory, int dir_fd);

/*
 * CachedDirectoryFd - the cached fd when `device_directory` is spelt exactly
 * as the cached key and the directory still lies inside the root, else -1
 * (the cache is dropped when the directory has left the root).  Allocates
 * nothing.
 */
int CachedDirectoryFd(std::u16string_view device_directory);

/* ForgetCachedDirectory - empties the cache. */
void ForgetCachedDirectory();

/* ForgetCachedDirectoryFd - empties the cache if it holds `dir_fd`. */
void ForgetCachedDirectoryFd(int dir_fd);

/*
 * RememberYieldedEntry - keeps `st`, the stat of the entry `name` that a
 * search of `dir_fd` has just yielded, replacing any earlier one.  A name too
 * long to keep is not kept.
 */
void RememberYieldedEntry(int dir_fd, const char *name, const struct stat &st);

/*
 * TakeYieldedEntry - when the entry kept is `name` in `dir_fd` and `dir_fd`
 * is still the cached directory, copies its stat to `st`, forgets it and
 * returns true; otherwise returns false.  Allocates nothing.
 */
bool TakeYieldedEntry(int dir_fd, const char *name, struct stat &st);

/*
 * TakeUnwatchedYieldedEntry - as TakeYieldedEntry, for the cached directory
 * that `device_directory` names when spelt exactly as the cached key, but
 * without reading the watch: returns the cached fd with the entry's stat in
 * `st`, or -1.  The directory may have left the root since, so this is only
 * for an unlink while the kernel refuses every change outside the root
 * (ChangesConfinedToRoot).  No system call; allocates nothing.
 */
int TakeUnwatchedYieldedEntry(std::u16string_view device_directory, const char *name,
                              struct stat &st);

} // namespace coredll

#endif /* COREDLL_HOST_DIRECTORY_CACHE_H */
