/*
 * main.cpp - ce-run: loads a Windows CE ARM executable of the program as a
 * given CE version's loader does and runs it on an emulated CPU against the
 * host layer, in the current directory as the device root.
 *
 *   ce-run [--os ce3|ce42|ce5|ce6|ce7|ce2013] [--kernel arm|thumb]
 *          [--cpu armv4|armv4t|armv5te|armv6|armv7] [--base ADDRESS]
 *          [--budget N] [--stats] [--check [--headers-only]]
 *          PROGRAM.exe [ARGS...]
 *
 * The exit status is the program's.  A fault in the program ends the run
 * with a message on standard error and status 70; a file the runner cannot
 * load, or the CE version's loader refuses, with status 65; a wrong command
 * line, with status 64.  --check loads without running: status 0 and the
 * imports as bound on standard output, or 65; with --headers-only it makes
 * the loader's own checks of any ARM executable, its imports read but not
 * bound.
 */
#include "ce_loader.h"
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
    const cerun::CeVersion *os = nullptr; /* Else the newest for the machine. */
    const char *kernel = nullptr;         /* "arm" or "thumb"; else the version's. */
    bool cpu_given = false;
    cerun::CpuModel cpu = cerun::CpuModel::ArmV7;
    bool check = false;
    bool headers_only = false; /* With check: imports read, not bound. */
    bool base_given = false;
    uint32_t base = 0;
    uint64_t budget = kDefaultBudget;
    bool stats = false;
    int program = 0; /* argv index of PROGRAM.exe. */
};

