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
    /* Ends the process with `status` once the call returns. */
    void Exit(uint32_t status)
    {
        exited_ = true;
        exit_status_ = status;
    }

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
    bool Exited() const
    {
        return exited_;
    }
    uint32_t ExitStatus() const
    {
        return exit_status_;
    }

  private:
    uc_engine *uc_;
    GuestMemory memory_;
    HandleTable &handles_;
    uint32_t module_base_;
    bool exited_ = false;
    uint32_t exit_status_ = 0;
};

/* A COREDLL function: false when the program passed memory it cannot
 * access (the call's memory failure says where). */
using PlatformFunction = bool (*)(PlatformCall &call);

/* The function named `name`, or nullptr when the runner does not provide it. */
PlatformFunction FindPlatformFunction(const std::string &name);

} // namespace cerun

#endif /* CE_RUN_PLATFORM_CALL_H */
