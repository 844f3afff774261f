/*
 * platform_call.h - one COREDLL call made by the emulated program.
 *
 * The arguments follow the ARM procedure call standard: the first four in
 * r0-r3, the rest on the stack from SP upwards; the result goes to r0.
 */
#ifndef CE_RUN_PLATFORM_CALL_H
#define CE_RUN_PLATFORM_CALL_H

#include "guest_memory.h"
#include "handle_table.h"

#include <unicorn/unicorn.h>

#include <cstdint>
#include <string>

namespace cerun {

class PlatformCall {
  public:
    PlatformCall(uc_engine *uc, HandleTable &handles, uint32_t module_base)
        : uc_(uc), memory_(uc), handles_(handles), module_base_(module_base)
    {
    }

    /* Argument `index` (from 0); false when its stack word cannot be read. */
    bool Argument(unsigned index, uint32_t &value);
    void Return(uint32_t value);

    GuestMemory &Memory()
    {
        return memory_;
    }
    HandleTable &Handles()
    {
        return handles_;
    }
    uint32_t ModuleBase() const
    {
        return module_base_;
    }

  private:
    uc_engine *uc_;
    GuestMemory memory_;
    HandleTable &handles_;
    uint32_t module_base_;
};

/* A COREDLL function: false when the program passed memory it cannot
 * access (the call's memory failure says where). */
using PlatformFunction = bool (*)(PlatformCall &call);

/* One export of COREDLL's: its name, its ordinal and ce-run's function. */
struct CoredllExport {
    const char *name;
    uint16_t ordinal;
    PlatformFunction function;
};

/* The export named `name`, or when `name` is empty the one with `ordinal`;
 * nullptr when it is not among those ce-run provides. */
const CoredllExport *FindCoredllExport(const std::string &name, uint16_t ordinal);

} // namespace cerun

#endif /* CE_RUN_PLATFORM_CALL_H */
