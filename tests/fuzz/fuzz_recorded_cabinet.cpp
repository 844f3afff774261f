/*
 * fuzz_recorded_cabinet.cpp - the cleanup's cabinet step on arbitrary
 * registry files, with the host layer in a temporary device root.
 *
 * Each input becomes the root's registry.reg.  Then:
 *   - the value query the cleanup makes (the package key's "CabFile" into a
 *     128-byte heap block of exactly that size) must agree with the parser:
 *     the data of at most 128 bytes is handed out whole with its size, longer
 *     data fails, a missing key or value fails;
 *   - RemoveRecordedCabinet (the program's own routine) runs on whatever path
 *     the data spells;
 *   - nothing outside the root may have changed: the root holds links that
 *     lead out (relative, absolute, "/"), and the outside holds canaries
 *     where an escaping path would land.  The root is rebuilt after a run
 *     that deleted something in it.
 */
#include "cleanup/cleanup_run.h"
#include "coredll.h"
#include "coredll/host/registry/registry_export.h"
#include "fixture_tree.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr DWORD kCabinetBytes = 128;
const char16_t kPackageKey[] = u"SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13";
const char kRegistryFile[] = "registry.reg";

std::string root_path;
std::string outside_path;
FixtureSnapshot outside_before;
FixtureSnapshot root_before;

/* Reports an escape or a broken promise and stops with a crash. */
[[noreturn]] void Fail(const std::string &what)
{
    FixtureFail("recorded cabinet: " + what);
}

/* Lays out the device root's contents (all but the registry file). */
void BuildRoot()
{
    ClearFixtureDirectory(root_path, kRegistryFile);
    mkdir((root_path + "/Temp").c_str(), 0755);
    mkdir((root_path + "/Temp/Cab").c_str(), 0755);
    WriteFixtureFile(root_path + "/Temp/Cab/pack.cab", "cab", 0644);
    WriteFixtureFile(root_path + "/Temp/Cab/ro.cab", "read-only", 0444);
    WriteFixtureFile(root_path + "/a.cab", "a", 0644);
    MakeFixtureLink("../outside/pack.cab", root_path + "/rel.cab");
    MakeFixtureLink(outside_path + "/pack.cab", root_path + "/abs.cab");
    MakeFixtureLink("../../outside", root_path + "/Temp/up");
    MakeFixtureLink(outside_path, root_path + "/abs");
    MakeFixtureLink("/", root_path + "/slash");
}

/* Lays out the outside canaries, where escaping paths would land. */
void BuildOutside()
{
    for (const char *directory : {"", "/Temp", "/Temp/Cab"}) {
        mkdir((outside_path + directory).c_str(), 0755);
    }
    WriteFixtureFile(outside_path + "/pack.cab", "outside", 0644);
    WriteFixtureFile(outside_path + "/a.cab", "outside", 0644);
    WriteFixtureFile(outside_path + "/Temp/Cab/pack.cab", "outside", 0644);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const std::string base = MakeFixtureBase("fuzz_recorded_cabinet");
    root_path = base + "/root";
    outside_path = base + "/outside";
    mkdir(root_path.c_str(), 0755);
    BuildOutside();
    BuildRoot();
    outside_before = TakeFixtureSnapshot(outside_path, "");
    root_before = TakeFixtureSnapshot(root_path, kRegistryFile);
    MakeLayerRootOnce(root_path);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        std::ofstream out(root_path + "/" + kRegistryFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }

    /* What the parser says the run should read. */
    const coredll::RegistryExport reg = coredll::ParseRegistryExport(data, size);
    const coredll::RegistryValue *expected = nullptr;
    const coredll::RegistryKey *key =
        coredll::FindRegistryKey(reg, std::u16string(u"HKEY_LOCAL_MACHINE\\") + kPackageKey);
    if (key != nullptr) {
        expected = coredll::FindRegistryValue(*key, u"CabFile");
    }

    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackageKey, 0, KEY_ALL_ACCESS, &handle) ==
        ERROR_SUCCESS) {
        std::unique_ptr<BYTE[]> buffer(new BYTE[kCabinetBytes]);
        DWORD type = 0;
        DWORD length = kCabinetBytes;
        const LONG result =
            RegQueryValueExW(handle, u"CabFile", nullptr, &type, buffer.get(), &length);
        if (expected == nullptr) {
            if (result == ERROR_SUCCESS) {
                Fail("a value the parser does not hold was read");
            }
        } else if (expected->data.size() > kCabinetBytes) {
            if (result == ERROR_SUCCESS) {
                Fail("data longer than the buffer was read as a success");
            }
        } else if (result != ERROR_SUCCESS || length != expected->data.size() ||
                   type != expected->type ||
                   (length != 0 && std::memcmp(buffer.get(), expected->data.data(), length) != 0)) {
            Fail("the query does not hand out the parsed value");
        }
        RegCloseKey(handle);
    } else if (key != nullptr) {
        Fail("a key the parser holds does not open");
    }

    RemoveRecordedCabinet();

    if (TakeFixtureSnapshot(outside_path, "") != outside_before) {
        Fail("the cabinet step changed the tree outside the root");
    }
    if (TakeFixtureSnapshot(root_path, kRegistryFile) != root_before) {
        BuildRoot();
    }
    return 0;
}
