/*
 * process_calls.cpp - GetModuleFileNameW and wsprintfW.
 */
#include "coredll.h"
#include "api/format_api.h"
#include "platform_functions.h"

#include <string>
#include <vector>

namespace cerun {

namespace {

/* Most characters a module path is given; a larger buffer is taken as this. */
constexpr uint32_t kModulePathLimit = 32768;

/* Most characters in the program's address space: a string's longest scan. */
constexpr size_t kAddressSpaceCharacters = size_t{1} << 31;

/* wsprintfW's format and arguments, read from the program's memory when the
 * formatting reaches each: the format at r1, the arguments from r2 on (r2,
 * r3, then the stack upwards, as the device's va_arg takes them), each
 * string read to its NUL however long, as the device's C runtime scans it. */
class GuestFormatInput final : public coredll::FormatInput {
  public:
    GuestFormatInput(PlatformCall &call, uint32_t format) : call_(call), format_(format)
    {
    }
    bool FormatCharacter(size_t index, char16_t &c) override
    {
        uint8_t unit[2];
        if (!call_.Memory().Read(static_cast<uint32_t>(format_ + 2 * index), unit, 2)) {
            return false;
        }
        c = static_cast<char16_t>(unit[0] | (unit[1] << 8));
        return true;
    }
    bool NextString(size_t wanted, const char16_t *&text, size_t &length) override
    {
        uint32_t address = 0;
        text = nullptr;
        length = 0;
        if (!call_.Argument(next_++, address)) {
            return false;
        }
        if (address != 0) {
            if (!call_.Memory().ScanWide(address, wanted, kAddressSpaceCharacters, text_)) {
                return false;
            }
            text = text_.c_str();
            length = text_.size();
        }
        return true;
    }
    bool Unformatted(char16_t conversion) override
    {
        /* One of the runtime's conversion characters, all ASCII. */
        return call_.Memory().Fail(std::string("the format's conversion \"%") +
                                   static_cast<char>(conversion) +
                                   "\" is not one ce-run formats (only %s and %%)");
    }

  private:
    PlatformCall &call_;
    uint32_t format_;
    unsigned next_ = 2;
    std::u16string text_;
};

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

bool CallWsprintfW(PlatformCall &call)
{
    uint32_t out_address = 0, format_address = 0;
    if (!call.Argument(0, out_address) || !call.Argument(1, format_address)) {
        return false;
    }
    GuestFormatInput input(call, format_address);
    WCHAR out[coredll::kFormatOutputLimit + 1];
    const int written = FormatWide(out, input);
    if (written < 0) {
        return false;
    }
    /* The characters and the NUL. */
    const size_t units = static_cast<size_t>(written) + 1;
    uint8_t bytes[sizeof(out)];
    for (size_t i = 0; i < units; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(out[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(out[i] >> 8);
    }
    call.Return(static_cast<uint32_t>(written));
    return call.Memory().Write(out_address, bytes, 2 * units);
}

} // namespace cerun
