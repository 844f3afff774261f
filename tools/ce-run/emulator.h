/*
 * emulator.h - running a loaded device executable on an emulated ARM CPU.
 *
 * Memory as the program sees it: the image at its load base, one page of
 * COREDLL entry points (each import slot holds one), a 64 KiB stack with
 * nothing mapped below it, and the command line.  The entry runs in Thumb
 * state with the loader's four arguments (instance, 0, command line, show
 * flag) and returns, when it returns, to the first entry point of the page.
 *
 * Each COREDLL entry point is a "bx lr"; before it executes, the runner
 * makes the host layer's call with the program's arguments, puts the result
 * in r0 and, as a real call may, leaves r1-r3 and r12 scrambled.
 */
#ifndef CE_RUN_EMULATOR_H
#define CE_RUN_EMULATOR_H

#include "pe_image.h"
#include "platform_call.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cerun {

enum class CpuModel { ArmV5te, ArmV7 };

/* Addresses above this belong to the runner: an image must end below it. */
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

/* Runs the program until it ends the process or faults. */
RunReport RunProgram(const RunRequest &request);

const char *CpuModelName(CpuModel cpu);

} // namespace cerun

#endif /* CE_RUN_EMULATOR_H */
