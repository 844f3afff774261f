/*
 * guest_memory.cpp - the emulated program's memory, for platform calls.
 */
#include "guest_memory.h"

#include <cstdio>

namespace cerun {

bool GuestMemory::Fail(const char *what, uint32_t address, size_t size)
{
    char text[128];
    std::snprintf(text, sizeof(text), "cannot %s %zu bytes at 0x%08X", what, size, address);
    return Fail(std::string(text));
}

bool GuestMemory::Fail(const std::string &why)
{
    if (failure_.empty()) {
        failure_ = why;
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
    /* A platform call writes only where the program itself may write: each
     * byte in a writable region (a buffer may span two). */
    uint32_t count = 0;
    uc_mem_region *regions = nullptr;
    if (uc_mem_regions(uc_, &regions, &count) != UC_ERR_OK) {
        return Fail("write", address, size);
    }
    const uint64_t end = uint64_t{address} + size;
    uint64_t at = address;
    for (bool found = true; at < end && found;) {
        found = false;
        for (uint32_t i = 0; i < count && !found; ++i) {
            found = (regions[i].perms & UC_PROT_WRITE) != 0 && regions[i].begin <= at &&
                    at <= regions[i].end;
            at = found ? regions[i].end + 1 : at;
        }
    }
    uc_free(regions);
    if (at < end || uc_mem_write(uc_, address, data, size) != UC_ERR_OK) {
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

bool GuestMemory::ScanWide(uint32_t address, size_t keep, size_t limit, std::u16string &out)
{
    out.clear();
    /* A block at a time, each inside one page: a block that cannot be read
     * cannot be from its first byte.  The address wraps as the device's. */
    constexpr uint32_t kBlock = 1024;
    uint8_t bytes[kBlock];
    int low = -1; /* a character's first byte, ending the block before */
    size_t scanned = 0;
    for (uint32_t at = address;; at += kBlock - at % kBlock) {
        const uint32_t size = kBlock - at % kBlock;
        if (uc_mem_read(uc_, at, bytes, size) != UC_ERR_OK) {
            return Fail("read", low < 0 ? at : at - 1, 2);
        }
        for (uint32_t i = 0; i < size; ++i) {
            if (low < 0) {
                low = bytes[i];
                continue;
            }
            const auto c = static_cast<char16_t>(low | (bytes[i] << 8));
            low = -1;
            if (c == 0) {
                return true;
            }
            if (scanned++ == limit) {
                return Fail("find the end of the string", address, limit * 2);
            }
            if (out.size() < keep) {
                out.push_back(c);
            }
        }
    }
}

} // namespace cerun
