/*
 * main.cpp - ce-run: runs a Windows CE ARM executable of the program on an
 * emulated CPU against the host layer, in the current directory as the
 * device root.
 *
 *   ce-run [--cpu armv5te|armv7] [--base ADDRESS] [--budget N] [--stats]
 *          PROGRAM.exe [ARGS...]
 *
 * The exit status is the program's.  A fault in the program ends the run
 * with a message on standard error and status 70; a file the runner cannot
 * load, with status 65; a wrong command line, with status 64.
 */
#include "emulator.h"
#include "pe_image.h"

#include "kernel/device_root.h"
#include "paths/running_executable.h"
#include "startup/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kUsageStatus = 64;
constexpr int kBadImageStatus = 65;
constexpr int kFaultStatus = 70;
/* About 35 s of emulation: some 380,000 old-pack entries. */
constexpr uint64_t kDefaultBudget = 500000000;
constexpr long kFileSizeLimit = 64L * 1024 * 1024;

struct Options {
    bool cpu_given = false;
    cerun::CpuModel cpu = cerun::CpuModel::ArmV7;
    bool base_given = false;
    uint32_t base = 0;
    uint64_t budget = kDefaultBudget;
    bool stats = false;
    int program = 0; /* argv index of PROGRAM.exe. */
};

int Usage()
{
    std::fprintf(stderr, "usage: ce-run [--cpu armv5te|armv7] [--base ADDRESS] [--budget N] "
                         "[--stats] PROGRAM.exe [ARGS...]\n");
    return kUsageStatus;
}

bool ParseNumber(const char *text, uint64_t limit, uint64_t &value)
{
    char *end = nullptr;
    errno = 0;
    unsigned long long parsed = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed > limit) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseOptions(int argc, char **argv, Options &options)
{
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        std::string option = argv[i];
        uint64_t number = 0;
        if (option == "--stats") {
            options.stats = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        if (option == "--cpu") {
            std::string cpu = argv[++i];
            options.cpu_given = true;
            if (cpu == "armv5te") {
                options.cpu = cerun::CpuModel::ArmV5te;
            } else if (cpu == "armv7") {
                options.cpu = cerun::CpuModel::ArmV7;
            } else {
                return false;
            }
        } else if (option == "--base" && ParseNumber(argv[i + 1], 0xFFFFFFFF, number)) {
            options.base_given = true;
            options.base = static_cast<uint32_t>(number);
            ++i;
        } else if (option == "--budget" && ParseNumber(argv[i + 1], UINT64_MAX, number) &&
                   number > 0) {
            options.budget = number;
            ++i;
        } else {
            return false;
        }
    }
    options.program = i;
    return i < argc;
}

bool ReadFile(const char *path, std::vector<uint8_t> &bytes, std::string &error)
{
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    uint8_t block[65536];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof(block), file)) > 0) {
        bytes.insert(bytes.end(), block, block + got);
        if (bytes.size() > static_cast<size_t>(kFileSizeLimit)) {
            std::fclose(file);
            error = "larger than 64 MiB: not a device executable";
            return false;
        }
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "cannot read the file";
    }
    return !failed;
}

/* Where the image goes: the given base, else its preferred base when that
 * lies where images may, else the lowest such base. */
bool ChooseBase(const Options &options, const cerun::PeImage &image, uint32_t &base,
                std::string &error)
{
    const uint64_t size = image.memory.size();
    auto fits = [size](uint64_t at) {
        return at >= cerun::kLowestImageBase && at % 0x10000 == 0 &&
               at + size <= cerun::kRunnerRegionsStart;
    };
    if (options.base_given) {
        base = options.base;
        if (!fits(base)) {
            error = "--base must be a multiple of 0x10000 where the image fits between "
                    "0x00010000 and 0x7FE00000";
        }
        return fits(base);
    }
    base = fits(image.preferred_base) ? image.preferred_base : cerun::kLowestImageBase;
    return true;
}

bool BindImports(const cerun::PeImage &image, std::vector<cerun::BoundImport> &bound,
                 std::string &error)
{
    std::vector<cerun::Import> imports;
    if (!cerun::ReadImports(image, imports, error)) {
        return false;
    }
    for (const cerun::Import &import : imports) {
        cerun::PlatformFunction function = cerun::FindPlatformFunction(import.name);
        if (function == nullptr) {
            error = "imports COREDLL.dll!" + import.name + ", which ce-run does not implement";
            return false;
        }
        bound.push_back(cerun::BoundImport{import.name, import.slot_rva, function});
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return Usage();
    }
    const char *program = argv[options.program];
    std::vector<uint8_t> file;
    std::string error;
    cerun::PeImage image;
    cerun::RunRequest request;
    if (!ReadFile(program, file, error) || !cerun::ParsePeImage(file, image, error) ||
        !BindImports(image, request.imports, error) ||
        !ChooseBase(options, image, request.base, error) ||
        !cerun::Relocate(image, request.base, error)) {
        std::fprintf(stderr, "ce-run: %s: %s\n", program, error.c_str());
        return kBadImageStatus;
    }
    request.image = &image;
    request.cpu =
        image.machine == cerun::kMachineThumb ? cerun::CpuModel::ArmV5te : cerun::CpuModel::ArmV7;
    if (options.cpu_given) {
        request.cpu = options.cpu;
    }
    request.command_line = coredll::CommandLine(argc, argv, options.program + 1);
    request.instruction_budget = options.budget;

    /* The layer treats PROGRAM.exe as the running executable; like the host
     * program, the run may change nothing outside the device root. */
    if (!coredll::SetRunningExecutable(program)) {
        std::fprintf(stderr, "ce-run: %s: cannot examine the file\n", program);
        return kBadImageStatus;
    }
    coredll::ConfineChangesToRoot();

    cerun::RunReport report = cerun::RunProgram(request);
    if (options.stats) {
        std::fprintf(stderr,
                     "ce-run: cpu %s, image %zu bytes at 0x%08X\n"
                     "ce-run: instructions %llu (program %llu), platform calls %llu\n"
                     "ce-run: peak stack %u bytes\n",
                     cerun::CpuModelName(request.cpu), file.size(), request.base,
                     static_cast<unsigned long long>(report.instructions),
                     static_cast<unsigned long long>(report.program_instructions),
                     static_cast<unsigned long long>(report.platform_calls),
                     report.peak_stack_bytes);
    }
    if (report.faulted) {
        std::fprintf(stderr, "ce-run: %s: fault: %s\n", program, report.fault.c_str());
        return kFaultStatus;
    }
    return static_cast<int>(report.exit_status & 0xFF);
}
