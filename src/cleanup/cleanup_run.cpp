/*
 * cleanup_run.cpp - the service pack's one-shot cleanup.
 *
 * All working storage is fixed-size and local to the routine that uses it;
 * nothing is allocated.  Every string is measured before it is formatted
 * into a buffer.
 */
#include "cleanup_run.h"

#include "directory_chains.h"
#include "wide_text.h"

/* Where the run works. */
static const WCHAR OldPackDirectory[] = TEXT("\\Temp\\ServicePackOld");
static const WCHAR PackDirectory[] = TEXT("\\Temp\\ServicePack");
static const WCHAR RelocatedExecutablePath[] = TEXT("\\Temp\\ServicePackOld\\PatchUnInstall.exe");

/* Formats: the search pattern (the old-pack directory) and an entry's path
 * (the old-pack directory and the entry's name). */
static const WCHAR SearchPatternFormat[] = TEXT("%s\\*.*");
static const WCHAR EntryPathFormat[] = TEXT("%s\\%s");

/* The package key's candidate names under HKEY_LOCAL_MACHINE, tried first
 * to last; the first that opens is the package key.  Walked with an 8-bit
 * index, so the table holds at most 255 names. */
static LPCWSTR const PackageKeyNames[] = {
    TEXT("SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13"),
};
#define PACKAGE_KEY_TABLE_SIZE (sizeof(PackageKeyNames) / sizeof(PackageKeyNames[0]))
typedef char PackageKeyNamesFitAByteIndex[(PACKAGE_KEY_TABLE_SIZE <= 255) ? 1 : -1];
static const BYTE PackageKeyNameCount = (BYTE)PACKAGE_KEY_TABLE_SIZE;

static const WCHAR CabinetValueName[] = TEXT("CabFile");

/* Characters in a constant string, without its terminator. */
#define CONSTANT_LENGTH(text) (sizeof(text) / sizeof((text)[0]) - 1)

/* Buffer capacities, in characters unless stated in bytes. */
#define SEARCH_PATTERN_CAPACITY 128
/* The old-pack directory, a separator and the longest name a search yields
 * (MAX_PATH characters with its terminator): no entry is left out. */
#define ENTRY_PATH_CAPACITY (CONSTANT_LENGTH(OldPackDirectory) + 1 + MAX_PATH)
#define MODULE_PATH_CAPACITY (MAX_PATH + 1)
#define MODULE_PATH_SIZE_PASSED MAX_PATH
#define CABINET_DATA_BYTES 128
/* The value's 64 characters and room for a terminator after them. */
#define CABINET_PATH_CAPACITY (CABINET_DATA_BYTES / sizeof(WCHAR) + 1)

/* What the search pattern format adds to the directory: "\*.*". */
#define SEARCH_PATTERN_SUFFIX_LENGTH 4

static const WCHAR Separator = TEXT('\\');
static const WCHAR AlternateSeparator = TEXT('/');

/*
 * HoldsSeparator - whether the first `length` characters of `name` hold a
 * path separator ("\" or "/").  The device's file names never do.
 */
static BOOL HoldsSeparator(LPCWSTR name, UINT length)
{
    UINT index;

    for (index = 0; index < length; ++index) {
        if (name[index] == Separator || name[index] == AlternateSeparator) {
            return TRUE;
        }
    }
    return FALSE;
}

void EmptyOldPackDirectory(void)
{
    WCHAR searchPattern[SEARCH_PATTERN_CAPACITY];
    WCHAR entryPath[ENTRY_PATH_CAPACITY];
    WIN32_FIND_DATAW record;
    HANDLE search;
    UINT directoryLength;
    UINT nameLength;

    ZeroFill(searchPattern, SEARCH_PATTERN_CAPACITY);
    directoryLength = CONSTANT_LENGTH(OldPackDirectory);
    if (directoryLength + SEARCH_PATTERN_SUFFIX_LENGTH >= SEARCH_PATTERN_CAPACITY) {
        return;
    }
    wsprintfW(searchPattern, SearchPatternFormat, OldPackDirectory);

    search = FindFirstFileW(searchPattern, &record);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        ZeroFill(entryPath, ENTRY_PATH_CAPACITY);
        /* A name without a terminator inside the record is not a name the
         * platform could have given, and a name holding a separator would
         * make an entry path that names some other file: leave both. */
        nameLength = BoundedLength(record.cFileName, MAX_PATH);
        if (nameLength < MAX_PATH && !HoldsSeparator(record.cFileName, nameLength) &&
            directoryLength + 1 + nameLength < ENTRY_PATH_CAPACITY) {
            wsprintfW(entryPath, EntryPathFormat, OldPackDirectory, record.cFileName);
            DeleteFileW(entryPath);
        }
    } while (FindNextFileW(search, &record));
    FindClose(search);
}

void RelocateOwnExecutable(void)
{
    WCHAR modulePath[MODULE_PATH_CAPACITY];
    DWORD length;

    ZeroFill(modulePath, MODULE_PATH_CAPACITY);
    length = GetModuleFileNameW(NULL, modulePath, MODULE_PATH_SIZE_PASSED);

    /* 0 is a failure; a full buffer means the path was cut short, and a cut
     * path may name some other file. */
    if (length == 0 || length >= MODULE_PATH_SIZE_PASSED) {
        return;
    }
    MoveFileW(modulePath, RelocatedExecutablePath);
}

void RemoveRecordedCabinet(void)
{
    WCHAR cabinetPath[CABINET_PATH_CAPACITY];
    HKEY key = NULL;
    DWORD type = 0;
    DWORD size;
    DWORD attributes;
    BYTE keyIndex;
    BOOL keyOpen = FALSE;

    for (keyIndex = 0; keyIndex < PackageKeyNameCount; ++keyIndex) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PackageKeyNames[keyIndex], 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            keyOpen = TRUE;
            break;
        }
    }
    if (!keyOpen) {
        return;
    }

    ZeroFill(cabinetPath, CABINET_PATH_CAPACITY);
    size = CABINET_DATA_BYTES;
    if (RegQueryValueExW(key, CabinetValueName, NULL, &type, (LPBYTE)cabinetPath, &size) !=
        ERROR_SUCCESS) {
        RegCloseKey(key);
        return;
    }

    /* The path is the data's whole characters, up to its first NUL; data
     * without a NUL ends where the data ends. */
    if (size > CABINET_DATA_BYTES) {
        size = CABINET_DATA_BYTES;
    }
    cabinetPath[size / sizeof(WCHAR)] = 0;

    attributes = GetFileAttributesW(cabinetPath);
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        DeleteFileW(cabinetPath);
    }
    RegCloseKey(key);
}

int RunCleanup(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showFlag)
{
    (void)instance;
    (void)previousInstance;
    (void)commandLine;
    (void)showFlag;

    EmptyOldPackDirectory();
    EnsureDirectoryChain(OldPackDirectory);
    RelocateOwnExecutable();
    RemoveDirectoryChain(PackDirectory);
    RemoveRecordedCabinet();
    return 0;
}
