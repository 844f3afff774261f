// temp_root.cpp - a fresh device root per test, in its own temporary directory.
#include "temp_root.h"

#include "kernel/device_root.h"
#include "testing/test_support.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int RemoveOne(const char *path, const struct stat *st, int type, struct FTW *)
{
    (void)st;
    if (type == FTW_DP) {
        chmod(path, 0700);
        return rmdir(path);
    }
    return unlink(path);
}

void RemoveTree(const std::string &path)
{
    // Directories made read-only by a test must become writable first.
    nftw(
        path.c_str(),
        [](const char *p, const struct stat *st, int type, struct FTW *) {
            if (type == FTW_D && (st->st_mode & 0700) != 0700) {
                chmod(p, 0700);
            }
            return 0;
        },
        16, FTW_PHYS);
    nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

} // namespace

int LowestFreeFd()
{
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(fd);
    return fd;
}

void TempRoot::SetUp()
{
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    previous_cwd_ = cwd;
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/host_tests.XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    char real[PATH_MAX];
    ASSERT_NE(realpath(pattern.c_str(), real), nullptr);
    base_ = real;
    root_ = base_ + "/root";
    outside_ = base_ + "/outside";
    ASSERT_EQ(mkdir(root_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(outside_.c_str(), 0755), 0);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    coredll::DeviceRootFd();
    lowest_free_fd_ = LowestFreeFd();
    ASSERT_TRUE(coredll::ReopenDeviceRoot());
    ASSERT_EQ(LowestFreeFd(), lowest_free_fd_) << "the previous root's fd was left open";
    // As on the device, no standard input: the layer's first fd may be 0.
    saved_stdin_ = fcntl(0, F_DUPFD_CLOEXEC, lowest_free_fd_);
    close(0);
    lowest_free_fd_ = 0;
}

void TempRoot::TearDown()
{
    EXPECT_EQ(LowestFreeFd(), lowest_free_fd_) << "the test left a descriptor open";
    if (saved_stdin_ >= 0) {
        dup2(saved_stdin_, 0);
        close(saved_stdin_);
    }
    EXPECT_EQ(chdir(previous_cwd_.c_str()), 0);
    if (!base_.empty()) {
        RemoveTree(base_);
    }
}

std::string TempRoot::InRoot(const std::string &relative) const
{
    return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string TempRoot::Outside(const std::string &relative) const
{
    return relative.empty() ? outside_ : outside_ + "/" + relative;
}

void WriteFile(const std::string &path, const std::string &content, unsigned mode)
{
    {
        std::ofstream out(path, std::ios::binary);
        out << content;
    }
    chmod(path.c_str(), mode);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string &path)
{
    struct stat st = {};
    return lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string &path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos) {
            break;
        }
    }
}

void MakeLink(const std::string &target, const std::string &path)
{
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}
