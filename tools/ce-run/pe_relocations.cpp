/*
 * pe_relocations.cpp - base relocations, for an image not loaded at its
 * preferred base: HIGHLOW (a 32-bit address, as in literal pools) and, from
 * Compact 7 on, ARM_MOV32 and THUMB_MOV32 (an ARM or Thumb-2 MOVW/MOVT pair
 * building an address in a register).  CE 3.0 to 6.0 skip a kind they do
 * not know and run the program with the address unchanged; ce-run refuses
 * it instead.
 */
#include "pe_image.h"

#include <cstdio>

namespace cerun {

namespace {

constexpr uint16_t kAbsolute = 0;
constexpr uint16_t kHighLow = 3;
constexpr uint16_t kArmMov32 = 5;
constexpr uint16_t kThumbMov32 = 7;
constexpr uint32_t kBlockHeaderSize = 8;

/* The 16-bit immediate of a Thumb-2 MOVW/MOVT (encoding T3/T1) whose first
 * halfword is `first` and second `second`. */
uint16_t MoveImmediate(uint16_t first, uint16_t second)
{
    return static_cast<uint16_t>(((first & 0x000F) << 12) | ((first & 0x0400) << 1) |
                                 ((second & 0x7000) >> 4) | (second & 0x00FF));
}

void SetMoveImmediate(uint16_t &first, uint16_t &second, uint16_t value)
{
    first = static_cast<uint16_t>((first & 0xFBF0) | ((value >> 12) & 0x000F) |
                                  ((value >> 1) & 0x0400));
    second = static_cast<uint16_t>((second & 0x8F00) | ((value << 4) & 0x7000) | (value & 0x00FF));
}

/* Adds `delta` to the address a MOVW at `at` and a MOVT at `at + 4` build. */
bool RelocateMov32(std::vector<uint8_t> &memory, uint64_t at, uint32_t delta)
{
    uint16_t movw_first = 0, movw_second = 0, movt_first = 0, movt_second = 0;
    if (!ReadU16(memory, at, movw_first) || !ReadU16(memory, at + 2, movw_second) ||
        !ReadU16(memory, at + 4, movt_first) || !ReadU16(memory, at + 6, movt_second) ||
        (movw_first & 0xFBF0) != 0xF240 || (movt_first & 0xFBF0) != 0xF2C0) {
        return false;
    }
    uint32_t value = MoveImmediate(movw_first, movw_second) |
                     (static_cast<uint32_t>(MoveImmediate(movt_first, movt_second)) << 16);
    value += delta;
    SetMoveImmediate(movw_first, movw_second, static_cast<uint16_t>(value));
    SetMoveImmediate(movt_first, movt_second, static_cast<uint16_t>(value >> 16));
    return WriteU16(memory, at, movw_first) && WriteU16(memory, at + 2, movw_second) &&
           WriteU16(memory, at + 4, movt_first) && WriteU16(memory, at + 6, movt_second);
}

/* Adds `delta` to the address an ARM MOVW at `at` and a MOVT at `at + 4`
 * build (imm4 in bits 16-19, imm12 in bits 0-11). */
bool RelocateArmMov32(std::vector<uint8_t> &memory, uint64_t at, uint32_t delta)
{
    uint32_t movw = 0, movt = 0;
    if (!ReadU32(memory, at, movw) || !ReadU32(memory, at + 4, movt) ||
        (movw & 0x0FF00000) != 0x03000000 || (movt & 0x0FF00000) != 0x03400000) {
        return false;
    }
    auto immediate = [](uint32_t insn) { return ((insn >> 4) & 0xF000) | (insn & 0x0FFF); };
    auto with = [](uint32_t insn, uint32_t value) {
        return (insn & 0xFFF0F000) | ((value & 0xF000) << 4) | (value & 0x0FFF);
    };
    const uint32_t value = (immediate(movw) | (immediate(movt) << 16)) + delta;
    return WriteU32(memory, at, with(movw, value & 0xFFFF)) &&
           WriteU32(memory, at + 4, with(movt, value >> 16));
}

bool Fail(std::string &error, const char *what, uint64_t where)
{
    char text[160];
    std::snprintf(text, sizeof(text), "%s at RVA 0x%llX", what,
                  static_cast<unsigned long long>(where));
    error = text;
    return false;
}

} // namespace

bool Relocate(PeImage &image, uint32_t base, bool mov32, std::string &error)
{
    if (base == image.preferred_base) {
        return true;
    }
    const uint32_t delta = base - image.preferred_base;
    std::vector<uint8_t> &memory = image.memory;
    const uint64_t end = uint64_t{image.relocation_rva} + image.relocation_size;
    if (end > memory.size()) {
        return Fail(error, "malformed base relocations (run off the image)", image.relocation_rva);
    }
    for (uint64_t block = image.relocation_rva; block + kBlockHeaderSize <= end;) {
        uint32_t page = 0, block_size = 0;
        ReadU32(memory, block, page);
        ReadU32(memory, block + 4, block_size);
        if (block_size < kBlockHeaderSize || block_size > end - block) {
            return Fail(error, "malformed base relocation block", block);
        }
        for (uint64_t at = block + kBlockHeaderSize; at + 2 <= block + block_size; at += 2) {
            uint16_t entry = 0;
            ReadU16(memory, at, entry);
            const uint16_t type = entry >> 12;
            const uint64_t target = uint64_t{page} + (entry & 0x0FFF);
            uint32_t value = 0;
            if (type == kAbsolute) {
                continue;
            } else if (type == kHighLow) {
                if (!ReadU32(memory, target, value) || !WriteU32(memory, target, value + delta)) {
                    return Fail(error, "HIGHLOW relocation outside the image", target);
                }
            } else if (type == kArmMov32 && mov32) {
                if (!RelocateArmMov32(memory, target, delta)) {
                    return Fail(error, "ARM_MOV32 relocation not on a MOVW/MOVT pair", target);
                }
            } else if (type == kThumbMov32 && mov32) {
                if (!RelocateMov32(memory, target, delta)) {
                    return Fail(error, "THUMB_MOV32 relocation not on a MOVW/MOVT pair", target);
                }
            } else {
                char what[96];
                std::snprintf(what, sizeof(what),
                              "base relocation type %u, which this CE version does not apply",
                              type);
                return Fail(error, what, target);
            }
        }
        block += block_size;
    }
    return true;
}

} // namespace cerun
