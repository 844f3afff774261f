/*
 * process_calls.cpp - GetModuleFileNameW and wsprintfW.
 */
#include "coredll.h"
#include "api/format_api.h"
#include "platform_functions.h"

#include <vector>

namespace cerun {

namespace {

/* Most characters a module path is given; a larger buffer is taken as this. */
constexpr uint32_t kModulePathLimit = 32768;

} // namespace

bool CallGetModuleFileNameW(PlatformCall &call)
{
    uint32_t module = 0, buffer_address = 0, size = 0;
    if (!call.Argument(0, module) || !call.Argument(1, buffer_address) || !call.Argument(2, size)) {
        return false;
    }
    /* The program's own instance names the program, as NULL does. */
    HMODULE host_module = module == 0 || module == call.ModuleBase()
                              ? nullptr
                              : static_cast<HMODULE>(HandleTable::Invalid());
    /* CE reads the size as signed: above 0x7FFFFFFF it is no size at all. */
    if (size > 0x7FFFFFFFu) {
        size = 0;
    } else if (size > kModulePathLimit) {
        size = kModulePathLimit;
    }
    std::vector<WCHAR> buffer(size + 1);
    DWORD length =
        GetModuleFileNameW(host_module, buffer_address != 0 ? buffer.data() : nullptr, size);
    call.Return(length);
    if (length == 0) {
        return true;
    }
    /* The path and its NUL: a path that does not fit fails (length 0). */
    const size_t written = length + 1;
    std::vector<uint8_t> bytes(2 * written);
    for (size_t i = 0; i < written; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(buffer[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(buffer[i] >> 8);
    }
    return call.Memory().Write(buffer_address, bytes.data(), bytes.size());
}

/* Variadic: the "%s" arguments follow the buffer and the format, in r2, r3
 * and then on the stack. */
bool CallWsprintfW(PlatformCall &call)
{
    uint32_t out_address = 0, format_address = 0;
    std::u16string format;
    if (!call.Argument(0, out_address) || !call.Argument(1, format_address) ||
        !call.Memory().ReadWide(format_address, format)) {
        return false;
    }
    size_t count = coredll::FormatArgumentCount(format.c_str());
    if (count > coredll::kFormatArgumentLimit) {
        count = coredll::kFormatArgumentLimit;
    }
    std::u16string texts[coredll::kFormatArgumentLimit];
    LPCWSTR pointers[coredll::kFormatArgumentLimit] = {};
    size_t capacity = format.size() + 1;
    for (size_t i = 0; i < count; ++i) {
        uint32_t address = 0;
        if (!call.Argument(static_cast<unsigned>(2 + i), address) ||
            !StringArgument(call, address, texts[i], pointers[i])) {
            return false;
        }
        capacity += pointers[i] != nullptr ? texts[i].size() : 6; /* "(null)" */
    }
    std::vector<WCHAR> out(capacity);
    int written = FormatWide(out.data(), format.c_str(), pointers, count);
    std::vector<uint8_t> bytes(2 * (static_cast<size_t>(written) + 1));
    for (size_t i = 0; i < bytes.size() / 2; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(out[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(out[i] >> 8);
    }
    call.Return(static_cast<uint32_t>(written));
    return call.Memory().Write(out_address, bytes.data(), bytes.size());
}

} // namespace cerun
