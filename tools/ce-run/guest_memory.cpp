/*
 * guest_memory.cpp - the emulated program's memory, for platform calls.
 */
#include "guest_memory.h"

#include <cstdio>

namespace cerun {

bool GuestMemory::Fail(const char *what, uint32_t address, size_t size)
{
    if (failure_.empty()) {
        char text[128];
        std::snprintf(text, sizeof(text), "cannot %s %zu bytes at 0x%08X", what, size, address);
        failure_ = text;
    }
    return false;
}

bool GuestMemory::Read(uint32_t address, void *out, size_t size)
{
    if (uint64_t{address} + size > 0x100000000ull ||
        uc_mem_read(uc_, address, out, size) != UC_ERR_OK) {
        return Fail("read", address, size);
    }
    return true;
}

bool GuestMemory::Write(uint32_t address, const void *data, size_t size)
{
    /* A platform call writes only where the program itself may write. */
    uint32_t pages_checked = 0;
    uc_mem_region *regions = nullptr;
    if (uc_mem_regions(uc_, &regions, &pages_checked) != UC_ERR_OK) {
        return Fail("write", address, size);
    }
    bool writable = size == 0;
    uint64_t end = uint64_t{address} + size;
    for (uint32_t i = 0; i < pages_checked && !writable; ++i) {
        writable = (regions[i].perms & UC_PROT_WRITE) != 0 && regions[i].begin <= address &&
                   end - 1 <= regions[i].end;
    }
    uc_free(regions);
    if (!writable || uc_mem_write(uc_, address, data, size) != UC_ERR_OK) {
        return Fail("write", address, size);
    }
    return true;
}

bool GuestMemory::ReadU32(uint32_t address, uint32_t &value)
{
    uint8_t bytes[4];
    if (!Read(address, bytes, sizeof(bytes))) {
        return false;
    }
    value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

bool GuestMemory::WriteU32(uint32_t address, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return Write(address, bytes, sizeof(bytes));
}

bool GuestMemory::ReadWide(uint32_t address, std::u16string &out)
{
    out.clear();
    for (uint32_t at = address; out.size() < kGuestStringLimit; at += 2) {
        uint8_t unit[2];
        if (!Read(at, unit, sizeof(unit))) {
            return false;
        }
        char16_t c = static_cast<char16_t>(unit[0] | (unit[1] << 8));
        if (c == 0) {
            return true;
        }
        out.push_back(c);
    }
    return Fail("find the end of the string", address, kGuestStringLimit * 2);
}

} // namespace cerun
