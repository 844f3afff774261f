/*
 * fuzz_registry_export.cpp - the registry export parser on arbitrary bytes.
 *
 * The input is handed to the parser in a heap block of exactly its size, so
 * any read past the end trips AddressSanitizer.  The imported registry is
 * then held to what the import promises its users:
 *
 *   - every key is found again by its own path, in upper and lower case, and
 *     it is the only key of that path;
 *   - every key comes after its parent key, so that its path is its
 *     ancestors' names and its own;
 *   - every value is found again by its own name in its key, and it is the
 *     only value of that name;
 *   - the lookups the cleanup run makes (the package key, "CabFile") answer
 *     without fault.
 */
#include "coredll/host/registry/registry_export.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

/* Reports a broken promise of the parser and stops with a crash. */
[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "registry export: %s\n", what);
    std::abort();
}

/* `text` with ASCII letters mapped by `upper`; other characters kept. */
std::u16string AsciiCase(const std::u16string &text, bool upper)
{
    std::u16string out = text;
    for (char16_t &c : out) {
        if (upper && c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        } else if (!upper && c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return out;
}

/* Whether a and b are equal ignoring ASCII case (a strict subset of the
 * parser's own case-insensitive equality). */
bool AsciiEqualsIgnoringCase(const std::u16string &a, const std::u16string &b)
{
    return AsciiCase(a, false) == AsciiCase(b, false);
}

/* The full path of the key `index`: its ancestors' names and its own. */
std::u16string PathOf(const coredll::RegistryExport &reg, size_t index)
{
    const coredll::RegistryKey &key = reg.keys[index];
    if (key.parent == coredll::kNoParent) {
        return key.name;
    }
    if (key.parent >= index) {
        Fail("a key comes before its parent key");
    }
    return PathOf(reg, key.parent) + u"\\" + key.name;
}

void CheckKeyLookups(const coredll::RegistryExport &reg, size_t index)
{
    const coredll::RegistryKey &key = reg.keys[index];
    const std::u16string path = PathOf(reg, index);
    const std::u16string forms[] = {path, AsciiCase(path, true), AsciiCase(path, false)};
    for (const std::u16string &form : forms) {
        if (coredll::FindRegistryKey(reg, form) != &key) {
            Fail("a key is not found by its own path, or its path names two keys");
        }
    }
    for (const coredll::RegistryValue &value : key.values) {
        if (coredll::FindRegistryValue(key, AsciiCase(value.name, true)) != &value) {
            Fail("a value is not found by its own name, or its name names two values");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    /* An exact-size copy: the fuzzer's own buffer may have slack after it. */
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(bytes.get(), data, size);
    }
    const coredll::RegistryExport reg = coredll::ParseRegistryExport(bytes.get(), size);

    for (size_t index = 0; index < reg.keys.size(); ++index) {
        CheckKeyLookups(reg, index);
    }

    const coredll::RegistryKey *package = coredll::FindRegistryKey(
        reg, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13");
    if (package != nullptr) {
        const coredll::RegistryValue *cab = coredll::FindRegistryValue(*package, u"cabfile");
        if (cab != nullptr && !AsciiEqualsIgnoringCase(cab->name, u"CabFile")) {
            Fail("the cabinet lookup returned a value of another name");
        }
    }
    return 0;
}
