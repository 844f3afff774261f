/*
 * pe_imports.cpp - the import table: every import of a program ce-run runs
 * must be a COREDLL.dll function, by name or by ordinal (the device's
 * COREDLL is the one library the program may use).
 */
#include "pe_image.h"

#include <strings.h>

namespace cerun {

namespace {

constexpr uint32_t kDescriptorSize = 20;
constexpr uint32_t kOrdinalFlag = 0x80000000;
constexpr size_t kNameLimit = 256;
constexpr size_t kImportLimit = 1024;

/* The NUL-terminated ASCII string at `rva`; false when it runs off the image
 * or is longer than kNameLimit. */
bool ReadName(const std::vector<uint8_t> &memory, uint32_t rva, std::string &out)
{
    out.clear();
    for (uint64_t at = rva; at < memory.size() && out.size() < kNameLimit; ++at) {
        if (memory[at] == 0) {
            return true;
        }
        out.push_back(static_cast<char>(memory[at]));
    }
    return false;
}

bool Fail(std::string &error, const std::string &message)
{
    error = message;
    return false;
}

} // namespace

bool ReadImports(const PeImage &image, bool any_library, std::vector<Import> &imports,
                 std::string &error)
{
    imports.clear();
    if (image.import_rva == 0) {
        return true;
    }
    const std::vector<uint8_t> &memory = image.memory;
    for (uint64_t at = image.import_rva;; at += kDescriptorSize) {
        uint32_t lookup = 0, name_rva = 0, slots = 0;
        if (!ReadU32(memory, at, lookup) || !ReadU32(memory, at + 12, name_rva) ||
            !ReadU32(memory, at + 16, slots)) {
            return Fail(error, "malformed import table (runs off the image)");
        }
        if (lookup == 0) {
            return true;
        }
        std::string library;
        if (!ReadName(memory, name_rva, library)) {
            return Fail(error, "malformed import table (library name)");
        }
        if (!any_library && strcasecmp(library.c_str(), "COREDLL.dll") != 0) {
            return Fail(error, "imports from " + library + ": only COREDLL.dll is provided");
        }
        for (uint32_t i = 0;; ++i) {
            uint32_t entry = 0;
            if (!ReadU32(memory, uint64_t{lookup} + 4ull * i, entry)) {
                return Fail(error, "malformed import table (lookup entries)");
            }
            if (entry == 0) {
                break;
            }
            Import import;
            import.slot_rva = slots + 4 * i;
            uint32_t slot = 0;
            uint16_t hint = 0;
            const bool by_ordinal = (entry & kOrdinalFlag) != 0;
            if (!ReadU32(memory, import.slot_rva, slot) || imports.size() >= kImportLimit ||
                (!by_ordinal &&
                 (!ReadU16(memory, entry, hint) || !ReadName(memory, entry + 2, import.name) ||
                  import.name.empty()))) {
                return Fail(error, "malformed import table (function name)");
            }
            import.ordinal_or_hint = by_ordinal ? static_cast<uint16_t>(entry) : hint;
            imports.push_back(import);
        }
    }
}

} // namespace cerun
