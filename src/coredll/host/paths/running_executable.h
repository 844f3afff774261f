/*
 * running_executable.h - the running program's own file.
 *
 * A file in use cannot be deleted on the device; the one file the host knows
 * to be in use is the running executable: by default the process's own
 * (/proc/self/exe, or where /proc is missing the path it was started by), or
 * the file an emulator names with SetRunningExecutable before its program
 * runs.  It is identified by its device and inode numbers.
 */
#ifndef COREDLL_HOST_RUNNING_EXECUTABLE_H
#define COREDLL_HOST_RUNNING_EXECUTABLE_H

#include <cstddef>
#include <sys/stat.h>

namespace coredll {

/*
 * SetRunningExecutable - makes the regular file at `host_path` the running
 * executable.  Call it before any other function of the layer.  False, and
 * nothing changed, when the file cannot be examined.
 */
bool SetRunningExecutable(const char *host_path);

/* RunningExecutableStat - the running executable's stat, taken once (the
 * identity survives a move).  False when it is unknown. */
bool RunningExecutableStat(struct stat &out);

/*
 * RunningExecutableRealPath - the running executable's current absolute
 * path, symbolic links resolved, NUL-terminated into `out`.  It follows a
 * move where /proc tells (the kernel's link to the file); without /proc it
 * is the path found at first use.  False when unknown or too long.
 */
bool RunningExecutableRealPath(char *out, size_t capacity);

/* IsRunningExecutable - whether `st` describes the running executable. */
bool IsRunningExecutable(const struct stat &st);

} // namespace coredll

#endif /* COREDLL_HOST_RUNNING_EXECUTABLE_H */
