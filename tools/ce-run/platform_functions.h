/*
 * platform_functions.h - the COREDLL functions the runner provides, each
 * calling the host layer's function of the same name.
 */
#ifndef CE_RUN_PLATFORM_FUNCTIONS_H
#define CE_RUN_PLATFORM_FUNCTIONS_H

#include "platform_call.h"

namespace cerun {

/* Helpers shared by the function files. */

/* The string argument at `address` into `text`; `pointer` is its host
 * pointer, or nullptr for a NULL argument. */
bool StringArgument(PlatformCall &call, uint32_t address, std::u16string &text,
                    const char16_t *&pointer);

/* file_calls.cpp */
bool CallCreateDirectoryW(PlatformCall &call);
bool CallDeleteFileW(PlatformCall &call);
bool CallGetFileAttributesW(PlatformCall &call);
bool CallMoveFileW(PlatformCall &call);
bool CallRemoveDirectoryW(PlatformCall &call);

/* find_calls.cpp */
bool CallFindFirstFileW(PlatformCall &call);
bool CallFindNextFileW(PlatformCall &call);
bool CallFindClose(PlatformCall &call);

/* registry_calls.cpp */
bool CallRegOpenKeyExW(PlatformCall &call);
bool CallRegQueryValueExW(PlatformCall &call);
bool CallRegCloseKey(PlatformCall &call);

/* process_calls.cpp */
bool CallGetModuleFileNameW(PlatformCall &call);
bool CallWsprintfW(PlatformCall &call);

} // namespace cerun

#endif /* CE_RUN_PLATFORM_FUNCTIONS_H */
