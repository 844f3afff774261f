/*
 * platform_call.cpp - a call's arguments and result.
 */
#include "platform_call.h"

namespace cerun {

bool PlatformCall::Argument(unsigned index, uint32_t &value)
{
    static const int kRegisters[4] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
    if (index < 4) {
        value = 0;
        return uc_reg_read(uc_, kRegisters[index], &value) == UC_ERR_OK;
    }
    uint32_t sp = 0;
    uc_reg_read(uc_, UC_ARM_REG_SP, &sp);
    return memory_.ReadU32(sp + 4 * (index - 4), value);
}

void PlatformCall::Return(uint32_t value)
{
    uc_reg_write(uc_, UC_ARM_REG_R0, &value);
}

} // namespace cerun
