/*
 * find_api.cpp - FindFirstFileW, FindNextFileW and FindClose.
 *
 * A search pattern is a directory's device path, a separator and a name
 * pattern ("\Temp\Old\*.*"), made canonical as a whole.  The directory is
 * opened inside the root and read with getdents64 into the search's fixed
 * buffer.  Each entry is yielded when its name matches the pattern ignoring
 * case (case_fold.h), except "." and "..", names that
 * are not valid UTF-8 (no device name could name them again) and names that
 * do not fit cFileName.  The record describes the entry itself (a symbolic
 * link is not followed).
 *
 * An open directory follows renames, even out of the root, so before each
 * further block is read the directory is checked to lie inside the root
 * still; one that has left ends the search.  Deleting what a search yields
 * goes by path (file_api.cpp), so a directory moved anywhere else loses
 * nothing through its search.
 */
#include "coredll.h"
#include "platform_names.h"

#include "api/platform_call.h"
#include "handles/find_table.h"
#include "kernel/device_root.h"
#include "kernel/system_calls.h"
#include "names/case_fold.h"
#include "names/utf16.h"
#include "paths/device_path.h"
#include "paths/file_attributes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace coredll {

namespace {

/* Converts a time to the device's FILETIME (100 ns units since 1601). */
FILETIME FileTimeOf(const struct timespec &time)
{
    constexpr int64_t kEpochDifference = 11644473600LL;
    int64_t ticks =
        (static_cast<int64_t>(time.tv_sec) + kEpochDifference) * 10000000LL + time.tv_nsec / 100;
    auto unsigned_ticks = static_cast<uint64_t>(ticks < 0 ? 0 : ticks);
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(unsigned_ticks & 0xFFFFFFFFu);
    result.dwHighDateTime = static_cast<DWORD>(unsigned_ticks >> 32);
    return result;
}

/* Fills `record` for the entry `name` of the search's directory.  False when
 * the entry does not match, is gone or its name is not a device name. */
bool DescribeEntry(const Search &search, const char *name, WIN32_FIND_DATAW &record)
{
    char16_t device_name[MAX_PATH] = {};
    size_t length; /* set by the conversion */
    struct stat st = {};
    if (!Utf8ToUtf16(name, device_name, MAX_PATH, length) ||
        !WildcardMatches(std::u16string_view(search.pattern, search.pattern_length),
                         std::u16string_view(device_name, length)) ||
        Sys().fstatat(search.dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    record = WIN32_FIND_DATAW{};
    record.dwFileAttributes = AttributesOf(st);
    auto size = static_cast<uint64_t>(S_ISDIR(st.st_mode) ? 0 : st.st_size);
    record.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    record.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    record.ftCreationTime = FileTimeOf(st.st_ctim);
    record.ftLastAccessTime = FileTimeOf(st.st_atim);
    record.ftLastWriteTime = FileTimeOf(st.st_mtim);
    std::memcpy(record.cFileName, device_name, sizeof(device_name));
    return true;
}

/* Reads the search's next block.  False at the directory's end, on a read
 * error, or when the directory has left the root. */
bool ReadBlock(Search &search)
{
    search.block.filled = 0;
    search.block.next = 0;
    if (search.blocks_read > 0 && !DirectoryLiesInsideRoot(search.dir_fd)) {
        NoteFailure(errno == 0 ? "the directory has left the device root"
                               : "the directory's place cannot be told");
        return false;
    }
    long got = Sys().getdents64(search.dir_fd, search.entries, sizeof(search.entries));
    if (got <= 0) {
        return false;
    }
    search.blocks_read += 1;
    search.block.filled = static_cast<size_t>(got);
    return true;
}

/* Advances `search` to its next matching entry and describes it. */
bool NextMatch(Search &search, WIN32_FIND_DATAW &record)
{
    for (;;) {
        const char *name = search.block.NextName();
        if (name == nullptr) {
            if (!ReadBlock(search)) {
                return false;
            }
        } else if (!IsDotEntry(name) && DescribeEntry(search, name, record)) {
            return true;
        }
    }
}

HANDLE FindFirstFileImpl(LPCWSTR path, LPWIN32_FIND_DATAW record)
{
    if (path == nullptr || record == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    /* The whole pattern is made canonical as any path; its last component
     * is the name pattern, and a final "*.*" is "*", every name
     * (SimplifySearchSpec).  The root itself is no pattern. */
    char16_t canonical[kDevicePathLimit + 1];
    size_t length; /* set by CanonicalDevicePath */
    if (!CanonicalDevicePath(std::u16string_view(path, DevicePathLength(path)), canonical,
                             length) ||
        length == 0) {
        return INVALID_HANDLE_VALUE;
    }
    std::u16string_view whole(canonical, length);
    size_t cut = whole.rfind(u'/');
    std::u16string_view directory = cut == std::u16string_view::npos ? u"" : whole.substr(0, cut);
    std::u16string_view pattern = cut == std::u16string_view::npos ? whole : whole.substr(cut + 1);
    if (pattern == u"*.*") {
        pattern = u"*";
    }
    ResolvedEntry entry;
    if (!ResolveDeviceEntry(DeviceRootFd(), directory, entry)) {
        return INVALID_HANDLE_VALUE;
    }
    Sys().close(entry.dir_fd);
    int dir_fd = OpenInRoot(DeviceRootFd(), entry.path, O_RDONLY | O_DIRECTORY);
    if (dir_fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    Search *search = OpenSearch(dir_fd);
    if (search == nullptr) {
        Sys().close(dir_fd);
        NoteFailure("every search slot is in use");
        return INVALID_HANDLE_VALUE;
    }
    std::memcpy(search->pattern, pattern.data(), pattern.size() * sizeof(char16_t));
    search->pattern_length = pattern.size();
    if (!NextMatch(*search, *record)) {
        CloseSearch(search);
        return INVALID_HANDLE_VALUE;
    }
    return HandleOfSearch(search);
}

BOOL FindNextFileImpl(HANDLE handle, LPWIN32_FIND_DATAW record)
{
    Search *search = SearchOfHandle(handle);
    if (search == nullptr || record == nullptr) {
        return FALSE;
    }
    return NextMatch(*search, *record) ? TRUE : FALSE;
}

BOOL FindCloseImpl(HANDLE handle)
{
    Search *search = SearchOfHandle(handle);
    if (search == nullptr) {
        return FALSE;
    }
    CloseSearch(search);
    return TRUE;
}

/* The record's name as traced: written only when the call succeeded. */
TraceValue RecordName(bool written, const WIN32_FIND_DATAW *record)
{
    return written ? Text(record->cFileName, MAX_PATH) : Unwritten();
}

} // namespace

} // namespace coredll

using namespace coredll;

extern "C" HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData)
{
    HANDLE result = Guarded<HANDLE>(INVALID_HANDLE_VALUE,
                                    [&] { return FindFirstFileImpl(lpFileName, lpFindFileData); });
    Trace("FindFirstFileW", HandleArg(result),
          {Text(lpFileName), RecordName(result != INVALID_HANDLE_VALUE, lpFindFileData)});
    return result;
}

extern "C" BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData)
{
    BOOL result = Guarded<BOOL>(FALSE, [&] { return FindNextFileImpl(hFindFile, lpFindFileData); });
    Trace("FindNextFileW", Decimal(result),
          {HandleArg(hFindFile), RecordName(result != FALSE, lpFindFileData)});
    return result;
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile)
{
    BOOL result = Guarded<BOOL>(FALSE, [&] { return FindCloseImpl(hFindFile); });
    Trace("FindClose", Decimal(result), {HandleArg(hFindFile)});
    return result;
}
