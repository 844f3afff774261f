/*
 * ce_loader.h - which Windows CE versions load an executable, and how: the
 * checks each version's kernel loader (NK/KERNEL/loader.c) makes of the
 * headers and sections, where it places the image, which base relocation
 * kinds it applies and what stack it gives the first thread.
 *
 * A file a version refuses is refused with that loader's error:
 * ERROR_BAD_EXE_FORMAT (193) or ERROR_OLD_WIN_VERSION (1150).
 */
#ifndef CE_RUN_CE_LOADER_H
#define CE_RUN_CE_LOADER_H

#include "pe_image.h"

#include <cstdint>
#include <string>

namespace cerun {

struct CeVersion {
    const char *option;   /* As --os takes it: ce3, ce42, ce5, ce6, ce7, ce2013. */
    const char *name;     /* "CE 5.0" */
    uint8_t major, minor; /* The system's version (CE 4.2 is 4.20). */
    bool arm_kernels;     /* ARM kernels (0x1C0, 0x1C2 with Thumb support); else ARMv7 (0x1C4). */
    bool thumb_support;   /* Whether its kernels are taken as built with THUMBSUPPORT. */
    uint8_t least_major;  /* Oldest subsystem version taken (2013: 8). */
    bool requires_ce_subsystem;   /* Else a desktop subsystem counts as 1.00. */
    bool sections_page_aligned;   /* Else any section RVA is taken. */
    bool relocations_at_section;  /* Else the relocations count as stripped. */
    bool applies_mov32;           /* ARM_MOV32 and THUMB_MOV32. */
    uint32_t fixed_base;          /* Where a relocatable program loads (CE 5.0), or 0. */
    uint32_t stripped_base_limit; /* Highest base of a program without relocations. */
    uint32_t least_stack;         /* The first thread's smallest stack, */
    uint32_t stack_rounding;      /* rounded up to a multiple of this. */
};

/* The version --os names, or nullptr. */
const CeVersion *FindCeVersion(const std::string &option);

/* The newest version whose kernel takes `machine` (the default), or nullptr. */
const CeVersion *NewestCeVersionFor(uint16_t machine);

/* Whether `version`'s loader, in a kernel built with or without Thumb
 * support, takes `image`; false with `error` naming the loader's error and
 * the reason. */
bool CheckLoadable(const PeImage &image, const CeVersion &version, bool thumb_support,
                   std::string &error);

/* Whether `version` takes the image's relocations as stripped: by the
 * IMAGE_FILE_RELOCS_STRIPPED flag, or (Compact 7 on) a non-empty relocation
 * directory that does not start a section. */
bool RelocationsStripped(const PeImage &image, const CeVersion &version);

/* The message for a refusal by `version` with ERROR_BAD_EXE_FORMAT. */
std::string BadFormat(const CeVersion &version, const std::string &reason);

/* The first thread's stack: the image's reserve, clamped as `version` does. */
uint32_t StackSize(const PeImage &image, const CeVersion &version);

} // namespace cerun

#endif /* CE_RUN_CE_LOADER_H */
