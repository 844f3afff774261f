/*
 * find_api.cpp - FindFirstFileW, FindNextFileW and FindClose.
 *
 * A search pattern is a directory's device path, a separator and a name
 * pattern ("\Temp\Old\*.*").  The directory is opened inside the root and read
 * with getdents64 into the search's fixed buffer.  Each entry is yielded when
 * its name matches the pattern ignoring case, except "." and "..", names that
 * are not valid UTF-8 (they could not be given back to the layer as a name
 * that means them) and names that do not fit cFileName.  The record describes
 * the entry itself (a symbolic link is not followed).
 *
 * Before each block is read, the directory is checked to be still inside the
 * root (it may have been moved out since it was opened); a directory that
 * has left the root ends the search.
 */
#include "coredll.h"

#include "case_fold.h"
#include "device_path.h"
#include "device_root.h"
#include "directory_cache.h"
#include "file_attributes.h"
#include "find_table.h"
#include "out_of_memory.h"
#include "trace.h"
#include "utf16.h"

#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace coredll {

namespace {

constexpr size_t kPathLimit = 32767;

/* Offsets inside a struct linux_dirent64 record. */
constexpr long kRecordLengthOffset = 16;
constexpr long kRecordNameOffset = 19;

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
 * the entry is gone or its name is not a device name. */
bool DescribeEntry(const Search &search, const char *name, WIN32_FIND_DATAW &record)
{
    char16_t device_name[MAX_PATH];
    size_t length = 0;
    struct stat st = {};
    if (!Utf8ToUtf16(name, device_name, MAX_PATH, length) ||
        !WildcardMatches(std::u16string_view(search.pattern, search.pattern_length),
                         std::u16string_view(device_name, length)) ||
        fstatat(search.dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    std::memset(&record, 0, sizeof(record));
    record.dwFileAttributes = AttributesOf(st);
    auto size = static_cast<uint64_t>(S_ISDIR(st.st_mode) ? 0 : st.st_size);
    record.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    record.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    record.ftCreationTime = FileTimeOf(st.st_ctim);
    record.ftLastAccessTime = FileTimeOf(st.st_atim);
    record.ftLastWriteTime = FileTimeOf(st.st_mtim);
    std::memcpy(record.cFileName, device_name, (length + 1) * sizeof(char16_t));
    RememberYieldedEntry(search.dir_fd, name, st);
    return true;
}

/* Advances `search` to its next matching entry and describes it in
 * `record`.  False at the directory's end or on a read error. */
bool NextMatch(Search &search, WIN32_FIND_DATAW &record)
{
    for (;;) {
        if (search.offset >= search.filled) {
            /* The directory may have been moved out of the root since it
             * was opened: then the search ends. */
            if (!FdStillInsideRoot(search.dir_fd)) {
                search.filled = 0;
                search.offset = 0;
                return false;
            }
            long got =
                syscall(SYS_getdents64, search.dir_fd, search.entries, sizeof(search.entries));
            if (got <= 0) {
                search.filled = 0;
                search.offset = 0;
                return false;
            }
            search.filled = got;
            search.offset = 0;
        }
        const char *entry = search.entries + search.offset;
        unsigned short length = 0;
        std::memcpy(&length, entry + kRecordLengthOffset, sizeof(length));
        if (length == 0) {
            search.filled = 0; /* Malformed record: read the next block. */
            continue;
        }
        search.offset += length;
        const char *name = entry + kRecordNameOffset;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        if (DescribeEntry(search, name, record)) {
            return true;
        }
    }
}

HANDLE FindFirstFileImpl(LPCWSTR path, LPWIN32_FIND_DATAW record)
{
    if (path == nullptr || record == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    size_t total = 0;
    while (total < kPathLimit && path[total] != 0) {
        ++total;
    }
    std::u16string_view view(path, total);
    size_t cut = view.find_last_of(u"\\/");
    /* The directory keeps its separator: its name is not a path's last, whose
     * trailing dots and spaces the platform would drop. */
    std::u16string_view directory =
        cut == std::u16string_view::npos ? u"" : view.substr(0, cut + 1);
    std::u16string_view pattern = cut == std::u16string_view::npos ? view : view.substr(cut + 1);
    /* As in any path, the pattern loses its trailing dots and spaces ("*." is "*"). */
    if (!WithoutTrailingDotsAndSpaces(pattern).empty()) {
        pattern = WithoutTrailingDotsAndSpaces(pattern);
    }
    if (pattern.empty() || pattern.size() >= MAX_PATH) {
        return INVALID_HANDLE_VALUE;
    }

    std::string relative;
    if (!ResolveDevicePath(DeviceRootFd(), directory, relative)) {
        return INVALID_HANDLE_VALUE;
    }
    int dir_fd = OpenInRoot(DeviceRootFd(), relative.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir_fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    Search *search = OpenSearchSlot(dir_fd);
    if (search == nullptr) {
        close(dir_fd);
        return INVALID_HANDLE_VALUE;
    }
    std::memcpy(search->pattern, pattern.data(), pattern.size() * sizeof(char16_t));
    search->pattern[pattern.size()] = 0;
    search->pattern_length = pattern.size();
    RememberDirectory(directory, dir_fd);
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

} // namespace

} // namespace coredll

using coredll::TraceEnabled;
using coredll::TraceLine;

extern "C" HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData)
{
    HANDLE result = coredll::CallOrFail<HANDLE>(INVALID_HANDLE_VALUE, [&] {
        return coredll::FindFirstFileImpl(lpFileName, lpFindFileData);
    });
    if (TraceEnabled()) {
        TraceLine line("FindFirstFileW");
        line.Text(lpFileName);
        if (result != INVALID_HANDLE_VALUE) {
            line.Text(lpFindFileData->cFileName, MAX_PATH);
        } else {
            line.Pointer(lpFindFileData);
        }
        line.FinishPointer(result);
    }
    return result;
}

extern "C" BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData)
{
    BOOL result = coredll::FindNextFileImpl(hFindFile, lpFindFileData);
    if (TraceEnabled()) {
        TraceLine line("FindNextFileW");
        line.Pointer(hFindFile);
        if (result) {
            line.Text(lpFindFileData->cFileName, MAX_PATH);
        } else {
            line.Pointer(lpFindFileData);
        }
        line.Finish(result);
    }
    return result;
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile)
{
    BOOL result = coredll::FindCloseImpl(hFindFile);
    if (TraceEnabled()) {
        TraceLine line("FindClose");
        line.Pointer(hFindFile);
        line.Finish(result);
    }
    return result;
}
