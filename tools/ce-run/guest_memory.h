/*
 * guest_memory.h - reading and writing the emulated program's memory on
 * behalf of a platform call.
 *
 * Every access goes through Unicorn, so an address the program never mapped
 * (or may not write) fails instead of reaching host memory; the first
 * failure is kept as the call's fault message.
 */
#ifndef CE_RUN_GUEST_MEMORY_H
#define CE_RUN_GUEST_MEMORY_H

#include <unicorn/unicorn.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace cerun {

/* Longest string a platform call reads, in characters (a guard against a
 * string without its terminator running through all memory). */
constexpr size_t kGuestStringLimit = 32768;

class GuestMemory {
  public:
    explicit GuestMemory(uc_engine *uc) : uc_(uc)
    {
    }

    bool ReadU32(uint32_t address, uint32_t &value);
    bool WriteU32(uint32_t address, uint32_t value);
    bool Read(uint32_t address, void *out, size_t size);
    bool Write(uint32_t address, const void *data, size_t size);
    /* The NUL-terminated UTF-16 string at `address` (without the NUL), of
     * at most kGuestStringLimit characters. */
    bool ReadWide(uint32_t address, std::u16string &out)
    {
        return ScanWide(address, kGuestStringLimit, kGuestStringLimit, out);
    }
    /* The UTF-16 string at `address` read to its NUL, as the device reads
     * one, its first `keep` characters into `out`; fails at memory the
     * program cannot read, or past `limit` characters. */
    bool ScanWide(uint32_t address, size_t keep, size_t limit, std::u16string &out);

    /* The first failed access, described; empty when none failed. */
    const std::string &Failure() const
    {
        return failure_;
    }
    /* Keeps `why` as the failure unless one is kept; returns false. */
    bool Fail(const std::string &why);

  private:
    bool Fail(const char *what, uint32_t address, size_t size);

    uc_engine *uc_;
    std::string failure_;
};

} // namespace cerun

#endif /* CE_RUN_GUEST_MEMORY_H */
