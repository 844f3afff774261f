/*
 * pe_image.h - a Windows CE ARM executable, read from its file and laid out
 * as the loader maps it.
 *
 * Every offset and size the file gives is checked against the file and the
 * image before use: a file that is not a 32-bit ARM PE image, or whose
 * headers, sections, imports or relocations do not fit, is refused with a
 * message, never read past.
 */
#ifndef CE_RUN_PE_IMAGE_H
#define CE_RUN_PE_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace cerun {

constexpr uint16_t kMachineArm = 0x1C0;   /* ARM state code (every ARM kernel to Compact 7). */
constexpr uint16_t kMachineThumb = 0x1C2; /* Thumb (kernels built with Thumb support). */
constexpr uint16_t kMachineArmNt = 0x1C4; /* ARMv7 Thumb-2 (Compact 2013). */

/* Largest image the runner loads. */
constexpr uint32_t kImageSizeLimit = 16u * 1024 * 1024;

struct Section {
    uint32_t rva = 0;
    uint32_t size = 0; /* In memory. */
    bool write = false;
    bool execute = false;
};

/* One function the image imports: by name (with its hint) or by ordinal,
 * and its import slot. */
struct Import {
    std::string name; /* Empty for an import by ordinal. */
    uint16_t ordinal_or_hint = 0;
    uint32_t slot_rva = 0;
};

struct PeImage {
    uint16_t machine = 0;
    bool is_dll = false;
    uint16_t subsystem = 0;
    uint16_t subsystem_major = 0, subsystem_minor = 0;
    uint32_t stack_reserve = 0;
    uint32_t preferred_base = 0;
    uint32_t entry_rva = 0;
    uint32_t header_size = 0;
    bool relocations_stripped = false;
    uint32_t import_rva = 0, import_size = 0;
    uint32_t relocation_rva = 0, relocation_size = 0;
    std::vector<Section> sections;
    /* The image as mapped: SizeOfImage bytes, headers and sections in place. */
    std::vector<uint8_t> memory;
};

/* ParsePeImage - lays out `file`; false with `error` set when it cannot. */
bool ParsePeImage(const std::vector<uint8_t> &file, PeImage &image, std::string &error);

/*
 * ReadImports - the image's imports, all from COREDLL.dll unless
 * `any_library`.  As the device's loader does, the descriptors are read up
 * to the first whose OriginalFirstThunk is 0, and the functions from that
 * lookup table.  False with `error` set for a malformed import table or,
 * unless `any_library`, an import from another library.
 */
bool ReadImports(const PeImage &image, bool any_library, std::vector<Import> &imports,
                 std::string &error);

/*
 * Relocate - applies the base relocations for loading at `base`: HIGHLOW,
 * and the ARM and Thumb MOVW/MOVT pairs when `mov32` (the loader applies
 * them).  False
 * with `error` set for a relocation of another kind or one that does not fit.
 */
bool Relocate(PeImage &image, uint32_t base, bool mov32, std::string &error);

/* Little-endian reads and writes inside `memory`; false when out of bounds. */
bool ReadU16(const std::vector<uint8_t> &memory, uint64_t offset, uint16_t &value);
bool ReadU32(const std::vector<uint8_t> &memory, uint64_t offset, uint32_t &value);
bool WriteU16(std::vector<uint8_t> &memory, uint64_t offset, uint16_t value);
bool WriteU32(std::vector<uint8_t> &memory, uint64_t offset, uint32_t value);

} // namespace cerun

#endif /* CE_RUN_PE_IMAGE_H */
