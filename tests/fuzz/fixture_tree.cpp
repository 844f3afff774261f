/*
 * fixture_tree.cpp - the temporary trees the file-system fuzz targets work in.
 */
#include "fixture_tree.h"

#include "coredll.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> bases;

int RemoveEntry(const char *path, const struct stat *, int type, struct FTW *)
{
    return type == FTW_DP ? rmdir(path) : unlink(path);
}

void RemoveBases()
{
    for (const std::string &base : bases) {
        RemoveFixtureTree(base);
    }
}

std::string ReadFixtureFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace

void FixtureFail(const std::string &what)
{
    std::fprintf(stderr, "fuzz fixture: %s\n", what.c_str());
    std::abort();
}

std::string MakeFixtureBase(const char *name)
{
    const char *scratch = std::getenv("FUZZ_SCRATCH");
    std::string pattern = scratch != nullptr                     ? std::string(scratch) + "/"
                          : access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm/"
                                                                 : "/tmp/";
    pattern += std::string(name) + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        FixtureFail("cannot make a temporary directory");
    }
    if (bases.empty()) {
        std::atexit(RemoveBases);
    }
    bases.push_back(fs::canonical(pattern).string());
    return bases.back();
}

void WriteFixtureFile(const std::string &path, const std::string &text, mode_t mode)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out || chmod(path.c_str(), mode) != 0) {
        FixtureFail("cannot write " + path);
    }
}

void MakeFixtureLink(const std::string &target, const std::string &path)
{
    if (symlink(target.c_str(), path.c_str()) != 0) {
        FixtureFail("cannot make the link " + path);
    }
}

void RemoveFixtureTree(const std::string &path)
{
    nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void ClearFixtureDirectory(const std::string &path, const std::string &keep)
{
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(path, error)) {
        if (keep.empty() || entry.path().filename() != keep) {
            RemoveFixtureTree(entry.path().string());
        }
    }
}

FixtureSnapshot TakeFixtureSnapshot(const std::string &top, const std::string &skip)
{
    FixtureSnapshot snapshot;
    std::error_code error;
    for (fs::recursive_directory_iterator it(top, error), end; !error && it != end;
         it.increment(error)) {
        if (!skip.empty() && it->path().filename() == skip) {
            continue;
        }
        struct stat info {};
        if (lstat(it->path().c_str(), &info) != 0) {
            snapshot[it->path().string()] = "unreadable";
            continue;
        }
        std::string description = std::to_string(info.st_mode) + ":";
        if (S_ISLNK(info.st_mode)) {
            description += fs::read_symlink(it->path(), error).string();
        } else if (S_ISREG(info.st_mode)) {
            description += ReadFixtureFile(it->path());
        }
        snapshot[it->path().string()] = description;
    }
    return snapshot;
}

void MakeLayerRootOnce(const std::string &root)
{
    const fs::path started_in = fs::current_path();
    if (chdir(root.c_str()) != 0) {
        FixtureFail("cannot enter the device root");
    }
    GetFileAttributesW(u"\\");
    fs::current_path(started_in);
}
