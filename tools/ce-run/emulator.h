/*
 * emulator.h - running a loaded device executable on an emulated ARM CPU.
 *
 * Memory as the program sees it: the image at its load base, one page of
 * COREDLL entry points (each import slot holds one), the stack the loader
 * gives with nothing mapped below it, and the command line.  The entry is
 * entered as COREDLL's MainThreadBaseFunc calls it, by an interworking call
 * (Thumb when bit 0 of its address is set, else ARM), with the loader's four
 * arguments (instance, 0, command line, show flag); its return, to the
 * first entry point of the page, ends the process with r0 as the status.
 *
 * Each COREDLL entry point is a return: in ARM state for an ARM or THUMB
 * program (for THUMB the stricter case, reached from Thumb code only through
 * BX), "bx lr", or "mov pc, lr" on ARMv4, which has no BX; in Thumb state
 * for an ARMNT one, "bx lr".  Before it executes, the
 * runner makes the host layer's call with the program's arguments, puts the
 * result in r0 and, as a real call may, leaves r1-r3 and r12 scrambled.
 */
#ifndef CE_RUN_EMULATOR_H
#define CE_RUN_EMULATOR_H

#include "pe_image.h"
#include "platform_call.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cerun {

/* ARMv4 without Thumb (StrongARM SA-1110), ARMv4T (TI925T), ARMv5TE (ARM926),
 * ARMv6 (ARM1136), ARMv7 (Cortex-A8). */
enum class CpuModel { ArmV4, ArmV4t, ArmV5te, ArmV6, ArmV7 };

/* Addresses above this belong to the runner (the stack, up to 1 MiB, the
 * command line and COREDLL's entry points): an image must end below it. */
constexpr uint32_t kRunnerRegionsStart = 0x7FE00000;
/* The lowest base an image may have (page 0 stays unmapped). */
constexpr uint32_t kLowestImageBase = 0x00010000;

/* An import and the runner's function for it. */
struct BoundImport {
    std::string name;
    uint32_t slot_rva = 0;
    PlatformFunction function = nullptr;
};

struct RunRequest {
    const PeImage *image = nullptr; /* Relocated for `base`. */
    uint32_t base = 0;
    std::vector<BoundImport> imports;
    CpuModel cpu = CpuModel::ArmV7;
    bool arm_coredll = false; /* COREDLL's entry points in ARM state. */
    uint32_t stack_size = 0x10000;
    std::u16string command_line;
    uint64_t instruction_budget = 0;
};

struct RunReport {
    bool faulted = false;
    std::string fault; /* What went wrong, for the user. */
    uint32_t exit_status = 0;
    uint64_t instructions = 0;         /* All, the COREDLL entry points included. */
    uint64_t program_instructions = 0; /* Those inside the image. */
    uint64_t platform_calls = 0;
    uint32_t peak_stack_bytes = 0; /* Deepest SP below the initial SP. */
};

/* Runs the program until its entry returns or it faults. */
RunReport RunProgram(const RunRequest &request);

const char *CpuModelName(CpuModel cpu);

} // namespace cerun

#endif /* CE_RUN_EMULATOR_H */
