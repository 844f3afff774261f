/*
 * directory_chains.cpp - create or remove every directory along a device path.
 */
#include "directory_chains.h"

#include "wide_text.h"

static const WCHAR PathSeparator = TEXT('\\');

/*
 * CopyChainPath - copies `path` with its terminator into the zero-filled
 * work buffer.  Returns the path's length, or DIRECTORY_CHAIN_CAPACITY when
 * the path does not fit (nothing is copied then).
 */
static UINT CopyChainPath(LPCWSTR path, WCHAR work[DIRECTORY_CHAIN_CAPACITY])
{
    UINT length;
    UINT index;

    ZeroFill(work, DIRECTORY_CHAIN_CAPACITY);
    length = BoundedLength(path, DIRECTORY_CHAIN_CAPACITY);
    if (length >= DIRECTORY_CHAIN_CAPACITY) {
        return DIRECTORY_CHAIN_CAPACITY;
    }
    for (index = 0; index < length; ++index) {
        work[index] = path[index];
    }
    return length;
}

void EnsureDirectoryChain(LPCWSTR path)
{
    WCHAR work[DIRECTORY_CHAIN_CAPACITY];
    WCHAR prefix[DIRECTORY_CHAIN_CAPACITY];
    UINT length;
    UINT index;

    length = CopyChainPath(path, work);
    if (length >= DIRECTORY_CHAIN_CAPACITY) {
        return;
    }
    ZeroFill(prefix, DIRECTORY_CHAIN_CAPACITY);

    /* Each separator after the first character ends an ancestor: the prefix
     * then holds exactly the characters before it. */
    for (index = 0; index < length; ++index) {
        if (work[index] == PathSeparator && index > 0) {
            CreateDirectoryW(prefix, NULL);
        }
        prefix[index] = work[index];
    }
    CreateDirectoryW(work, NULL);
}

void RemoveDirectoryChain(LPCWSTR path)
{
    WCHAR work[DIRECTORY_CHAIN_CAPACITY];
    UINT length;
    UINT index;

    length = CopyChainPath(path, work);
    if (length >= DIRECTORY_CHAIN_CAPACITY) {
        return;
    }
    RemoveDirectoryW(work);

    /* Cut the copy back from its end; each separator after the first
     * character, once cut, leaves the parent of the directory just tried. */
    for (index = length; index > 0; --index) {
        WCHAR passed = work[index - 1];

        work[index - 1] = 0;
        if (passed == PathSeparator && index - 1 > 0) {
            RemoveDirectoryW(work);
        }
    }
}
