/*
 * ce_loader.cpp - the loader rules of CE 3.0, 4.2, 5.0, 6.0, Compact 7 and
 * Compact 2013, as each version's NK/KERNEL/loader.c states them.
 */
#include "ce_loader.h"

#include <cstdio>

namespace cerun {

namespace {

constexpr uint16_t kSubsystemCeGui = 9;
constexpr uint32_t kPage = 0x1000;
constexpr uint32_t kStackLimit = 0x100000;
/* The lowest base of a program whose relocations are stripped. */
constexpr uint32_t kStrippedBaseLow = 0x10000;

/*
 * Up to CE 5.0 the first thread's stack is the reserve rounded to a page and
 * at least twice MIN_STACK_RESERVE, 8 KiB with ARM's 4 KiB pages (WINCE300
 * LOADER.C CalcStackSize; WINCE500 NK/INC/kernel.h 721-724).  CE 3.0 and
 * 4.2 take no THUMB program unless their kernel has Thumb support.
 */
const CeVersion kVersions[] = {
    {"ce3", "CE 3.0", 3, 0, true, false, 0, false, false, false, false, 0x10000, 0x400000, 0x4000,
     0x1000},
    {"ce42", "CE 4.2", 4, 20, true, false, 0, false, false, false, false, 0x10000, 0x400000, 0x4000,
     0x1000},
    {"ce5", "CE 5.0", 5, 0, true, true, 0, false, false, false, false, 0x10000, 0x400000, 0x4000,
     0x1000},
    {"ce6", "CE 6.0", 6, 0, true, true, 0, false, true, false, false, 0x10000, 0x400000, 0x10000,
     0x10000},
    {"ce7", "Compact 7", 7, 0, true, true, 0, false, true, true, true, 0, 0x4000000, 0x10000,
     0x10000},
    {"ce2013", "Compact 2013", 8, 0, false, false, 8, true, true, true, true, 0, 0x4000000, 0x10000,
     0x10000},
};

const char *MachineName(uint16_t machine)
{
    switch (machine) {
    case kMachineArm:
        return "ARM";
    case kMachineThumb:
        return "THUMB";
    case kMachineArmNt:
        return "ARMNT";
    default:
        return "other";
    }
}

/*
 * Every ARM kernel's loader takes its own id, THISCPUID, and ARM (WINCE300
 * NK/KERNEL/LOADER.C 1739-1748, WINCE420 loader.c 2539-2550, WINCE500
 * 2537-2546, WINCE600 1900-1909, WINCE700 2706-2715); THISCPUID is THUMB
 * only in a kernel built with THUMBSUPPORT, else ARM (WINCE500
 * NK/INC/nkarm.h 378-379).  Compact 2013 takes ARMNT alone.
 */
bool TakesMachine(const CeVersion &version, bool thumb_support, uint16_t machine)
{
    if (!version.arm_kernels) {
        return machine == kMachineArmNt;
    }
    return machine == kMachineArm || (thumb_support && machine == kMachineThumb);
}

std::string Version(unsigned major, unsigned minor)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%02u", major, minor);
    return text;
}

bool Refuse(std::string &error, const std::string &message)
{
    error = message;
    return false;
}

} // namespace

const CeVersion *FindCeVersion(const std::string &option)
{
    for (const CeVersion &version : kVersions) {
        if (option == version.option) {
            return &version;
        }
    }
    return nullptr;
}

const CeVersion *NewestCeVersionFor(uint16_t machine)
{
    const CeVersion *newest = nullptr;
    for (const CeVersion &version : kVersions) {
        newest = TakesMachine(version, version.thumb_support, machine) ? &version : newest;
    }
    return newest;
}

std::string BadFormat(const CeVersion &version, const std::string &reason)
{
    return std::string(version.name) + " refuses it (ERROR_BAD_EXE_FORMAT, 193): " + reason;
}

