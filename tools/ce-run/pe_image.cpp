/*
 * pe_image.cpp - reading the headers and laying out the sections.
 */
#include "pe_image.h"

#include <cstdio>
#include <cstring>

namespace cerun {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;         /* "MZ" */
constexpr uint32_t kPeSignature = 0x00004550;  /* "PE\0\0" */
constexpr uint16_t kOptionalMagicPe32 = 0x10B; /* 32-bit images only. */
constexpr uint16_t kRelocsStripped = 0x0001;
constexpr uint16_t kDll = 0x2000;
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kOptionalFixedSize = 96; /* Up to NumberOfRvaAndSizes. */
constexpr uint64_t kImportDirectory = 1;
constexpr uint64_t kRelocationDirectory = 5;
constexpr uint32_t kSectionWrite = 0x80000000;
constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint16_t kMaxSections = 96;

bool Fail(std::string &error, const std::string &message)
{
    error = message;
    return false;
}

/* Whether [offset, offset + size) lies within `limit`. */
bool Fits(uint64_t offset, uint64_t size, uint64_t limit)
{
    return offset <= limit && size <= limit - offset;
}

} // namespace

bool ReadU16(const std::vector<uint8_t> &memory, uint64_t offset, uint16_t &value)
{
    if (!Fits(offset, 2, memory.size())) {
        return false;
    }
    value = static_cast<uint16_t>(memory[offset] | (memory[offset + 1] << 8));
    return true;
}

bool ReadU32(const std::vector<uint8_t> &memory, uint64_t offset, uint32_t &value)
{
    uint16_t low = 0;
    uint16_t high = 0;
    if (!ReadU16(memory, offset, low) || !ReadU16(memory, offset + 2, high)) {
        return false;
    }
    value = low | (static_cast<uint32_t>(high) << 16);
    return true;
}

bool WriteU16(std::vector<uint8_t> &memory, uint64_t offset, uint16_t value)
{
    if (!Fits(offset, 2, memory.size())) {
        return false;
    }
    memory[offset] = static_cast<uint8_t>(value);
    memory[offset + 1] = static_cast<uint8_t>(value >> 8);
    return true;
}

bool WriteU32(std::vector<uint8_t> &memory, uint64_t offset, uint32_t value)
{
    return WriteU16(memory, offset, static_cast<uint16_t>(value)) &&
           WriteU16(memory, offset + 2, static_cast<uint16_t>(value >> 16));
}

