/*
 * platform_functions.cpp - the COREDLL functions by name.
 */
#include "platform_functions.h"

#include <cstring>

namespace cerun {

namespace {

struct NamedFunction {
    const char *name;
    PlatformFunction function;
};

const NamedFunction kFunctions[] = {
    {"CreateDirectoryW", CallCreateDirectoryW},
    {"DeleteFileW", CallDeleteFileW},
    {"ExitProcess", CallExitProcess},
    {"FindClose", CallFindClose},
    {"FindFirstFileW", CallFindFirstFileW},
    {"FindNextFileW", CallFindNextFileW},
    {"GetFileAttributesW", CallGetFileAttributesW},
    {"GetModuleFileNameW", CallGetModuleFileNameW},
    {"MoveFileW", CallMoveFileW},
    {"RegCloseKey", CallRegCloseKey},
    {"RegOpenKeyExW", CallRegOpenKeyExW},
    {"RegQueryValueExW", CallRegQueryValueExW},
    {"RemoveDirectoryW", CallRemoveDirectoryW},
    {"wsprintfW", CallWsprintfW},
};

} // namespace

PlatformFunction FindPlatformFunction(const std::string &name)
{
    for (const NamedFunction &entry : kFunctions) {
        if (name == entry.name) {
            return entry.function;
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
