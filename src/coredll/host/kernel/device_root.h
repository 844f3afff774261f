/* kernel/ - all the layer asks of the kernel: system calls, the root, closing, records. */
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

namespace coredll {

/*
 * DeviceRootFd - the root's O_PATH directory fd, opened from the current
 * working directory on first use.  -1 when it cannot be opened (every call of
 * the layer then fails).
 */
int DeviceRootFd();

/*
 * DeviceRootPath - the root's absolute host path as it was when the root was
 * opened (getcwd), or nullptr when it is unknown.
 */
const char *DeviceRootPath();

/*
 * OpenDeviceRoot - makes the current working directory the device root,
 * closing the previous root's fd.  False when the directory cannot be opened.
 */
bool OpenDeviceRoot();

/*
 * OpenInRoot - openat2(root_fd, relative, flags | O_CLOEXEC) confined to the
 * root by RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS.  `relative` is an on-disk
 * path ("" for the root itself).  The new fd, or -1 with errno set (EBADF
 * for a root that could not be opened; retried a few times on EINTR, on
 * EAGAIN, which a concurrent rename can cause, and out of descriptors once
 * the batch waiting to be closed is closed, closing.h).
 */
int OpenInRoot(int root_fd, const char *relative, int flags);

/*
 * DirectoryLiesInsideRoot - whether the open directory `dir_fd` still lies
 * at or below the root: an open directory follows renames, even out of the
 * root.  Decided by stating "..", "../..", ... from it until the root or
 * "/" is met: one system call a level, no fd and no /proc needed.  When
 * false, errno is 0 if the directory lies outside, else why it could not be
 * told (EACCES...).
 */
bool DirectoryLiesInsideRoot(int dir_fd);

/*
 * ConfineChangesToRoot - asks the kernel (Landlock) to refuse this process,
 * for good, every change to the file system outside the device root:
 * creating, writing, truncating, linking, renaming or removing anything that
 * does not lie beneath the root at the moment of the change.  Only where the
 * kernel can do so without changing a run's results: Landlock ABI 2 or later
 * (Linux 5.19), whose rulesets handle renames between directories; under
 * ABI 1 every such rename would be refused, the program's own move among
 * them.  For the program's start-up: a test process must stay free to prepare
 * files outside its roots.  Nothing is confined when the root cannot be
 * opened or the kernel cannot confine exactly (ChangesConfinedToRoot).
 */
void ConfineChangesToRoot();

/*
 * ChangesConfinedToRoot - whether ConfineChangesToRoot has succeeded: the
 * kernel then judges every change by where its file is at that moment.
 */
bool ChangesConfinedToRoot();

} // namespace coredll

#endif /* COREDLL_HOST_DEVICE_ROOT_H */
