/*
 * file_api.cpp - DeleteFileW, CreateDirectoryW, RemoveDirectoryW, MoveFileW
 * and GetFileAttributesW inside the device root.
 *
 * Each call resolves its path afresh from the root (device_path.h), as the
 * platform does, and then acts on a single name relative to the directory
 * fd that resolution gave (or, where the kernel does not confine changes, to
 * that directory opened afresh right before the change), so the final step
 * cannot leave the root either.
 */
#include "coredll.h"
#include "platform_names.h"

#include "api/platform_call.h"
#include "kernel/closing.h"
#include "kernel/device_root.h"
#include "kernel/system_calls.h"
#include "paths/device_path.h"
#include "paths/file_attributes.h"
#include "paths/running_executable.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace coredll {

namespace {

/* A resolved path whose directory fd, unless a change took it, is closed at
 * the end of the call. */
class Resolved {
  public:
    /* Resolves `path` (NULL resolves to nothing). */
    explicit Resolved(LPCWSTR path)
        : ok_(path != nullptr &&
              ResolveDeviceEntry(DeviceRootFd(), std::u16string_view(path, DevicePathLength(path)),
                                 entry_))
    {
    }
    ~Resolved()
    {
        CloseResolvedDirectory(entry_.dir_fd);
    }
    Resolved(const Resolved &) = delete;
    Resolved &operator=(const Resolved &) = delete;

    /* Whether the path resolved to a name other than the root itself. */
    bool NamesEntry() const
    {
        return ok_ && std::strcmp(entry_.name, ".") != 0;
    }
    const ResolvedEntry &operator*() const
    {
        return entry_;
    }
    const ResolvedEntry *operator->() const
    {
        return &entry_;
    }
    /* The directory's fd, now the caller's to close (-1 once taken). */
    int TakeDirectory()
    {
        int fd = entry_.dir_fd;
        entry_.dir_fd = -1;
        return fd;
    }

  private:
    ResolvedEntry entry_;
    bool ok_;
};

/*
 * The directory a change acts in.  An open directory follows renames, even
 * out of the root: unless the kernel itself refuses every change outside the
 * root, the entry's directory is opened afresh from the root right before the
 * change, so that one moved out since the path was resolved is not found.
 * Only the instant between that open and the change itself stays open.  The
 * resolved fd is closed first, so a change holds one fd of its own.
 */
class DirectoryForChange {
  public:
    explicit DirectoryForChange(Resolved &resolved) : fd_(resolved.TakeDirectory())
    {
        if (ChangesConfinedToRoot() && fd_ >= 0) {
            return;
        }
        CloseResolvedDirectory(fd_);
        char parent[kRelativePathBytes];
        const char *slash = std::strrchr(resolved->path, '/');
        size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - resolved->path);
        std::memcpy(parent, resolved->path, length);
        parent[length] = '\0';
        fd_ = OpenInRoot(DeviceRootFd(), parent, O_PATH | O_DIRECTORY);
    }
    ~DirectoryForChange()
    {
        CloseResolvedDirectory(fd_);
    }
    DirectoryForChange(const DirectoryForChange &) = delete;
    DirectoryForChange &operator=(const DirectoryForChange &) = delete;

    int fd() const
    {
        return fd_;
    }

  private:
    int fd_;
};

BOOL DeleteFileImpl(LPCWSTR path)
{
    Resolved entry(path);
    if (!entry->exists) {
        return FALSE;
    }
    /* A symbolic link itself is removed, never its target; a read-only file
     * and the running executable stay, as on the device; a directory is
     * refused by the kernel (EISDIR). */
    if (!S_ISLNK(entry->st.st_mode) && ((AttributesOf(entry->st) & FILE_ATTRIBUTE_READONLY) != 0 ||
                                        IsRunningExecutable(entry->st))) {
        return FALSE;
    }
    DirectoryForChange directory(entry);
    return Sys().unlinkat(directory.fd(), entry->name, 0) == 0 ? TRUE : FALSE;
}

