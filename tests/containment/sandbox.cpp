/*
 * sandbox.cpp - a device root with an outside world beside it, for attacks.
 */
#include "sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

const char *const kPackageKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack 1.13";

namespace {

/* Stops the test program: a sandbox that cannot be laid out would make
 * every later check meaningless. */
[[noreturn]] void Abort(const std::string &what)
{
    std::fprintf(stderr, "sandbox: %s\n", what.c_str());
    std::abort();
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteAll(const std::string &path, const std::string &content, unsigned mode)
{
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out || chmod(path.c_str(), mode) != 0) {
        Abort("cannot write " + path);
    }
}

/* Removes the entry `name` of the directory `dir_fd` and everything below
 * it, one level at a time through descriptors, so that no path is ever
 * longer than one name and no link is ever followed. */
void RemoveAt(int dir_fd, const char *name)
{
    if (unlinkat(dir_fd, name, 0) == 0 || errno != EISDIR) {
        return;
    }
    const int child = openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) {
        return;
    }
    DIR *listing = fdopendir(child);
    if (listing == nullptr) {
        close(child);
        return;
    }
    std::vector<std::string> names;
    while (const struct dirent *entry = readdir(listing)) {
        const std::string entry_name = entry->d_name;
        if (entry_name != "." && entry_name != "..") {
            names.push_back(entry_name);
        }
    }
    for (const std::string &entry_name : names) {
        RemoveAt(dirfd(listing), entry_name.c_str());
    }
    closedir(listing);
    unlinkat(dir_fd, name, AT_REMOVEDIR);
}

/* Where temporary trees go: memory-backed /dev/shm when usable. */
std::string TemporaryParent()
{
    const char *chosen = std::getenv("CONTAINMENT_TMPDIR");
    if (chosen != nullptr) {
        return chosen;
    }
    return access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
}

/* Describes one entry, links not followed. */
std::string Describe(const std::string &path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return "unreadable";
    }
    std::string description = std::to_string(info.st_mode) + ":";
    if (S_ISLNK(info.st_mode)) {
        std::error_code error;
        description += fs::read_symlink(path, error).string();
    } else if (S_ISREG(info.st_mode)) {
        description += ReadAll(path);
    }
    return description;
}

std::string HexBytes(const std::vector<uint8_t> &data)
{
    std::string out;
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof(byte), "%02x", data[i]);
        out += (i == 0 ? "" : ",");
        out += byte;
    }
    return out;
}

} // namespace

TreeSnapshot TakeSnapshot(const std::string &top)
{
    TreeSnapshot snapshot;
    std::error_code error;
    fs::recursive_directory_iterator it(top, fs::directory_options::none, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string path = it->path().string();
        snapshot[path.substr(top.size())] = Describe(path);
    }
    if (error) {
        snapshot["<walk failed>"] = error.message();
    }
    return snapshot;
}

std::string SnapshotDifferences(const TreeSnapshot &before, const TreeSnapshot &after)
{
    std::string report;
    for (const auto &[path, description] : before) {
        const auto found = after.find(path);
        if (found == after.end()) {
            report += "  gone: " + path + "\n";
        } else if (found->second != description) {
            report += "  changed: " + path + "\n";
        }
    }
    for (const auto &[path, description] : after) {
        if (before.count(path) == 0) {
            report += "  new: " + path + "\n";
        }
    }
    return report;
}

Sandbox::Sandbox(const std::string &program) : program_(program)
{
    std::string pattern = TemporaryParent() + "/containment.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        Abort("cannot make a temporary directory");
    }
    base_ = fs::canonical(pattern).string();
    root_ = base_ + "/root";
    outside_ = base_ + "/outside";
    fs::create_directories(root_);
    for (const char *empty : {"/Temp/ServicePack", "/ServicePack", "/empty"}) {
        fs::create_directories(outside_ + empty);
    }
    for (const char *canary :
         {"/victim.txt", "/pack.cab", "/Temp/ServicePackOld/victim.txt", "/Temp/Cab/pack.cab",
          "/ServicePackOld/victim.txt", "/Cab/pack.cab"}) {
        WriteAll(outside_ + canary, std::string("canary ") + canary, 0644);
    }
    /* A registry that, if ever read, names a file inside the root. */
    WriteAll(outside_ + "/registry.reg",
             std::string("Windows Registry Editor Version 5.00\r\n\r\n[") + kPackageKey +
                 "]\r\n\"CabFile\"=\"\\\\ReadProof.cab\"\r\n",
             0644);
    WriteAll(outside_ + "/bin/servicepack-cleanup", ReadAll(program_), 0755);
    outside_before_ = TakeSnapshot(outside_);
    /* Only the outside's registry names this file: it goes only if that
     * registry was read. */
    WriteAll(root_ + "/ReadProof.cab", "proof", 0644);
}

Sandbox::~Sandbox()
{
    RemoveAt(AT_FDCWD, base_.c_str());
}

const std::string &Sandbox::root() const
{
    return root_;
}

const std::string &Sandbox::outside() const
{
    return outside_;
}

const std::string &Sandbox::base() const
{
    return base_;
}

std::string Sandbox::outside_program() const
{
    return outside_ + "/bin/servicepack-cleanup";
}

void Sandbox::File(const std::string &relative, const std::string &content, unsigned mode)
{
    WriteAll(root_ + "/" + relative, content, mode);
}

void Sandbox::Directory(const std::string &relative)
{
    std::error_code error;
    fs::create_directories(root_ + "/" + relative, error);
    if (error) {
        Abort("cannot make " + relative);
    }
}

void Sandbox::Link(const std::string &target, const std::string &relative)
{
    const std::string path = root_ + "/" + relative;
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    if (symlink(target.c_str(), path.c_str()) != 0) {
        Abort("cannot link " + relative);
    }
}

void Sandbox::Remove(const std::string &relative)
{
    RemoveAt(AT_FDCWD, (root_ + "/" + relative).c_str());
}

void Sandbox::DirectoryDeep(const std::string &relative)
{
    int dir_fd = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string rest = relative;
    while (dir_fd >= 0 && !rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string name = rest.substr(0, slash);
        rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
        if (name.empty()) {
            continue;
        }
        mkdirat(dir_fd, name.c_str(), 0755);
        const int next = openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(dir_fd);
        dir_fd = next;
    }
    if (dir_fd < 0) {
        Abort("cannot make the deep chain " + relative.substr(0, 40));
    }
    close(dir_fd);
}

void Sandbox::Program(const std::string &relative)
{
    WriteAll(root_ + "/" + relative, ReadAll(program_), 0755);
}

void Sandbox::RegistryCabinet(const std::string &cabinet)
{
    std::string escaped;
    for (char c : cabinet) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    WriteAll(root_ + "/registry.reg",
             std::string("Windows Registry Editor Version 5.00\r\n\r\n[") + kPackageKey +
                 "]\r\n\"CabFile\"=\"" + escaped + "\"\r\n",
             0644);
}

void Sandbox::RegistryCabinetBytes(const std::vector<uint8_t> &data)
{
    WriteAll(root_ + "/registry.reg",
             std::string("Windows Registry Editor Version 5.00\r\n\r\n[") + kPackageKey +
                 "]\r\n\"CabFile\"=hex:" + HexBytes(data) + "\r\n",
             0644);
}

const TreeSnapshot &Sandbox::outside_before() const
{
    return outside_before_;
}

void Sandbox::RecordOutside()
{
    outside_before_ = TakeSnapshot(outside_);
}
