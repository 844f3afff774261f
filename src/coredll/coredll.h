/*
 * coredll.h - the platform's core library, as the cleanup program sees it.
 *
 * This is the one seam between the program and the operating system.  The
 * program includes this header and nothing else of the platform's.
 *
 * On a Windows target (the device's own SDK, or a desktop Windows build) it is
 * <windows.h> and nothing more: the program then calls the real library.  A
 * device build made without the SDK (UNDER_CE and COREDLL_WITHOUT_SDK) takes
 * the device's declarations from ce/coredll_ce.h instead.
 *
 * Elsewhere it declares the platform's types, constants and functions with the
 * platform's own spellings, so that the same program sources compile unchanged
 * against a stand-in for the library (the host layer beside this header, or a
 * test's recording substitute).  Only what the program uses is declared.
 *
 * Host notes:
 *   - WCHAR is a 16-bit UTF-16 code unit (char16_t), as on the device, and
 *     TEXT("x") makes a UTF-16 literal.
 *   - WINAPI is empty; every function has C linkage so that one substitute can
 *     stand in for another at link time.
 */
#ifndef COREDLL_H
#define COREDLL_H

#if defined(UNDER_CE) && defined(COREDLL_WITHOUT_SDK)

#include "ce/coredll_ce.h"

#elif defined(_WIN32) || defined(UNDER_CE)

#include <windows.h>

#else

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define WINAPIV

typedef char16_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef unsigned char BYTE;
typedef BYTE *LPBYTE;
typedef int BOOL;
typedef uint32_t DWORD;
typedef DWORD *LPDWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uintptr_t ULONG_PTR;
typedef void *HANDLE;
typedef void *LPVOID;
typedef DWORD REGSAM;

typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;

#define TEXT(s) u##s

#define TRUE 1
#define FALSE 0

#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define FILE_ATTRIBUTE_READONLY 0x00000001

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002)
#define KEY_ALL_ACCESS 0x000F003F

#define ERROR_SUCCESS 0L

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

/* The device's find record: cFileName is the entry's name, NUL-terminated. */
typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwOID;
    WCHAR cFileName[MAX_PATH];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

#ifdef __cplusplus
extern "C" {
#endif

/* File system. */
HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
BOOL WINAPI FindClose(HANDLE hFindFile);
BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName);
BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName);
DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);

/* The running executable. */
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

/* Registry. */
LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult);
LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData);
LONG WINAPI RegCloseKey(HKEY hKey);

/* Formatting: %s (a WCHAR string) and %% only. */
int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...);

/* The program's entry, called by the stand-in's process start-up. */
int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

#ifdef __cplusplus
}
#endif

#endif /* _WIN32 || UNDER_CE */

#endif /* COREDLL_H */
