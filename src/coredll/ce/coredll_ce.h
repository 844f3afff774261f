/*
 * coredll_ce.h - the device's own declarations of what the program takes
 * from COREDLL.dll, for a Windows CE ARM build made without the device's SDK
 * (UNDER_CE and COREDLL_WITHOUT_SDK; coredll.h includes this file then).
 *
 * Written from the platform's public reference pages, with the SDK's
 * spellings and the device's layouts:
 *   - WCHAR is wchar_t, 16 bits on every Windows target; TEXT("x") is L"x".
 *   - WINAPI is empty: on ARM the platform has one calling convention, the
 *     ARM procedure call standard (AAPCS); the device builds use no
 *     floating point, so no argument ever travels in a VFP register.
 *   - WIN32_FIND_DATAW is the device's record: DWORD dwOID where the desktop
 *     has dwReserved0 and dwReserved1, and no cAlternateFileName.
 *
 * Calls go through the import address table slot, __imp_<name>, which the
 * loader fills with the function's address.  The SDK reaches the same slot
 * with __declspec(dllimport), which an ELF object (the ARMv4 build) cannot
 * express; naming the slot works for both object formats.
 */
#ifndef COREDLL_CE_H
#define COREDLL_CE_H

#ifndef NULL
#define NULL 0
#endif

#define WINAPI
#define WINAPIV

typedef wchar_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef unsigned char BYTE;
typedef BYTE *LPBYTE;
typedef int BOOL;
typedef unsigned long DWORD;
typedef DWORD *LPDWORD;
typedef long LONG;
typedef unsigned int UINT;
typedef long LONG_PTR;
typedef unsigned long ULONG_PTR;
typedef void *HANDLE;
typedef void *LPVOID;
typedef DWORD REGSAM;

typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;

#define TEXT(s) L##s

#define TRUE 1
#define FALSE 0

#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002)
#define KEY_ALL_ACCESS 0x000F003F

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

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

/* The layout facts the device's COREDLL relies on. */
#define COREDLL_CE_CHECK(name, fact) typedef char(name)[(fact) ? 1 : -1]
COREDLL_CE_CHECK(CoreDllWideCharIs16Bits, sizeof(WCHAR) == 2);
COREDLL_CE_CHECK(CoreDllDwordIs32Bits, sizeof(DWORD) == 4);
COREDLL_CE_CHECK(CoreDllPointerIs32Bits, sizeof(LPVOID) == 4 && sizeof(ULONG_PTR) == 4);
COREDLL_CE_CHECK(CoreDllFindRecordIs560Bytes, sizeof(WIN32_FIND_DATAW) == 560);
COREDLL_CE_CHECK(CoreDllFindRecordOidAt36, __builtin_offsetof(WIN32_FIND_DATAW, dwOID) == 36);
COREDLL_CE_CHECK(CoreDllFindRecordNameAt40, __builtin_offsetof(WIN32_FIND_DATAW, cFileName) == 40);
#undef COREDLL_CE_CHECK

/* COREDLL_IMPORT(result, name, parameters) declares COREDLL's `name` as
 * its import slot and makes `name(...)` a call through that slot. */
#define COREDLL_IMPORT(result, name, parameters)                                                   \
    extern "C" result(WINAPI *const __imp_##name) parameters

/* File system. */
COREDLL_IMPORT(HANDLE, FindFirstFileW, (LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData));
COREDLL_IMPORT(BOOL, FindNextFileW, (HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData));
COREDLL_IMPORT(BOOL, FindClose, (HANDLE hFindFile));
COREDLL_IMPORT(BOOL, DeleteFileW, (LPCWSTR lpFileName));
COREDLL_IMPORT(BOOL, CreateDirectoryW,
               (LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes));
COREDLL_IMPORT(BOOL, RemoveDirectoryW, (LPCWSTR lpPathName));
COREDLL_IMPORT(BOOL, MoveFileW, (LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName));
COREDLL_IMPORT(DWORD, GetFileAttributesW, (LPCWSTR lpFileName));
#define FindFirstFileW (*__imp_FindFirstFileW)
#define FindNextFileW (*__imp_FindNextFileW)
#define FindClose (*__imp_FindClose)
#define DeleteFileW (*__imp_DeleteFileW)
#define CreateDirectoryW (*__imp_CreateDirectoryW)
#define RemoveDirectoryW (*__imp_RemoveDirectoryW)
#define MoveFileW (*__imp_MoveFileW)
#define GetFileAttributesW (*__imp_GetFileAttributesW)

/* The running executable. */
COREDLL_IMPORT(DWORD, GetModuleFileNameW, (HMODULE hModule, LPWSTR lpFilename, DWORD nSize));
#define GetModuleFileNameW (*__imp_GetModuleFileNameW)

/* Registry. */
COREDLL_IMPORT(LONG, RegOpenKeyExW,
               (HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult));
COREDLL_IMPORT(LONG, RegQueryValueExW,
               (HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                LPDWORD lpcbData));
COREDLL_IMPORT(LONG, RegCloseKey, (HKEY hKey));
#define RegOpenKeyExW (*__imp_RegOpenKeyExW)
#define RegQueryValueExW (*__imp_RegQueryValueExW)
#define RegCloseKey (*__imp_RegCloseKey)

/* Formatting. */
COREDLL_IMPORT(int, wsprintfW, (LPWSTR lpOut, LPCWSTR lpFmt, ...));
#define wsprintfW (*__imp_wsprintfW)

#undef COREDLL_IMPORT

/* The program's entry, called by the device start-up (ce/startup.cpp). */
extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine,
                              int nShowCmd);

#endif /* COREDLL_CE_H */