int Usage()
{
    std::fprintf(stderr, "usage: ce-run [--os ce3|ce42|ce5|ce6|ce7|ce2013] [--kernel arm|thumb] "
                         "[--cpu armv4|armv4t|armv5te|armv6|armv7] [--base ADDRESS] [--budget N] "
                         "[--stats] [--check [--headers-only]] PROGRAM.exe [ARGS...]\n");
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
        if (option == "--stats" || option == "--check" || option == "--headers-only") {
            (option == "--stats"   ? options.stats
             : option == "--check" ? options.check
                                   : options.headers_only) = true;
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[i + 1];
        if (option == "--cpu") {
            const char *const names[] = {"armv4", "armv4t", "armv5te", "armv6", "armv7"};
            const cerun::CpuModel models[] = {cerun::CpuModel::ArmV4, cerun::CpuModel::ArmV4t,
                                              cerun::CpuModel::ArmV5te, cerun::CpuModel::ArmV6,
                                              cerun::CpuModel::ArmV7};
            for (size_t m = 0; m < 5; ++m) {
                options.cpu_given = options.cpu_given || value == names[m];
                options.cpu = value == names[m] ? models[m] : options.cpu;
            }
            if (!options.cpu_given) {
                return false;
            }
            ++i;
        } else if (option == "--kernel" && (value == "arm" || value == "thumb")) {
            options.kernel = argv[i + 1];
            ++i;
        } else if (option == "--os" && cerun::FindCeVersion(value) != nullptr) {
            options.os = cerun::FindCeVersion(value);
            ++i;
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
    return i < argc && (options.check || !options.headers_only);
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

/* Where the image goes: its preferred base when its relocations are
 * stripped; the one base of CE 3.0 to 6.0; else (the kernel's choice) the given
 * base, else its preferred base when that lies where images may, else the
 * lowest such base. */
bool ChooseBase(const Options &options, const cerun::CeVersion &os, const cerun::PeImage &image,
                uint32_t &base, std::string &error)
{
    const uint64_t size = image.memory.size();
    auto fits = [size](uint64_t at) {
        return at >= cerun::kLowestImageBase && at % 0x10000 == 0 &&
               at + size <= cerun::kRunnerRegionsStart;
    };
    const bool stripped = cerun::RelocationsStripped(image, os);
    if (os.fixed_base != 0 || stripped) {
        base = stripped ? image.preferred_base : os.fixed_base;
        if (options.base_given && options.base != base) {
            error = stripped ? "the image has no base relocations " + std::string(os.name) +
                                   " applies and cannot move from its preferred base"
                             : std::string("--base: ") + os.name +
                                   " loads every relocatable program at 0x00010000";
            return false;
        }
        if (!fits(base)) {
            error = "the image's base leaves it outside 0x00010000-0x7FE00000";
            return false;
        }
    } else if (options.base_given) {
        base = options.base;
        if (!fits(base)) {
            error = "--base must be a multiple of 0x10000 where the image fits between "
                    "0x00010000 and 0x7FE00000";
            return false;
        }
    } else {
        base = fits(image.preferred_base) ? image.preferred_base : cerun::kLowestImageBase;
    }
    return true;
}

/* Binds each import to COREDLL's export of that name (or ordinal).  An
 * import COREDLL does not export refuses the load up to CE 5.0, whose kernel
 * binds the imports (WINCE500 loader.c, DoImports); from CE 6.0 on, COREDLL
 * binds them and its MainThreadBaseFunc then skips the entry and ends the
 * thread with ExitThread(0) (WINCE600 core/dll/loader.cpp 1080-1109):
 * `skipped` says so.  `listing` gets a line for each import and its binding. */
bool BindImports(const cerun::PeImage &image, const cerun::CeVersion &os, std::string &listing,
                 std::vector<cerun::BoundImport> &bound, std::string &skipped, std::string &error)
{
    std::vector<cerun::Import> imports;
    if (!cerun::ReadImports(image, false, imports, error)) {
        return false;
    }
    for (const cerun::Import &import : imports) {
        const cerun::CoredllExport *found =
            cerun::FindCoredllExport(import.name, import.ordinal_or_hint);
        const std::string what =
            import.name.empty() ? "ordinal " + std::to_string(import.ordinal_or_hint) : import.name;
        if (found == nullptr) {
            const std::string reason = "imports COREDLL.dll!" + what +
                                       ", which is not in ce-run's table of COREDLL's exports";
            if (os.major < 6) {
                error = cerun::BadFormat(os, reason);
                return false;
            }
            skipped = std::string(os.name) + " starts it, but COREDLL skips the entry: " + reason +
                      "; the entry never ran, and the device's process ends with status 0";
            return true;
        }
        listing += "COREDLL.dll!" + std::string(found->name) + " ordinal " +
                   std::to_string(found->ordinal) +
                   (import.name.empty() ? " by ordinal\n"
                                        : " hint " + std::to_string(import.ordinal_or_hint) + "\n");
        bound.push_back(cerun::BoundImport{found->name, import.slot_rva, found->function});
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
    const cerun::CeVersion *os = options.os;
    std::string listing;
    if (!ReadFile(program, file, error) || !cerun::ParsePeImage(file, image, error)) {
        std::fprintf(stderr, "ce-run: %s: %s\n", program, error.c_str());
        return kBadImageStatus;
    }
    os = os != nullptr ? os : cerun::NewestCeVersionFor(image.machine);
    /* ARM programs run on StrongARM, Thumb ones from ARMv4T, ARMNT ones on
     * Thumb-2; a StrongARM kernel has no Thumb support. */
    const cerun::CpuModel cpu = options.cpu_given                       ? options.cpu
                                : image.machine == cerun::kMachineArm   ? cerun::CpuModel::ArmV4
                                : image.machine == cerun::kMachineThumb ? cerun::CpuModel::ArmV4t
                                                                        : cerun::CpuModel::ArmV7;
    bool thumb_support = os->thumb_support && cpu != cerun::CpuModel::ArmV4;
    if (options.kernel != nullptr) {
        thumb_support = std::strcmp(options.kernel, "thumb") == 0;
        if (!os->arm_kernels || (thumb_support && cpu == cerun::CpuModel::ArmV4)) {
            std::fprintf(stderr, "ce-run: --kernel %s: %s\n", options.kernel,
                         os->arm_kernels ? "the ARMv4 CPU has no Thumb state"
                                         : "Compact 2013 has only its ARMv7 kernel");
            return kUsageStatus;
        }
    }
    std::string skipped;
    std::vector<cerun::Import> imports;
    if (!cerun::CheckLoadable(image, *os, thumb_support, error) ||
        !(options.headers_only
              ? cerun::ReadImports(image, true, imports, error)
              : BindImports(image, *os, listing, request.imports, skipped, error)) ||
        !ChooseBase(options, *os, image, request.base, error) ||
        !cerun::Relocate(image, request.base, os->applies_mov32, error)) {
        std::fprintf(stderr, "ce-run: %s: %s\n", program, error.c_str());
        return kBadImageStatus;
    }
    if (!skipped.empty()) {
        /* The device's process ends with 0, having run nothing: a check fails. */
        std::fprintf(stderr, "ce-run: %s: %s\n", program, skipped.c_str());
        return options.check ? kBadImageStatus : 0;
    }
    if (options.check) {
        std::printf("%s%s loads it at 0x%08X\n", listing.c_str(), os->name, request.base);
        return 0;
    }
    request.image = &image;
    request.cpu = cpu;
    request.arm_coredll = image.machine != cerun::kMachineArmNt;
    request.stack_size = cerun::StackSize(image, *os);
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
                     "ce-run: %s, cpu %s, image %zu bytes at 0x%08X\n"
                     "ce-run: instructions %llu (program %llu), platform calls %llu\n"
                     "ce-run: peak stack %u bytes\n",
                     os->name, cerun::CpuModelName(request.cpu), file.size(), request.base,
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
