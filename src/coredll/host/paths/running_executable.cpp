/*
 * running_executable.cpp - the running program's own file.
 */
#include "paths/running_executable.h"

#include "kernel/system_calls.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/auxv.h>

namespace coredll {

namespace {

struct Executable {
    bool chosen = false; /* Named, or looked up once. */
    bool known = false;
    char link[32] = {};       /* A /proc link that follows the file. */
    char path[PATH_MAX] = {}; /* Its real path when it was chosen. */
    struct stat st = {};
};

Executable executable;

/* Makes the file at `host_path` the running executable; `link`, when
 * given, is a /proc link that keeps naming it through moves. */
bool Choose(const char *host_path, const char *link)
{
    struct stat st = {};
    char path[PATH_MAX];
    if (host_path == nullptr || realpath(host_path, path) == nullptr ||
        Sys().fstatat(AT_FDCWD, path, &st, 0) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    executable.known = true;
    executable.st = st;
    std::memcpy(executable.path, path, sizeof(path));
    std::snprintf(executable.link, sizeof(executable.link), "%s", link);
    return true;
}

/* The process's own executable unless one was named. */
const Executable &Current()
{
    if (!executable.chosen) {
        executable.chosen = true;
        char path[PATH_MAX];
        ssize_t length = Sys().readlinkat(AT_FDCWD, "/proc/self/exe", path, sizeof(path) - 1);
        if (length > 0) {
            path[length] = '\0';
            Choose(path, "/proc/self/exe");
        } else {
            /* No /proc: the path the process was started by, relative to
             * the directory it started in, which is still the current one. */
            Choose(reinterpret_cast<const char *>(getauxval(AT_EXECFN)), "");
        }
    }
    return executable;
}

} // namespace

bool SetRunningExecutable(const char *host_path)
{
    /* The fd stays open for the process's life: its /proc link follows the
     * file wherever it is moved, as /proc/self/exe does. */
    int fd = host_path != nullptr ? Sys().openat(AT_FDCWD, host_path, O_PATH | O_CLOEXEC) : -1;
    char link[32];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    if (fd < 0 || !Choose(host_path, link)) {
        if (fd >= 0) {
            Sys().close(fd);
        }
        return false;
    }
    executable.chosen = true;
    return true;
}

bool RunningExecutableStat(struct stat &out)
{
    if (!Current().known) {
        return false;
    }
    out = executable.st;
    return true;
}

bool RunningExecutableRealPath(char *out, size_t capacity)
{
    const Executable &current = Current();
    char linked[PATH_MAX];
    ssize_t length = current.link[0] == '\0'
                         ? -1
                         : Sys().readlinkat(AT_FDCWD, current.link, linked, sizeof(linked) - 1);
    const char *path = current.path;
    if (length > 0) {
        linked[length] = '\0';
        path = linked;
    }
    size_t path_length = std::strlen(path);
    if (!current.known || path[0] != '/' || path_length >= capacity) {
        return false;
    }
    std::memcpy(out, path, path_length + 1);
    return true;
}

bool IsRunningExecutable(const struct stat &st)
{
    const Executable &current = Current();
    return current.known && current.st.st_dev == st.st_dev && current.st.st_ino == st.st_ino;
}

} // namespace coredll
