/*
 * registry_calls.cpp - RegOpenKeyExW, RegQueryValueExW and RegCloseKey.
 *
 * The predefined keys (0x80000000 to 0x80000005) are the same numbers on
 * both sides; an opened key crosses through the handle table.
 */
#include "coredll.h"
#include "platform_names.h"
#include "platform_functions.h"

#include <vector>

namespace cerun {

namespace {

constexpr uint32_t kFirstPredefinedKey = 0x80000000;
constexpr uint32_t kLastPredefinedKey = 0x80000005;
constexpr LONG kErrorNotEnoughMemory = 8;
/* Most value bytes a query hands over; a larger buffer is taken as this. */
constexpr uint32_t kValueBytesLimit = 1u << 20;

HKEY HostKey(PlatformCall &call, uint32_t key)
{
    if (key >= kFirstPredefinedKey && key <= kLastPredefinedKey) {
        return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key));
    }
    return static_cast<HKEY>(call.Handles().Find(HandleKind::Key, key));
}

/* An optional DWORD the program passes by address: read before the call,
 * written back after it. */
struct DwordArgument {
    uint32_t address = 0;
    DWORD value = 0;

    bool Read(PlatformCall &call)
    {
        return address == 0 || call.Memory().ReadU32(address, value);
    }
    DWORD *Pointer()
    {
        return address != 0 ? &value : nullptr;
    }
    bool Write(PlatformCall &call) const
    {
        return address == 0 || call.Memory().WriteU32(address, value);
    }
};

} // namespace

bool CallRegOpenKeyExW(PlatformCall &call)
{
    uint32_t key = 0, subkey_address = 0, options = 0, access = 0, result_address = 0;
    std::u16string subkey;
    const char16_t *subkey_pointer = nullptr;
    if (!call.Argument(0, key) || !call.Argument(1, subkey_address) || !call.Argument(2, options) ||
        !call.Argument(3, access) || !call.Argument(4, result_address) ||
        !StringArgument(call, subkey_address, subkey, subkey_pointer)) {
        return false;
    }
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExW(HostKey(call, key), subkey_pointer, options, access,
                                result_address != 0 ? &opened : nullptr);
    if (status != ERROR_SUCCESS) {
        call.Return(static_cast<uint32_t>(status));
        return true;
    }
    uint32_t handle = call.Handles().Add(HandleKind::Key, opened);
    if (handle == 0) {
        RegCloseKey(opened);
        call.Return(static_cast<uint32_t>(kErrorNotEnoughMemory));
        return true;
    }
    call.Return(ERROR_SUCCESS);
    return call.Memory().WriteU32(result_address, handle);
}

bool CallRegQueryValueExW(PlatformCall &call)
{
    uint32_t key = 0, name_address = 0, data_address = 0;
    DwordArgument reserved, type, size;
    std::u16string name;
    const char16_t *name_pointer = nullptr;
    if (!call.Argument(0, key) || !call.Argument(1, name_address) ||
        !call.Argument(2, reserved.address) || !call.Argument(3, type.address) ||
        !call.Argument(4, data_address) || !call.Argument(5, size.address) ||
        !StringArgument(call, name_address, name, name_pointer) || !reserved.Read(call) ||
        !type.Read(call) || !size.Read(call)) {
        return false;
    }
    if (size.value > kValueBytesLimit) {
        size.value = kValueBytesLimit;
    }
    std::vector<BYTE> data(data_address != 0 ? size.value + 1 : 0);
    LONG status =
        RegQueryValueExW(HostKey(call, key), name_pointer, reserved.Pointer(), type.Pointer(),
                         data_address != 0 ? data.data() : nullptr, size.Pointer());
    call.Return(static_cast<uint32_t>(status));
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
        return true;
    }
    if (status == ERROR_SUCCESS && data_address != 0 && size.address != 0 &&
        !call.Memory().Write(data_address, data.data(),
                             size.value < data.size() ? size.value : 0)) {
        return false;
    }
    return type.Write(call) && size.Write(call);
}

bool CallRegCloseKey(PlatformCall &call)
{
    uint32_t key = 0;
    if (!call.Argument(0, key)) {
        return false;
    }
    LONG status = RegCloseKey(HostKey(call, key));
    if (status == ERROR_SUCCESS) {
        call.Handles().Remove(key);
    }
    call.Return(static_cast<uint32_t>(status));
    return true;
}

} // namespace cerun
