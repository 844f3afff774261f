/*
 * directory_chains.h - create or remove every directory along a device path.
 *
 * A device path starts at the root with "\" and separates its components
 * with "\", for example "\Temp\ServicePack".  Both walks work on their own
 * copy of the path in a fixed 256-character buffer, never change the
 * caller's string, ignore every failure of the platform and yield nothing.
 */
#ifndef DIRECTORY_CHAINS_H
#define DIRECTORY_CHAINS_H

#include "coredll.h"

/* Capacity of a walk's work buffer: a path has at most 255 characters. */
#define DIRECTORY_CHAIN_CAPACITY 256

/*
 * EnsureDirectoryChain - creates each ancestor of `path`, outermost first,
 * then `path` itself, with one CreateDirectoryW call each.  A directory that
 * already exists (or cannot be created) makes its call fail; the walk goes
 * on.  "\Temp\ServicePackOld" gives CreateDirectoryW("\Temp") and then
 * CreateDirectoryW("\Temp\ServicePackOld").
 *
 * A path of more than 255 characters is refused: no call is made.
 */
void EnsureDirectoryChain(LPCWSTR path);

/*
 * RemoveDirectoryChain - tries to remove `path`, then each of its ancestors,
 * innermost first, with one RemoveDirectoryW call each.  The platform removes
 * only empty directories, so the walk has no effect past the first directory
 * that still holds something.  "\Temp\ServicePack" gives
 * RemoveDirectoryW("\Temp\ServicePack") and then RemoveDirectoryW("\Temp");
 * a trailing separator adds a first call on the path as given.
 *
 * A path of more than 255 characters is refused: no call is made.
 */
void RemoveDirectoryChain(LPCWSTR path);

#endif /* DIRECTORY_CHAINS_H */