bool ParsePeImage(const std::vector<uint8_t> &file, PeImage &image, std::string &error)
{
    uint16_t dos_magic = 0;
    uint32_t pe_offset = 0;
    if (!ReadU16(file, 0, dos_magic) || dos_magic != kDosMagic || !ReadU32(file, 0x3C, pe_offset)) {
        return Fail(error, "not a PE image (no MZ header)");
    }
    uint32_t signature = 0;
    if (!ReadU32(file, pe_offset, signature) || signature != kPeSignature) {
        return Fail(error, "not a PE image (no PE signature)");
    }
    const uint64_t header = uint64_t{pe_offset} + 4;
    uint16_t section_count = 0;
    uint16_t optional_size = 0;
    uint16_t characteristics = 0;
    if (!ReadU16(file, header, image.machine) || !ReadU16(file, header + 2, section_count) ||
        !ReadU16(file, header + 16, optional_size) ||
        !ReadU16(file, header + 18, characteristics)) {
        return Fail(error, "truncated PE file header");
    }
    if (image.machine != kMachineArm && image.machine != kMachineThumb &&
        image.machine != kMachineArmNt) {
        char text[112];
        std::snprintf(text, sizeof(text),
                      "not an ARM image: machine 0x%04X (0x1C0 ARM, 0x1C2 THUMB or 0x1C4 ARMNT "
                      "expected)",
                      image.machine);
        return Fail(error, text);
    }
    image.relocations_stripped = (characteristics & kRelocsStripped) != 0;
    image.is_dll = (characteristics & kDll) != 0;

    const uint64_t optional = header + kFileHeaderSize;
    uint16_t magic = 0;
    uint32_t section_alignment = 0;
    uint32_t image_size = 0;
    uint32_t directory_count = 0;
    if (optional_size < kOptionalFixedSize || !Fits(optional, optional_size, file.size()) ||
        !ReadU16(file, optional, magic) || !ReadU32(file, optional + 16, image.entry_rva) ||
        !ReadU32(file, optional + 28, image.preferred_base) ||
        !ReadU32(file, optional + 32, section_alignment) ||
        !ReadU32(file, optional + 56, image_size) ||
        !ReadU32(file, optional + 60, image.header_size) ||
        !ReadU16(file, optional + 48, image.subsystem_major) ||
        !ReadU16(file, optional + 50, image.subsystem_minor) ||
        !ReadU16(file, optional + 68, image.subsystem) ||
        !ReadU32(file, optional + 72, image.stack_reserve) ||
        !ReadU32(file, optional + 92, directory_count)) {
        return Fail(error, "truncated PE optional header");
    }
    if (magic != kOptionalMagicPe32) {
        return Fail(error, "not a 32-bit (PE32) image");
    }
    if (image_size == 0 || image_size > kImageSizeLimit || section_alignment == 0 ||
        image.header_size == 0 || image.header_size > image_size ||
        image.header_size > file.size() || image.preferred_base % 0x10000 != 0) {
        return Fail(error, "malformed PE optional header (image size, alignment or base)");
    }
    uint64_t directories = optional + kOptionalFixedSize;
    if (directory_count > (optional_size - kOptionalFixedSize) / 8) {
        return Fail(error, "malformed PE optional header (data directory count)");
    }
    if (directory_count > kImportDirectory) {
        ReadU32(file, directories + 8 * kImportDirectory, image.import_rva);
        ReadU32(file, directories + 8 * kImportDirectory + 4, image.import_size);
    }
    if (directory_count > kRelocationDirectory) {
        ReadU32(file, directories + 8 * kRelocationDirectory, image.relocation_rva);
        ReadU32(file, directories + 8 * kRelocationDirectory + 4, image.relocation_size);
    }

    image.memory.assign(image_size, 0);
    std::memcpy(image.memory.data(), file.data(), image.header_size);
    const uint64_t table = optional + optional_size;
    if (section_count == 0 || section_count > kMaxSections ||
        !Fits(table, uint64_t{section_count} * kSectionHeaderSize, file.size())) {
        return Fail(error, "malformed PE section table");
    }
    for (uint16_t i = 0; i < section_count; ++i) {
        const uint64_t at = table + uint64_t{i} * kSectionHeaderSize;
        uint32_t virtual_size = 0, rva = 0, raw_size = 0, raw_offset = 0, flags = 0;
        ReadU32(file, at + 8, virtual_size);
        ReadU32(file, at + 12, rva);
        ReadU32(file, at + 16, raw_size);
        ReadU32(file, at + 20, raw_offset);
        ReadU32(file, at + 36, flags);
        uint32_t size = virtual_size != 0 ? virtual_size : raw_size;
        uint32_t copied = raw_size < size ? raw_size : size;
        if (rva < image.header_size || !Fits(rva, size, image_size) ||
            (copied != 0 && !Fits(raw_offset, copied, file.size()))) {
            return Fail(error, "malformed PE section " + std::to_string(i + 1) +
                                   " (outside the image or the file)");
        }
        if (copied != 0) {
            std::memcpy(image.memory.data() + rva, file.data() + raw_offset, copied);
        }
        Section section;
        section.rva = rva;
        section.size = size;
        section.write = (flags & kSectionWrite) != 0;
        section.execute = (flags & kSectionExecute) != 0;
        image.sections.push_back(section);
    }
    bool entry_in_code = false;
    for (const Section &section : image.sections) {
        entry_in_code = entry_in_code || (section.execute && image.entry_rva >= section.rva &&
                                          image.entry_rva / 2 * 2 - section.rva < section.size);
    }
    if (!entry_in_code) {
        return Fail(error, "malformed PE image: the entry point lies in no code section");
    }
    return true;
}

} // namespace cerun
