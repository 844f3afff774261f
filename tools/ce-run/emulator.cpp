/*
 * emulator.cpp - the program on Unicorn, its COREDLL calls and its faults.
 */
#include "emulator.h"

#include "handle_table.h"
#include "platform_call.h"

#include <unicorn/unicorn.h>

#include <cstdio>
#include <memory>

namespace cerun {

namespace {

constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kStackTop = 0x7FF00000;
constexpr uint32_t kCommandLineBase = 0x7FF80000;
constexpr uint32_t kCommandLineSize = 0x10000;
constexpr uint32_t kEntryPointPage = 0x7FFF0000;
constexpr uint32_t kEntryPointSpacing = 4;
/* Emulation never reaches this address; it only bounds uc_emu_start. */
constexpr uint32_t kNeverReached = kEntryPointPage + kPage - 2;
constexpr uint16_t kThumbBxLr = 0x4770;
constexpr uint32_t kArmBxLr = 0xE12FFF1E;
constexpr uint32_t kArmMovPcLr = 0xE1A0F00E;
constexpr uint32_t kShowNormal = 1;
constexpr uint32_t kThumbBit = 0x20; /* CPSR.T */

const int kCalleeSaved[] = {UC_ARM_REG_R4, UC_ARM_REG_R5, UC_ARM_REG_R6,  UC_ARM_REG_R7,
                            UC_ARM_REG_R8, UC_ARM_REG_R9, UC_ARM_REG_R10, UC_ARM_REG_R11};
const int kScratch[] = {UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3, UC_ARM_REG_R12};

/* Recognisable values the entry must hand back in r4-r11. */
uint32_t CalleeSavedValue(size_t index)
{
    return 0xC0DE0004u + static_cast<uint32_t>(index);
}

uint32_t AlignUp(uint32_t value)
{
    return (value + kPage - 1) / kPage * kPage;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

struct Engine {
    uc_engine *uc = nullptr;
    ~Engine()
    {
        if (uc != nullptr) {
            uc_close(uc);
        }
    }
};

class Run {
  public:
    Run(const RunRequest &request, uc_engine *uc)
        : request_(request), uc_(uc), handles_(),
          image_end_(request.base + AlignUp(static_cast<uint32_t>(request.image->memory.size())))
    {
    }

    bool Prepare();
    void Execute();
    RunReport &Report()
    {
        return report_;
    }

  private:
    static void OnCode(uc_engine *uc, uint64_t address, uint32_t size, void *self);
    static bool OnBadMemory(uc_engine *uc, uc_mem_type type, uint64_t address, int size,
                            int64_t value, void *self);

    bool MapImage();
    bool MapRunnerPages();
    void SetInitialRegisters();
    void Code(uint64_t address);
    void EntryPoint(uint32_t address);
    void EntryReturned();
    bool ThumbOneInstruction(uint32_t address);
    uint32_t ThumbBit() const
    {
        return request_.arm_coredll ? 0 : 1;
    }
    void Fault(const std::string &message);
    std::string Instruction(uint32_t address);
    uint32_t Register(int id);

    const RunRequest &request_;
    uc_engine *uc_;
    HandleTable handles_;
    RunReport report_;
    uint32_t image_end_;
    uint32_t last_instruction_ = 0;
    uint32_t last_bl_prefix_ = 0; /* Address of the last BL/BLX first half. */
    uint32_t lowest_sp_ = kStackTop;
    bool done_ = false;
};

uint32_t Run::Register(int id)
{
    uint32_t value = 0;
    uc_reg_read(uc_, id, &value);
    return value;
}

void Run::Fault(const std::string &message)
{
    if (!done_) {
        report_.faulted = true;
        report_.fault = message;
        done_ = true;
    }
    uc_emu_stop(uc_);
}

/* The instruction's address and encoding, as a disassembler lists it. */
std::string Run::Instruction(uint32_t address)
{
    std::string text = Hex(address) + ":";
    bool thumb = (Register(UC_ARM_REG_CPSR) & kThumbBit) != 0;
    uint8_t bytes[4] = {};
    if (uc_mem_read(uc_, address, bytes, thumb ? 2 : 4) != UC_ERR_OK) {
        return text + " (unreadable)";
    }
    char part[32];
    if (!thumb) {
        std::snprintf(part, sizeof(part), " %02x%02x%02x%02x (ARM state)", bytes[3], bytes[2],
                      bytes[1], bytes[0]);
        return text + part;
    }
    uint16_t first = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    std::snprintf(part, sizeof(part), " %04x", first);
    text += part;
    if ((first >> 11) >= 0x1D && uc_mem_read(uc_, address + 2, bytes + 2, 2) == UC_ERR_OK) {
        std::snprintf(part, sizeof(part), " %04x", bytes[2] | (bytes[3] << 8));
        text += part;
    }
    return text;
}

bool Run::MapImage()
{
    const PeImage &image = *request_.image;
    const uint32_t size = image_end_ - request_.base;
    std::vector<uint8_t> memory = image.memory;
    memory.resize(size, 0);
    /* Each import slot holds its COREDLL entry point. */
    for (size_t i = 0; i < request_.imports.size(); ++i) {
        uint32_t entry = kEntryPointPage + kEntryPointSpacing * static_cast<uint32_t>(i + 1);
        if (!WriteU32(memory, request_.imports[i].slot_rva, entry | ThumbBit())) {
            return false;
        }
    }
    if (uc_mem_map(uc_, request_.base, size, UC_PROT_ALL) != UC_ERR_OK ||
        uc_mem_write(uc_, request_.base, memory.data(), size) != UC_ERR_OK) {
        return false;
    }
    /* Page by page: the headers and gaps readable only; a section's pages as
     * its flags say (a page two sections share gets both).  Runs of pages
     * alike are protected at once, keeping Unicorn's regions few. */
    uint32_t run_start = 0;
    uint32_t run_protection = 0;
    for (uint32_t page = 0; page <= size; page += kPage) {
        uint32_t protection = UC_PROT_READ;
        for (const Section &section : image.sections) {
            if (page < size && section.rva < page + kPage && page < section.rva + section.size) {
                protection |=
                    (section.write ? UC_PROT_WRITE : 0) | (section.execute ? UC_PROT_EXEC : 0);
            }
        }
        if (page > 0 && (page == size || protection != run_protection)) {
            if (uc_mem_protect(uc_, request_.base + run_start, page - run_start, run_protection) !=
                UC_ERR_OK) {
                return false;
            }
            run_start = page;
        }
        run_protection = protection;
    }
    return true;
}

bool Run::MapRunnerPages()
{
    std::vector<uint8_t> entry_points(kPage);
    for (uint32_t at = 0; at < kPage; at += 4) {
        if (request_.arm_coredll) {
            WriteU32(entry_points, at, request_.cpu == CpuModel::ArmV4 ? kArmMovPcLr : kArmBxLr);
        } else {
            WriteU16(entry_points, at, kThumbBxLr);
            WriteU16(entry_points, at + 2, kThumbBxLr);
        }
    }
    const std::u16string &line = request_.command_line;
    if ((line.size() + 1) * 2 > kCommandLineSize) {
        return false;
    }
    std::vector<uint8_t> line_bytes((line.size() + 1) * 2, 0);
    for (size_t i = 0; i < line.size(); ++i) {
        line_bytes[2 * i] = static_cast<uint8_t>(line[i]);
        line_bytes[2 * i + 1] = static_cast<uint8_t>(line[i] >> 8);
    }
    return uc_mem_map(uc_, kStackTop - request_.stack_size, request_.stack_size,
                      UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
           uc_mem_map(uc_, kCommandLineBase, kCommandLineSize, UC_PROT_READ | UC_PROT_WRITE) ==
               UC_ERR_OK &&
           uc_mem_write(uc_, kCommandLineBase, line_bytes.data(), line_bytes.size()) == UC_ERR_OK &&
           uc_mem_map(uc_, kEntryPointPage, kPage, UC_PROT_ALL) == UC_ERR_OK &&
           uc_mem_write(uc_, kEntryPointPage, entry_points.data(), kPage) == UC_ERR_OK &&
           uc_mem_protect(uc_, kEntryPointPage, kPage, UC_PROT_READ | UC_PROT_EXEC) == UC_ERR_OK;
}

void Run::SetInitialRegisters()
{
    uint32_t arguments[4] = {request_.base, 0, kCommandLineBase, kShowNormal};
    const int argument_registers[4] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
    for (int i = 0; i < 4; ++i) {
        uc_reg_write(uc_, argument_registers[i], &arguments[i]);
    }
    for (size_t i = 0; i < sizeof(kCalleeSaved) / sizeof(kCalleeSaved[0]); ++i) {
        uint32_t value = CalleeSavedValue(i);
        uc_reg_write(uc_, kCalleeSaved[i], &value);
    }
    uint32_t sp = kStackTop;
    uint32_t lr = kEntryPointPage | ThumbBit();
    uc_reg_write(uc_, UC_ARM_REG_SP, &sp);
    uc_reg_write(uc_, UC_ARM_REG_LR, &lr);
}

bool Run::Prepare()
{
    uc_hook code_hook = 0;
    uc_hook memory_hook = 0;
    if (!MapImage() || !MapRunnerPages()) {
        return false;
    }
    SetInitialRegisters();
    return uc_hook_add(uc_, &code_hook, UC_HOOK_CODE, reinterpret_cast<void *>(&Run::OnCode), this,
                       1, 0) == UC_ERR_OK &&
           uc_hook_add(uc_, &memory_hook, UC_HOOK_MEM_INVALID,
                       reinterpret_cast<void *>(&Run::OnBadMemory), this, 1, 0) == UC_ERR_OK;
}

void Run::OnCode(uc_engine *, uint64_t address, uint32_t, void *self)
{
    static_cast<Run *>(self)->Code(address);
}

void Run::Code(uint64_t address)
{
    if (done_) {
        uc_emu_stop(uc_);
        return;
    }
    ++report_.instructions;
    if (report_.instructions > request_.instruction_budget) {
        Fault("instruction budget of " + std::to_string(request_.instruction_budget) +
              " exceeded (the program hangs?); at " + Instruction(static_cast<uint32_t>(address)));
        return;
    }
    const bool in_image = address >= request_.base && address < image_end_;
    if (in_image && request_.cpu != CpuModel::ArmV7 &&
        !ThumbOneInstruction(static_cast<uint32_t>(address))) {
        Fault(std::string("invalid instruction for the ") + CpuModelName(request_.cpu) +
              " CPU at " + Instruction(static_cast<uint32_t>(address)) + " (a Thumb-2 encoding)");
        return;
    }
    last_instruction_ = static_cast<uint32_t>(address);
    uint32_t sp = Register(UC_ARM_REG_SP);
    if (sp < lowest_sp_) {
        lowest_sp_ = sp;
    }
    if (in_image) {
        ++report_.program_instructions;
    } else if (address >= kEntryPointPage && address < kEntryPointPage + kPage) {
        EntryPoint(static_cast<uint32_t>(address));
    }
}

/*
 * Whether the Thumb instruction at `address` exists on a CPU without
 * Thumb-2 (ARMv4T to ARMv6).  Its only 32-bit encoding is BL, a first half
 * (11110) followed by a BL (11111) second half or, from ARMv5 on, a BLX
 * (11101, even) one; the emulated cores, like the real ones, would run any
 * other 32-bit Thumb-2 encoding as two unrelated halves, so the runner
 * refuses them here.
 */
bool Run::ThumbOneInstruction(uint32_t address)
{
    if ((Register(UC_ARM_REG_CPSR) & kThumbBit) == 0) {
        return true;
    }
    uint8_t bytes[4] = {};
    if (uc_mem_read(uc_, address, bytes, 2) != UC_ERR_OK) {
        return true; /* The fetch itself faults. */
    }
    const unsigned top = bytes[1] >> 3;
    if (top == 0x1E) {
        if (uc_mem_read(uc_, address + 2, bytes + 2, 2) != UC_ERR_OK) {
            return false;
        }
        const unsigned second = bytes[3] >> 3;
        last_bl_prefix_ = address;
        const bool blx = request_.cpu != CpuModel::ArmV4t;
        return second == 0x1F || (blx && second == 0x1D && (bytes[2] & 1) == 0);
    }
    if (top == 0x1F || top == 0x1D) {
        return last_bl_prefix_ + 2 == address && last_instruction_ == last_bl_prefix_;
    }
    return true;
}

void Run::EntryReturned()
{
    for (size_t i = 0; i < sizeof(kCalleeSaved) / sizeof(kCalleeSaved[0]); ++i) {
        uint32_t value = Register(kCalleeSaved[i]);
        if (value != CalleeSavedValue(i)) {
            Fault("the entry returned with r" + std::to_string(4 + i) + " = " + Hex(value) +
                  ", not restored to " + Hex(CalleeSavedValue(i)) +
                  " (callee-saved register clobbered)");
            return;
        }
    }
    if (Register(UC_ARM_REG_SP) != kStackTop) {
        Fault("the entry returned with SP = " + Hex(Register(UC_ARM_REG_SP)) +
              ", not restored to " + Hex(kStackTop));
        return;
    }
    report_.exit_status = Register(UC_ARM_REG_R0);
    done_ = true;
    uc_emu_stop(uc_);
}

void Run::EntryPoint(uint32_t address)
{
    const uint32_t offset = address - kEntryPointPage;
    const uint32_t index = offset / kEntryPointSpacing;
    if (offset % kEntryPointSpacing != 0 || index > request_.imports.size()) {
        Fault("jump to " + Hex(address) + ", inside COREDLL's entry points but none of them");
        return;
    }
    const bool thumb = (Register(UC_ARM_REG_CPSR) & kThumbBit) != 0;
    if (thumb == request_.arm_coredll) {
        Fault("COREDLL entry point " + Hex(address) + " reached in " + (thumb ? "Thumb" : "ARM") +
              " state, not " + (thumb ? "ARM" : "Thumb") +
              " (a call or return without BX interworking)");
        return;
    }
    if (index == 0) {
        EntryReturned();
        return;
    }
    const BoundImport &import = request_.imports[index - 1];
    PlatformCall call(uc_, handles_, request_.base);
    ++report_.platform_calls;
    if (!import.function(call)) {
        Fault("COREDLL call " + import.name + " (returning to " + Hex(Register(UC_ARM_REG_LR)) +
              "): " + call.Memory().Failure());
        return;
    }
    for (int id : kScratch) {
        uint32_t scrambled = 0xDEAD0000u | static_cast<uint32_t>(id);
        uc_reg_write(uc_, id, &scrambled);
    }
}

bool Run::OnBadMemory(uc_engine *, uc_mem_type type, uint64_t address, int size, int64_t,
                      void *self)
{
    Run &run = *static_cast<Run *>(self);
    const char *what = "access to";
    switch (type) {
    case UC_MEM_READ_UNMAPPED:
        what = "read from unmapped";
        break;
    case UC_MEM_WRITE_UNMAPPED:
        what = "write to unmapped";
        break;
    case UC_MEM_FETCH_UNMAPPED:
        what = "instruction fetch from unmapped";
        break;
    case UC_MEM_WRITE_PROT:
        what = "write to read-only";
        break;
    case UC_MEM_READ_PROT:
        what = "read from unreadable";
        break;
    case UC_MEM_FETCH_PROT:
        what = "instruction fetch from non-executable";
        break;
    default:
        break;
    }
    const uint32_t at = static_cast<uint32_t>(address);
    std::string message = std::string("invalid memory access: ") + what + " " + Hex(at) + " (" +
                          std::to_string(size) + " bytes) by the instruction at " +
                          run.Instruction(run.last_instruction_);
    const uint32_t stack_end = kStackTop - run.request_.stack_size;
    if (at >= stack_end - kPage && at < stack_end) {
        message +=
            "; the stack (" + std::to_string(run.request_.stack_size / 1024) + " KiB) overflowed";
    }
    run.Fault(message);
    return false;
}

void Run::Execute()
{
    /* Bit 0 of the address sets the state, as COREDLL's BX to the entry does;
     * ARMv4 has no Thumb state to enter. */
    const uint32_t entry = request_.base + request_.image->entry_rva;
    if (request_.cpu == CpuModel::ArmV4 && (entry & 1) != 0) {
        Fault("the entry " + Hex(entry) + " is a Thumb address, and the " +
              CpuModelName(request_.cpu) + " CPU has no Thumb state");
        return;
    }
    uc_err error = uc_emu_start(uc_, entry, kNeverReached, 0, 0);
    uint32_t pc = Register(UC_ARM_REG_PC);
    report_.peak_stack_bytes = kStackTop - lowest_sp_;
    if (done_) {
        return;
    }
    if (error == UC_ERR_INSN_INVALID) {
        Fault(std::string("invalid instruction for the ") + CpuModelName(request_.cpu) +
              " CPU at " + Instruction(pc));
    } else if (error != UC_ERR_OK) {
        Fault(std::string("emulation failed: ") + uc_strerror(error) + " at " + Instruction(pc));
    } else {
        Fault("the program stopped at " + Hex(pc) + " without ending the process");
    }
}

} // namespace

const char *CpuModelName(CpuModel cpu)
{
    switch (cpu) {
    case CpuModel::ArmV4:
        return "ARMv4 (StrongARM SA-1110)";
    case CpuModel::ArmV4t:
        return "ARMv4T (TI925T)";
    case CpuModel::ArmV5te:
        return "ARMv5TE (ARM926)";
    case CpuModel::ArmV6:
        return "ARMv6 (ARM1136)";
    case CpuModel::ArmV7:
        break;
    }
    return "ARMv7 (Cortex-A8)";
}

RunReport RunProgram(const RunRequest &request)
{
    Engine engine;
    RunReport failed;
    failed.faulted = true;
    if (uc_open(UC_ARCH_ARM, UC_MODE_THUMB, &engine.uc) != UC_ERR_OK) {
        failed.fault = "cannot start the ARM emulator";
        return failed;
    }
    const int models[] = {UC_CPU_ARM_SA1110, UC_CPU_ARM_TI925T, UC_CPU_ARM_926, UC_CPU_ARM_1136,
                          UC_CPU_ARM_CORTEX_A8};
    const int model = models[static_cast<int>(request.cpu)];
    if (uc_ctl_set_cpu_model(engine.uc, model) != UC_ERR_OK) {
        failed.fault = std::string("the emulator has no ") + CpuModelName(request.cpu) + " CPU";
        return failed;
    }
    std::unique_ptr<Run> run(new Run(request, engine.uc));
    if (!run->Prepare()) {
        failed.fault = "cannot lay out the program's memory";
        return failed;
    }
    run->Execute();
    return run->Report();
}

} // namespace cerun
