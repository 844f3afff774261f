/*
 * file_api.cpp - DeleteFileW, CreateDirectoryW, RemoveDirectoryW, MoveFileW
 * and GetFileAttributesW inside the device root.
 *
 * Each call resolves its path inside the root (device_path.h) and then acts
 * on a single name relative to the directory fd that resolution gave, so the
 * final step can never leave the root either.  Any directory-changing call
 * drops the cached search directory.
 */
#include "coredll.h"

#include "device_path.h"
#include "device_root.h"
#include "directory_cache.h"
#include "file_attributes.h"
#include "running_executable.h"
#include "out_of_memory.h"
#include "trace.h"
#include "utf16.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <new>
#include <stdio.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace coredll {

namespace {

/* Longest device path the layer reads, in characters. */
constexpr size_t kPathLimit = 32767;

/* On-disk name buffer: a 255-character name may take 3 bytes a character. */
constexpr size_t kNameBytes = 3 * NAME_MAX + 4;

std::u16string_view PathView(LPCWSTR path)
{
    size_t length = 0;
    while (length < kPathLimit && path[length] != 0) {
        ++length;
    }
    return std::u16string_view(path, length);
}

/* Deletes the entry `name` of `dir_fd` that `st` describes, as DeleteFileW
 * does: refuses directories, read-only files and the running executable; a
 * symbolic link itself is removed, never its target. */
BOOL DeleteDescribedEntry(int dir_fd, const char *name, const struct stat &st)
{
    if (S_ISDIR(st.st_mode)) {
        return FALSE;
    }
    if (S_ISLNK(st.st_mode)) {
        /* The link may be a component of the cached directory's path. */
        ForgetCachedDirectory();
    } else if ((AttributesOf(st) & FILE_ATTRIBUTE_READONLY) != 0 || IsRunningExecutable(st)) {
        return FALSE;
    }
    return unlinkat(dir_fd, name, 0) == 0 ? TRUE : FALSE;
}

/* Deletes the file `name` in `dir_fd`.  When `name` is missing and
 * `device_name` is given, the entry equal to it ignoring case is deleted
 * instead. */
BOOL DeleteEntry(int dir_fd, const char *name, std::u16string_view device_name)
{
    struct stat st = {};
    char matched[kNameBytes];
    if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT || device_name.empty() ||
            !FindEntryIgnoringCase(dir_fd, device_name, matched, sizeof(matched)) ||
            fstatat(dir_fd, matched, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return FALSE;
        }
        name = matched;
    }
    return DeleteDescribedEntry(dir_fd, name, st);
}

BOOL DeleteFileImpl(LPCWSTR path)
{
    if (path == nullptr) {
        return FALSE;
    }
    std::u16string_view view = PathView(path);

    /* Fast path: the entry of an open search, in the directory it keeps. */
    std::u16string_view parent;
    std::u16string_view last;
    if (SplitLastComponent(view, parent, last)) {
        char name[kNameBytes];
        size_t length = 0;
        /* The entry the search has just yielded, while the kernel confines
         * changes to the root: only an unlink follows, which the kernel
         * refuses if the directory has left the root, so the watch need not
         * be read. */
        if (ChangesConfinedToRoot() && Utf16ToUtf8(last, name, sizeof(name), length)) {
            struct stat st = {};
            int yielded_dir_fd = TakeUnwatchedYieldedEntry(parent, name, st);
            if (yielded_dir_fd >= 0) {
                return DeleteDescribedEntry(yielded_dir_fd, name, st);
            }
        }
        int dir_fd = CachedDirectoryFd(parent);
        if (dir_fd >= 0) {
            if (!Utf16ToUtf8(last, name, sizeof(name), length)) {
                return FALSE;
            }
            struct stat st = {};
            if (TakeYieldedEntry(dir_fd, name, st)) {
                return DeleteDescribedEntry(dir_fd, name, st);
            }
            return DeleteEntry(dir_fd, name, last);
        }
    }

    ResolvedEntry entry;
    if (!ResolveDeviceEntry(DeviceRootFd(), view, entry)) {
        return FALSE;
    }
    BOOL result = entry.name == "." ? FALSE : DeleteEntry(entry.dir_fd, entry.name.c_str(), u"");
    close(entry.dir_fd);
    return result;
}

