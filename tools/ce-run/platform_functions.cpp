/*
 * platform_functions.cpp - the COREDLL exports ce-run provides.
 */
#include "platform_functions.h"

#include <cstring>

namespace cerun {

namespace {

/* COREDLL's exports that ce-run provides, with their ordinals (the same in
 * CE 5.0's CORE/DLL/coredll.def and later versions' core_common.def). */
const CoredllExport kExports[] = {
    {"wsprintfW", 56, CallWsprintfW},
    {"CreateDirectoryW", 160, CallCreateDirectoryW},
    {"RemoveDirectoryW", 161, CallRemoveDirectoryW},
    {"MoveFileW", 163, CallMoveFileW},
    {"DeleteFileW", 165, CallDeleteFileW},
    {"GetFileAttributesW", 166, CallGetFileAttributesW},
    {"FindFirstFileW", 167, CallFindFirstFileW},
    {"FindClose", 180, CallFindClose},
    {"FindNextFileW", 181, CallFindNextFileW},
    {"RegCloseKey", 455, CallRegCloseKey},
    {"RegOpenKeyExW", 461, CallRegOpenKeyExW},
    {"RegQueryValueExW", 463, CallRegQueryValueExW},
    {"GetModuleFileNameW", 537, CallGetModuleFileNameW},
};

} // namespace

const CoredllExport *FindCoredllExport(const std::string &name, uint16_t ordinal)
{
    for (const CoredllExport &entry : kExports) {
        if (name.empty() ? ordinal == entry.ordinal : name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

bool StringArgument(PlatformCall &call, uint32_t address, std::u16string &text,
                    const char16_t *&pointer)
{
    pointer = nullptr;
    if (address == 0) {
        return true;
    }
    if (!call.Memory().ReadWide(address, text)) {
        return false;
    }
    pointer = text.c_str();
    return true;
}

} // namespace cerun