BOOL CreateDirectoryImpl(LPCWSTR path)
{
    Resolved entry(path);
    if (!entry.NamesEntry() || entry->exists) {
        return FALSE;
    }
    DirectoryForChange directory(entry);
    return Sys().mkdirat(directory.fd(), entry->name, 0777) == 0 ? TRUE : FALSE;
}

BOOL RemoveDirectoryImpl(LPCWSTR path)
{
    Resolved entry(path);
    /* Never the root itself (which never exists as a name); a file or a link
     * to a directory is refused by the kernel (ENOTDIR). */
    if (!entry->exists) {
        return FALSE;
    }
    DirectoryForChange directory(entry);
    return Sys().unlinkat(directory.fd(), entry->name, AT_REMOVEDIR) == 0 ? TRUE : FALSE;
}

BOOL MoveFileImpl(LPCWSTR from, LPCWSTR to)
{
    /* No more fds than a deletion: the source's directory is closed while
     * the target is resolved, and opened again for the change. */
    Resolved source(from);
    if (!source->exists) {
        return FALSE;
    }
    CloseResolvedDirectory(source.TakeDirectory());
    Resolved target(to);
    if (!target.NamesEntry() || target->exists) {
        return FALSE;
    }
    DirectoryForChange target_directory(target);
    DirectoryForChange source_directory(source);
    return Sys().renameat2(source_directory.fd(), source->name, target_directory.fd(), target->name,
                           RENAME_NOREPLACE) == 0
               ? TRUE
               : FALSE;
}

DWORD GetFileAttributesImpl(LPCWSTR path)
{
    Resolved entry(path);
    struct stat st = {};
    if (!entry.NamesEntry()) {
        /* The root itself, or nothing. */
        return Sys().fstatat(entry->dir_fd, "", &st, AT_EMPTY_PATH) == 0 ? AttributesOf(st)
                                                                         : INVALID_FILE_ATTRIBUTES;
    }
    if (!entry->exists) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!S_ISLNK(entry->st.st_mode)) {
        return AttributesOf(entry->st);
    }
    /* A link is followed, but only inside the root. */
    int fd = OpenInRoot(DeviceRootFd(), entry->path, O_PATH);
    DWORD result =
        Sys().fstatat(fd, "", &st, AT_EMPTY_PATH) == 0 ? AttributesOf(st) : INVALID_FILE_ATTRIBUTES;
    CloseResolvedDirectory(fd);
    return result;
}

} // namespace

} // namespace coredll

using namespace coredll;

extern "C" BOOL WINAPI DeleteFileW(LPCWSTR lpFileName)
{
    BOOL result = Guarded<BOOL>(FALSE, [&] { return DeleteFileImpl(lpFileName); });
    Trace("DeleteFileW", Decimal(result), {Text(lpFileName)});
    return result;
}

extern "C" BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    BOOL result = Guarded<BOOL>(FALSE, [&] { return CreateDirectoryImpl(lpPathName); });
    Trace("CreateDirectoryW", Decimal(result), {Text(lpPathName), HandleArg(lpSecurityAttributes)});
    return result;
}

extern "C" BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName)
{
    BOOL result = Guarded<BOOL>(FALSE, [&] { return RemoveDirectoryImpl(lpPathName); });
    Trace("RemoveDirectoryW", Decimal(result), {Text(lpPathName)});
    return result;
}

extern "C" BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName)
{
    BOOL result =
        Guarded<BOOL>(FALSE, [&] { return MoveFileImpl(lpExistingFileName, lpNewFileName); });
    Trace("MoveFileW", Decimal(result), {Text(lpExistingFileName), Text(lpNewFileName)});
    return result;
}

extern "C" DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName)
{
    DWORD result =
        Guarded<DWORD>(INVALID_FILE_ATTRIBUTES, [&] { return GetFileAttributesImpl(lpFileName); });
    Trace("GetFileAttributesW", Hex(result), {Text(lpFileName)});
    return result;
}
