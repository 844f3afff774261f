/*
 * directory_watch.h - noticing that a cached directory may have left the root.
 *
 * An open directory follows renames, even one that takes it out of the root,
 * and the only ways out are a rename or removal of the directory itself or
 * of one of its ancestors below the root.  The watch asks the kernel
 * (inotify) to report exactly those events for the directory and each such
 * ancestor; checking for a report is then one non-blocking read, far cheaper
 * than reading the directory's path.  Any report at all, or any doubt, counts
 * as "changed": the caller then resolves the path afresh inside the root.
 */
#ifndef COREDLL_HOST_DIRECTORY_WATCH_H
#define COREDLL_HOST_DIRECTORY_WATCH_H

namespace coredll {

/*
 * WatchDirectoryChain - starts watching `dir_fd` and its ancestors below
 * the root `root_fd` for moves and removals, replacing any earlier watch.
 * Returns false (and watches nothing) when the directory is not inside the
 * root, lies more than 64 levels below it, or the watch cannot be set up.
 */
bool WatchDirectoryChain(int dir_fd, int root_fd);

/*
 * DirectoryChainUnchanged - whether a watch is active and nothing watched
 * has been moved or removed since it started.  One read(2); allocates
 * nothing.
 */
bool DirectoryChainUnchanged();

/* StopWatchingDirectoryChain - ends the watch, if any. */
void StopWatchingDirectoryChain();

} // namespace coredll

#endif /* COREDLL_HOST_DIRECTORY_WATCH_H */
