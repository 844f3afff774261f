/*
 * fuzz_device_path.cpp - the host layer's path resolution and file calls on
 * arbitrary UTF-16 device paths.
 *
 * A fixed temporary device root is built once: a few directories, a
 * read-only file, and symbolic links that try to leave it (relative "..",
 * absolute, to "/", a loop).  Beside the root lies an "outside" directory of
 * canary files laid out like the device's own directories, so a call that
 * escaped would find something to delete, create, move or remove there.
 *
 * Input layout: byte 0 chooses the operation, the rest is UTF-16LE; for
 * MoveFileW the first NUL unit splits the existing and the new path.  After
 * every input:
 *   - a directory fd handed out by ResolveDeviceEntry must lie inside the
 *     root (read back through /proc/self/fd) and the name must be one plain
 *     component;
 *   - no file descriptor may be left open by the layer or by a resolution;
 *   - after a call that can change the file system, the outside tree must be
 *     exactly as it was (names, kinds, modes, contents, link targets); the
 *     root is then rebuilt for the next input.
 */
#include "coredll.h"
#include "coredll/host/paths/device_path.h"
#include "fixture_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace {

std::string root_path;
std::string outside_path;
int root_fd = -1;
FixtureSnapshot outside_before;

/* Reports an escape or a broken promise and stops with a crash. */
[[noreturn]] void Fail(const std::string &what)
{
    FixtureFail("device path: " + what);
}

/* Lays out the device root's contents from scratch. */
void BuildRoot()
{
    ClearFixtureDirectory(root_path, "");
    for (const char *directory : {"/Temp", "/Temp/ServicePackOld", "/Temp/ServicePackOld/Sub",
                                  "/Temp/ServicePack", "/A", "/A/B"}) {
        mkdir((root_path + directory).c_str(), 0755);
    }
    WriteFixtureFile(root_path + "/Temp/ServicePackOld/old.txt", "old", 0644);
    WriteFixtureFile(root_path + "/Temp/ServicePackOld/Sub/kept.txt", "kept", 0644);
    WriteFixtureFile(root_path + "/Temp/readonly.txt", "ro", 0444);
    WriteFixtureFile(root_path + "/A/B/file.cab", "cab", 0644);
    MakeFixtureLink("../..", root_path + "/up");
    MakeFixtureLink("../outside", root_path + "/sibling");
    MakeFixtureLink(outside_path, root_path + "/abs");
    MakeFixtureLink("/", root_path + "/slash");
    MakeFixtureLink(outside_path + "/canary", root_path + "/canary.lnk");
    MakeFixtureLink("loop", root_path + "/loop");
    MakeFixtureLink("../../../outside/ServicePackOld", root_path + "/Temp/ServicePackOld/escape");
    MakeFixtureLink("../../up/outside", root_path + "/A/B/chain");
}

/* Lays out the outside canaries, where escaping calls would land. */
void BuildOutside()
{
    for (const char *directory : {"", "/ServicePackOld", "/ServicePackOld/Sub", "/Temp",
                                  "/Temp/ServicePack", "/Temp/ServicePackOld", "/empty"}) {
        mkdir((outside_path + directory).c_str(), 0755);
    }
    WriteFixtureFile(outside_path + "/canary", "canary", 0644);
    WriteFixtureFile(outside_path + "/ServicePackOld/victim.txt", "victim", 0644);
    WriteFixtureFile(outside_path + "/Temp/ServicePackOld/victim.txt", "victim", 0644);
    WriteFixtureFile(outside_path + "/Temp/readonly.txt", "ro", 0444);
}

/* Whether `fd` names a directory at or below the root. */
bool FdInsideRoot(int fd)
{
    char link[4096];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(proc.c_str(), link, sizeof(link) - 1);
    if (length < 0) {
        return false;
    }
    const std::string target(link, static_cast<size_t>(length));
    return target == root_path || target.compare(0, root_path.size() + 1, root_path + "/") == 0;
}

/* The lowest descriptor number not in use. */
int LowestFreeFd()
{
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(fd);
    return fd;
}

void CheckResolution(const std::u16string &path)
{
    coredll::ResolvedEntry out;
    const bool found = coredll::ResolveDeviceEntry(root_fd, path, out);
    if (!found) {
        if (out.dir_fd != -1) {
            Fail("a failed resolution left a directory fd");
        }
        return;
    }
    if (out.dir_fd < 0) {
        Fail("a resolution succeeded without a directory fd");
    }
    if (!FdInsideRoot(out.dir_fd)) {
        Fail("a resolved directory lies outside the root");
    }
    const std::string name(out.name);
    if (name.empty() || name == ".." || name.find('/') != std::string::npos) {
        Fail("a resolved name is not one plain component: " + name);
    }
    close(out.dir_fd);
}

/* Enumerates a search to its end, checking every record's name. */
void Enumerate(LPCWSTR pattern)
{
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(pattern, &record);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    int guard = 0;
    do {
        size_t length = 0;
        while (length < MAX_PATH && record.cFileName[length] != 0) {
            ++length;
        }
        if (length == MAX_PATH) {
            Fail("a search record's name has no terminator");
        }
        if (++guard > 100000) {
            Fail("a search does not end");
        }
    } while (FindNextFileW(search, &record));
    FindClose(search);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const std::string base = MakeFixtureBase("fuzz_device_path");
    root_path = base + "/root";
    outside_path = base + "/outside";
    mkdir(root_path.c_str(), 0755);
    BuildOutside();
    BuildRoot();
    outside_before = TakeFixtureSnapshot(outside_path, "");
    MakeLayerRootOnce(root_path);
    root_fd = open(root_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    /* Measured per input: the fuzzer itself may open descriptors between
     * inputs (its symbolizer's pipes). */
    const int lowest_free_fd = LowestFreeFd();
    const unsigned operation = data[0] % 7;
    std::u16string units;
    for (size_t i = 1; i + 1 < size; i += 2) {
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    /* The first path ends at the first NUL unit; MoveFileW's second path
     * follows it. */
    const size_t split = units.find(u'\0');
    const std::u16string first = units.substr(0, split);
    const std::u16string second = split == std::u16string::npos ? u"" : units.substr(split + 1);

    CheckResolution(units);
    CheckResolution(first);

    bool changes = false;
    switch (operation) {
    case 0:
        break;
    case 1:
        GetFileAttributesW(first.c_str());
        break;
    case 2:
        Enumerate(first.c_str());
        break;
    case 3:
        DeleteFileW(first.c_str());
        changes = true;
        break;
    case 4:
        CreateDirectoryW(first.c_str(), nullptr);
        changes = true;
        break;
    case 5:
        RemoveDirectoryW(first.c_str());
        changes = true;
        break;
    default:
        MoveFileW(first.c_str(), second.c_str());
        changes = true;
        break;
    }

    if (changes) {
        if (TakeFixtureSnapshot(outside_path, "") != outside_before) {
            Fail("a call changed the tree outside the root");
        }
        BuildRoot();
    }
    if (LowestFreeFd() != lowest_free_fd) {
        Fail("the layer left a file descriptor open");
    }
    return 0;
}
