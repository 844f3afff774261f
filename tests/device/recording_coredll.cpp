// recording_coredll.cpp - a recording substitute for the platform's core library.
#include "recording_coredll.h"

#include <cstdarg>
#include <cstring>

namespace recording {
namespace {

World world;
std::vector<std::string> calls;
int callCount = 0;
int openSearches = 0;
int openKeys = 0;
std::size_t nextEntry = 0;

// A non-null handle that is not INVALID_HANDLE_VALUE.
char searchToken;
char keyToken;

std::string Narrow(LPCWSTR text)
{
    std::string out;
    for (; *text != 0; ++text) {
        char16_t c = *text;
        out += (c < 0x80) ? static_cast<char>(c) : '?';
    }
    return out;
}

std::string Quoted(LPCWSTR text)
{
    return "(\"" + Narrow(text) + "\")";
}

// Records a call; true when it is the one scripted to fail.
bool Record(const std::string &text)
{
    calls.push_back(text);
    ++callCount;
    return callCount == world.failingCall;
}

void FillRecord(LPWIN32_FIND_DATAW record, const std::u16string &name)
{
    std::memset(record, 0, sizeof(*record));
    if (world.rawNameWithoutTerminator) {
        for (char16_t &c : record->cFileName) {
            c = u'x';
        }
        return;
    }
    std::size_t length = name.size() < MAX_PATH - 1 ? name.size() : MAX_PATH - 1;
    std::memcpy(record->cFileName, name.data(), length * sizeof(char16_t));
}

} // namespace

World &TheWorld()
{
    return world;
}

const std::vector<std::string> &Calls()
{
    return calls;
}

int OpenSearches()
{
    return openSearches;
}

int OpenKeys()
{
    return openKeys;
}

void Reset()
{
    world = World();
    calls.clear();
    callCount = 0;
    openSearches = 0;
    openKeys = 0;
    nextEntry = 0;
}

std::vector<BYTE> StringData(const std::u16string &text)
{
    std::vector<BYTE> data;
    for (char16_t c : text) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

} // namespace recording

using recording::Quoted;
using recording::Record;
using recording::world;

extern "C" {

HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData)
{
    bool fails = Record("FindFirstFileW" + Quoted(lpFileName));
    if (fails || !world.searchOpens || world.entries.empty()) {
        return INVALID_HANDLE_VALUE;
    }
    recording::nextEntry = 1;
    recording::FillRecord(lpFindFileData, world.entries[0]);
    ++recording::openSearches;
    return &recording::searchToken;
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData)
{
    bool fails = Record("FindNextFileW");
    if (fails || hFindFile != &recording::searchToken ||
        recording::nextEntry >= world.entries.size()) {
        return FALSE;
    }
    recording::FillRecord(lpFindFileData, world.entries[recording::nextEntry++]);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile)
{
    bool fails = Record("FindClose");
    if (hFindFile == &recording::searchToken) {
        --recording::openSearches;
    }
    return fails ? FALSE : TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName)
{
    return Record("DeleteFileW" + Quoted(lpFileName)) ? FALSE : TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    bool fails = Record("CreateDirectoryW" + Quoted(lpPathName));
    return (fails || lpSecurityAttributes != NULL) ? FALSE : TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName)
{
    return Record("RemoveDirectoryW" + Quoted(lpPathName)) ? FALSE : TRUE;
}

BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName)
{
    std::string text = "MoveFileW(\"" + recording::Narrow(lpExistingFileName) + "\", \"" +
                       recording::Narrow(lpNewFileName) + "\")";
    return Record(text) ? FALSE : TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName)
{
    bool fails = Record("GetFileAttributesW" + Quoted(lpFileName));
    return fails ? INVALID_FILE_ATTRIBUTES : world.cabinetAttributes;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    bool fails = Record("GetModuleFileNameW(" + std::to_string(nSize) + ")");
    if (fails || hModule != NULL || !world.moduleKnown || nSize == 0) {
        return 0;
    }
    // As the platform does: a path that does not fit is cut to nSize - 1
    // characters and terminated, and nSize is returned.
    const std::u16string &path = world.modulePath;
    DWORD length = static_cast<DWORD>(path.size());
    DWORD copied = length < nSize ? length : nSize - 1;
    std::memcpy(lpFilename, path.data(), copied * sizeof(char16_t));
    lpFilename[copied] = 0;
    return length < nSize ? length : nSize;
}

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult)
{
    std::string text = "RegOpenKeyExW(" +
                       std::string(hKey == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "?") +
                       ", \"" + recording::Narrow(lpSubKey) + "\", " + std::to_string(ulOptions) +
                       ", " + std::to_string(samDesired) + ")";
    if (Record(text) || !world.keyExists) {
        return ERROR_FILE_NOT_FOUND;
    }
    ++recording::openKeys;
    *phkResult = reinterpret_cast<HKEY>(&recording::keyToken);
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData)
{
    std::string text = "RegQueryValueExW" + Quoted(lpValueName) + " size " +
                       std::to_string(lpcbData != NULL ? *lpcbData : 0);
    if (Record(text) || hKey != reinterpret_cast<HKEY>(&recording::keyToken) ||
        lpReserved != NULL) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!world.valueExists) {
        return ERROR_FILE_NOT_FOUND;
    }
    DWORD needed = static_cast<DWORD>(world.valueData.size());
    if (lpType != NULL) {
        *lpType = world.valueType;
    }
    if (lpData != NULL && *lpcbData < needed) {
        *lpcbData = needed;
        return ERROR_MORE_DATA;
    }
    if (lpData != NULL && needed > 0) {
        std::memcpy(lpData, world.valueData.data(), needed);
    }
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    bool fails = Record("RegCloseKey");
    if (hKey == reinterpret_cast<HKEY>(&recording::keyToken)) {
        --recording::openKeys;
    }
    return fails ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...)
{
    va_list arguments;
    va_start(arguments, lpFmt);
    int written = 0;
    for (LPCWSTR f = lpFmt; *f != 0; ++f) {
        if (f[0] == u'%' && f[1] == u's') {
            for (LPCWSTR s = va_arg(arguments, LPCWSTR); *s != 0; ++s) {
                lpOut[written++] = *s;
            }
            ++f;
        } else if (f[0] == u'%' && f[1] == u'%') {
            lpOut[written++] = u'%';
            ++f;
        } else {
            lpOut[written++] = *f;
        }
    }
    lpOut[written] = 0;
    va_end(arguments);
    return written;
}

} // extern "C"
