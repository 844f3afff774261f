/*
 * device_root.h - the device root and the kernel's confinement to it.
 *
 * The device's file system is the process's current working directory as it
 * was at the layer's first use: "\A\B" is <cwd>/A/B.  Every path the layer
 * opens is resolved by the kernel with openat2(RESOLVE_IN_ROOT |
 * RESOLVE_NO_MAGICLINKS) from the root's fd, so that neither ".." nor a
 * symbolic link (an absolute target means the device root) leads outside.
 */
#ifndef COREDLL_HOST_DEVICE_ROOT_H
#define COREDLL_HOST_DEVICE_ROOT_H

#include <cstddef>

namespace coredll {

/*
 * DeviceRootFd - the root's O_PATH directory fd, opened from the current
 * working directory on first use.  -1 when it cannot be opened (every call of
 * the layer then fails).
 */
int DeviceRootFd();

/*
 * ReopenDeviceRoot - makes the current working directory the device root:
 * closes every open search and registry key, drops the cached directory and
 * re-opens the root.  For tests, which give each case a fresh root.  Returns
 * false when the directory cannot be opened.
 */
bool ReopenDeviceRoot();

/*
 * OpenInRoot - openat2(root_fd, relative, flags) confined to root_fd by
 * RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS; O_CLOEXEC is added.  `relative`
 * is an on-disk path ("" or "." for the root itself).  Returns the new fd,
 * or -1 with errno set (retries on EAGAIN/EINTR a few times).
 */
int OpenInRoot(int root_fd, const char *relative, int flags);

/*
 * FdPath - the kernel's current path of the open file `fd` (the target of
 * /proc/self/fd/<fd>, which follows renames), NUL-terminated, into `out`.
 * False when it cannot be read or does not fit.  One system call.
 */
bool FdPath(int fd, char *out, size_t capacity);

/*
 * PathLiesUnder - whether the path `path` is `root` or lies below it
 * ("<root>/..."); both as FdPath gives them.
 */
bool PathLiesUnder(const char *root, const char *path);

/*
 * FdStillInsideRoot - whether the directory `fd`, opened inside the root
 * earlier, still lies inside it now: it may have been moved out since (a
 * rename of it or of an ancestor is the only way out for an open directory).
 * False when either path cannot be read.  Two system calls.
 */
bool FdStillInsideRoot(int fd);

/*
 * ConfineChangesToRoot - asks the kernel (Landlock) to refuse this process,
 * from now on and for good, every change to the file system outside the
 * device root: creating, writing, truncating, linking, renaming or removing
 * anything that does not lie beneath the root at the moment of the change.
 * The kernel checks where a file lies when it acts, so a directory that was
 * opened inside the root and has been moved out since can no longer be
 * changed.  Reading is not restricted.  For the program's start-up only: a
 * test process must stay free to prepare files outside its roots, and the
 * root must not be reopened elsewhere afterwards.  Returns false, and
 * confines nothing, when the root cannot be opened or the kernel has no
 * Landlock or refuses it.
 */
bool ConfineChangesToRoot();

/*
 * ChangesConfinedToRoot - whether ConfineChangesToRoot has succeeded in this
 * process.  Cannot fail; makes no system call.
 */
bool ChangesConfinedToRoot();

} // namespace coredll

#endif /* COREDLL_HOST_DEVICE_ROOT_H */