bool CheckLoadable(const PeImage &image, const CeVersion &version, bool thumb_support,
                   std::string &error)
{
    if (!TakesMachine(version, thumb_support, image.machine)) {
        const char *takes = !version.arm_kernels ? "0x01C4 (ARMNT)"
                            : thumb_support      ? "0x01C0 (ARM) and 0x01C2 (THUMB)"
                                                 : "only 0x01C0 (ARM), having no Thumb support";
        char text[128];
        std::snprintf(text, sizeof(text), "machine 0x%04X (%s), where its kernel takes %s",
                      image.machine, MachineName(image.machine), takes);
        return Refuse(error, BadFormat(version, text));
    }
    /* Never newer than the system (WINCE300 LOADER.C 1768-1770, WINCE420
     * loader.c 2571-2573); up to Compact 7, another subsystem counts as 1.00. */
    const bool ce_subsystem = image.subsystem == kSubsystemCeGui;
    const bool as_given = ce_subsystem || version.requires_ce_subsystem;
    const unsigned major = as_given ? image.subsystem_major : 1;
    const unsigned minor = as_given ? image.subsystem_minor : 0;
    const std::string built_for = Version(major, minor);
    if (major > version.major || (major == version.major && minor > version.minor)) {
        return Refuse(error, std::string(version.name) +
                                 " refuses it (ERROR_OLD_WIN_VERSION, 1150): subsystem version " +
                                 built_for + ", newer than the system's " +
                                 Version(version.major, version.minor));
    }
    if (version.requires_ce_subsystem && !ce_subsystem) {
        return Refuse(error, BadFormat(version, "subsystem " + std::to_string(image.subsystem) +
                                                    ", not WINDOWS_CE_GUI (9)"));
    }
    if (major < version.least_major) {
        return Refuse(error, BadFormat(version, "subsystem version " + built_for +
                                                    ", older than the least it loads, " +
                                                    Version(version.least_major, 0)));
    }
    if (image.is_dll) {
        return Refuse(error, BadFormat(version, "a DLL, not a program"));
    }
    /* Page-aligned sections from CE 6.0 on (WINCE600 loader.c 2827). */
    for (size_t i = 0; i < image.sections.size(); ++i) {
        if (version.sections_page_aligned && image.sections[i].rva % kPage != 0) {
            char text[80];
            std::snprintf(text, sizeof(text), "section %zu at RVA 0x%X, not on a page boundary",
                          i + 1, image.sections[i].rva);
            return Refuse(error, BadFormat(version, text));
        }
    }
    if (RelocationsStripped(image, version) &&
        (image.preferred_base < kStrippedBaseLow ||
         image.preferred_base > version.stripped_base_limit)) {
        char text[96];
        std::snprintf(text, sizeof(text),
                      "no usable base relocations and a base outside 0x%08X-0x%08X",
                      kStrippedBaseLow, version.stripped_base_limit);
        return Refuse(error, BadFormat(version, text));
    }
    return true;
}

/*
 * Up to CE 6.0 the IMAGE_FILE_RELOCS_STRIPPED flag alone decides: clear, the
 * program goes to 0x10000 (WINCE300 LOADER.C CreateNewProc, WINCE500
 * loader.c 3559-3564, WINCE600 3059-3064) and, with an empty directory,
 * RelocatePage applies nothing (WINCE600 1346).  Compact 7 also counts a
 * non-empty directory that starts no section as stripped (WINCE700 loader.c
 * 3756-3760); a program not stripped goes where the kernel puts it (3925).
 */
bool RelocationsStripped(const PeImage &image, const CeVersion &version)
{
    if (image.relocations_stripped) {
        return true;
    }
    if (!version.relocations_at_section || image.relocation_size == 0) {
        return false;
    }
    for (const Section &section : image.sections) {
        if (section.rva == image.relocation_rva) {
            return false;
        }
    }
    return true;
}

uint32_t StackSize(const PeImage &image, const CeVersion &version)
{
    if (image.stack_reserve < version.least_stack) {
        return version.least_stack;
    }
    if (image.stack_reserve > kStackLimit) {
        return kStackLimit;
    }
    const uint32_t rounding = version.stack_rounding;
    return (image.stack_reserve + rounding - 1) / rounding * rounding;
}

} // namespace cerun
