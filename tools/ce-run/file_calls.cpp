/*
 * file_calls.cpp - the file and directory calls that take paths.
 */
#include "coredll.h"
#include "platform_functions.h"

namespace cerun {

namespace {

/* The device's SECURITY_ATTRIBUTES: nLength, lpSecurityDescriptor, bInheritHandle. */
constexpr size_t kSecurityAttributesSize = 12;

/* A call taking one path and returning a BOOL or DWORD. */
template <typename Result> bool OnePath(PlatformCall &call, Result (*function)(LPCWSTR))
{
    uint32_t address = 0;
    std::u16string path;
    const char16_t *pointer = nullptr;
    if (!call.Argument(0, address) || !StringArgument(call, address, path, pointer)) {
        return false;
    }
    call.Return(static_cast<uint32_t>(function(pointer)));
    return true;
}

} // namespace

bool CallCreateDirectoryW(PlatformCall &call)
{
    uint32_t path_address = 0, attributes_address = 0;
    std::u16string path;
    const char16_t *path_pointer = nullptr;
    if (!call.Argument(0, path_address) || !call.Argument(1, attributes_address) ||
        !StringArgument(call, path_address, path, path_pointer)) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {};
    LPSECURITY_ATTRIBUTES attributes_pointer = nullptr;
    if (attributes_address != 0) {
        uint32_t words[kSecurityAttributesSize / 4] = {};
        if (!call.Memory().Read(attributes_address, words, sizeof(words))) {
            return false;
        }
        attributes.nLength = words[0];
        attributes.lpSecurityDescriptor = words[1] != 0 ? HandleTable::Invalid() : nullptr;
        attributes.bInheritHandle = static_cast<BOOL>(words[2]);
        attributes_pointer = &attributes;
    }
    call.Return(static_cast<uint32_t>(CreateDirectoryW(path_pointer, attributes_pointer)));
    return true;
}

bool CallDeleteFileW(PlatformCall &call)
{
    return OnePath(call, DeleteFileW);
}

bool CallGetFileAttributesW(PlatformCall &call)
{
    return OnePath(call, GetFileAttributesW);
}

bool CallRemoveDirectoryW(PlatformCall &call)
{
    return OnePath(call, RemoveDirectoryW);
}

bool CallMoveFileW(PlatformCall &call)
{
    uint32_t from_address = 0, to_address = 0;
    std::u16string from, to;
    const char16_t *from_pointer = nullptr;
    const char16_t *to_pointer = nullptr;
    if (!call.Argument(0, from_address) || !call.Argument(1, to_address) ||
        !StringArgument(call, from_address, from, from_pointer) ||
        !StringArgument(call, to_address, to, to_pointer)) {
        return false;
    }
    call.Return(static_cast<uint32_t>(MoveFileW(from_pointer, to_pointer)));
    return true;
}

} // namespace cerun
