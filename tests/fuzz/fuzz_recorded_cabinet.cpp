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
#include "coredll/host/registry_export.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr DWORD kCabinetBytes = 128;
const char16_t kPackageKey[] = u"SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13";

std::string base_path;
std::string root_path;
std::string outside_path;

using Snapshot = std::map<std::string, std::string>;
Snapshot outside_before;
Snapshot root_before;

/* Reports an escape or a broken promise and stops with a crash. */
[[noreturn]] void Fail(const std::string &what)
{
    std::fprintf(stderr, "recorded cabinet: %s\n", what.c_str());
    std::abort();
}

std::string ReadFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

/* Every entry below `top` except the registry file, links not followed. */
Snapshot TakeSnapshot(const std::string &top)
{
    Snapshot snapshot;
    std::error_code error;
    for (fs::recursive_directory_iterator it(top, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename() == "registry.reg") {
            continue;
        }
        struct stat info {};
        if (lstat(it->path().c_str(), &info) != 0) {
            continue;
        }
        std::string description = std::to_string(info.st_mode) + ":";
        if (S_ISLNK(info.st_mode)) {
            description += fs::read_symlink(it->path(), error).string();
        } else if (S_ISREG(info.st_mode)) {
            description += ReadFile(it->path());
        }
        snapshot[it->path().string()] = description;
    }
    return snapshot;
}

void WriteFile(const std::string &path, const std::string &text, mode_t mode)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    chmod(path.c_str(), mode);
}

int RemoveEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    return type == FTW_DP ? rmdir(path) : unlink(path);
}

void RemoveTree(const std::string &path)
{
    nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void RemoveBase()
{
    if (!base_path.empty()) {
        RemoveTree(base_path);
    }
}

void MakeLink(const std::string &target, const std::string &path)
{
    if (symlink(target.c_str(), path.c_str()) != 0) {
        Fail("cannot make the fixture's link " + path);
    }
}

/* Lays out the device root's contents; the root directory itself stays, as
 * the layer holds it open. */
void BuildRoot()
{
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(root_path, error)) {
        if (entry.path().filename() != "registry.reg") {
            RemoveTree(entry.path().string());
        }
    }
    fs::create_directories(root_path + "/Temp/Cab");
    WriteFile(root_path + "/Temp/Cab/pack.cab", "cab", 0644);
    WriteFile(root_path + "/Temp/Cab/ro.cab", "read-only", 0444);
    WriteFile(root_path + "/a.cab", "a", 0644);
    MakeLink("../outside/pack.cab", root_path + "/rel.cab");
    MakeLink(outside_path + "/pack.cab", root_path + "/abs.cab");
    MakeLink("../../outside", root_path + "/Temp/up");
    MakeLink(outside_path, root_path + "/abs");
    MakeLink("/", root_path + "/slash");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/fuzz_recorded_cabinet.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("cannot make the temporary base");
    }
    base_path = fs::canonical(pattern).string();
    root_path = base_path + "/root";
    outside_path = base_path + "/outside";
    std::atexit(RemoveBase);
    fs::create_directories(root_path);
    fs::create_directories(outside_path + "/Temp/Cab");
    WriteFile(outside_path + "/pack.cab", "outside", 0644);
    WriteFile(outside_path + "/a.cab", "outside", 0644);
    WriteFile(outside_path + "/Temp/Cab/pack.cab", "outside", 0644);
    BuildRoot();
    outside_before = TakeSnapshot(outside_path);
    root_before = TakeSnapshot(root_path);

    /* The layer takes the working directory at its first use as the root. */
    const fs::path started_in = fs::current_path();
    if (chdir(root_path.c_str()) != 0) {
        Fail("cannot enter the device root");
    }
    GetFileAttributesW(u"\\");
    fs::current_path(started_in);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        std::ofstream out(root_path + "/registry.reg", std::ios::binary | std::ios::trunc);
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
                   std::memcmp(buffer.get(), expected->data.data(), length) != 0) {
            Fail("the query does not hand out the parsed value");
        }
        RegCloseKey(handle);
    } else if (key != nullptr) {
        Fail("a key the parser holds does not open");
    }

    RemoveRecordedCabinet();

    if (TakeSnapshot(outside_path) != outside_before) {
        Fail("the cabinet step changed the tree outside the root");
    }
    if (TakeSnapshot(root_path) != root_before) {
        BuildRoot();
    }
    return 0;
}
