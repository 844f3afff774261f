/*
 * running_executable.cpp - recognising the running program's own file.
 */
#include "running_executable.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace coredll {

namespace {

struct ExecutableIdentity {
    bool known = false;
    struct stat st = {};
    /* A path the kernel keeps pointing at the file through renames. */
    std::string path = "/proc/self/exe";
};

ExecutableIdentity &Identity()
{
    static ExecutableIdentity identity = [] {
        ExecutableIdentity result;
        result.known = stat(result.path.c_str(), &result.st) == 0;
        return result;
    }();
    return identity;
}

} // namespace

bool SetRunningExecutable(const char *host_path)
{
    struct stat st = {};
    int fd = host_path != nullptr ? open(host_path, O_PATH | O_CLOEXEC) : -1;
    if (fd < 0) {
        return false;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    /* The fd stays open for the process's life: /proc/self/fd/<fd> follows
     * the file wherever it is moved, as /proc/self/exe does. */
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    ExecutableIdentity &identity = Identity();
    identity.known = true;
    identity.st = st;
    identity.path = path;
    return true;
}

bool RunningExecutableStat(struct stat &out)
{
    if (!Identity().known) {
        return false;
    }
    out = Identity().st;
    return true;
}

bool RunningExecutableRealPath(char *out, size_t capacity)
{
    char real[PATH_MAX];
    if (!Identity().known || realpath(Identity().path.c_str(), real) == nullptr) {
        return false;
    }
    size_t length = std::strlen(real);
    if (length >= capacity) {
        return false;
    }
    std::memcpy(out, real, length + 1);
    return true;
}

bool IsRunningExecutable(const struct stat &st)
{
    const ExecutableIdentity &identity = Identity();
    return identity.known && identity.st.st_dev == st.st_dev && identity.st.st_ino == st.st_ino;
}

} // namespace coredll