BOOL CreateDirectoryImpl(LPCWSTR path)
{
    ResolvedEntry entry;
    ForgetCachedDirectory();
    if (path == nullptr || !ResolveDeviceEntry(DeviceRootFd(), PathView(path), entry)) {
        return FALSE;
    }
    BOOL result = entry.name != "." && mkdirat(entry.dir_fd, entry.name.c_str(), 0777) == 0;
    close(entry.dir_fd);
    return result;
}

BOOL RemoveDirectoryImpl(LPCWSTR path)
{
    ResolvedEntry entry;
    struct stat st = {};
    ForgetCachedDirectory();
    if (path == nullptr || !ResolveDeviceEntry(DeviceRootFd(), PathView(path), entry)) {
        return FALSE;
    }
    /* Never the root itself, and never a link to a directory. */
    BOOL result = entry.name != "." &&
                  fstatat(entry.dir_fd, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                  S_ISDIR(st.st_mode) &&
                  unlinkat(entry.dir_fd, entry.name.c_str(), AT_REMOVEDIR) == 0;
    close(entry.dir_fd);
    return result;
}

BOOL MoveFileImpl(LPCWSTR from, LPCWSTR to)
{
    ResolvedEntry source;
    ResolvedEntry target;
    struct stat st = {};
    ForgetCachedDirectory();
    if (from == nullptr || to == nullptr ||
        !ResolveDeviceEntry(DeviceRootFd(), PathView(from), source)) {
        return FALSE;
    }
    if (!ResolveDeviceEntry(DeviceRootFd(), PathView(to), target)) {
        close(source.dir_fd);
        return FALSE;
    }
    BOOL result = source.name != "." && target.name != "." &&
                  fstatat(source.dir_fd, source.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                  renameat2(source.dir_fd, source.name.c_str(), target.dir_fd, target.name.c_str(),
                            RENAME_NOREPLACE) == 0;
    close(source.dir_fd);
    close(target.dir_fd);
    return result;
}

DWORD GetFileAttributesImpl(LPCWSTR path)
{
    std::string relative;
    struct stat st = {};
    if (path == nullptr || !ResolveDevicePath(DeviceRootFd(), PathView(path), relative)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    /* Links are followed, but only inside the root. */
    int fd = OpenInRoot(DeviceRootFd(), relative.c_str(), O_PATH);
    if (fd < 0) {
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD result = fstat(fd, &st) == 0 ? AttributesOf(st) : INVALID_FILE_ATTRIBUTES;
    close(fd);
    return result;
}

} // namespace

} // namespace coredll

using coredll::TraceEnabled;
using coredll::TraceLine;

extern "C" BOOL WINAPI DeleteFileW(LPCWSTR lpFileName)
{
    BOOL result =
        coredll::CallOrFail<BOOL>(FALSE, [&] { return coredll::DeleteFileImpl(lpFileName); });
    if (TraceEnabled()) {
        TraceLine line("DeleteFileW");
        line.Text(lpFileName);
        line.Finish(result);
    }
    return result;
}

extern "C" BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    BOOL result =
        coredll::CallOrFail<BOOL>(FALSE, [&] { return coredll::CreateDirectoryImpl(lpPathName); });
    if (TraceEnabled()) {
        TraceLine line("CreateDirectoryW");
        line.Text(lpPathName);
        line.Pointer(lpSecurityAttributes);
        line.Finish(result);
    }
    return result;
}

extern "C" BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName)
{
    BOOL result =
        coredll::CallOrFail<BOOL>(FALSE, [&] { return coredll::RemoveDirectoryImpl(lpPathName); });
    if (TraceEnabled()) {
        TraceLine line("RemoveDirectoryW");
        line.Text(lpPathName);
        line.Finish(result);
    }
    return result;
}

extern "C" BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName)
{
    BOOL result = coredll::CallOrFail<BOOL>(
        FALSE, [&] { return coredll::MoveFileImpl(lpExistingFileName, lpNewFileName); });
    if (TraceEnabled()) {
        TraceLine line("MoveFileW");
        line.Text(lpExistingFileName);
        line.Text(lpNewFileName);
        line.Finish(result);
    }
    return result;
}

extern "C" DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName)
{
    DWORD result = coredll::CallOrFail<DWORD>(
        INVALID_FILE_ATTRIBUTES, [&] { return coredll::GetFileAttributesImpl(lpFileName); });
    if (TraceEnabled()) {
        TraceLine line("GetFileAttributesW");
        line.Text(lpFileName);
        line.Finish(static_cast<int64_t>(result));
    }
    return result;
}
