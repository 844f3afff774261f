/*
 * running_executable.h - recognising the running program's own file.
 *
 * A file in use cannot be deleted on the device; the one file the host knows
 * to be in use is the running executable: by default /proc/self/exe, or the
 * file an emulator names with SetRunningExecutable before its program runs.
 * It is identified by its device and inode numbers.
 */
#ifndef COREDLL_HOST_RUNNING_EXECUTABLE_H
#define COREDLL_HOST_RUNNING_EXECUTABLE_H

#include <cstddef>
#include <sys/stat.h>

namespace coredll {

/*
 * SetRunningExecutable - makes the file at `host_path` the running
 * executable (for an emulator running that file's program).  Call it before
 * any other function of the layer.  False, and nothing changed, when the
 * file cannot be examined.
 */
bool SetRunningExecutable(const char *host_path);

/*
 * RunningExecutableStat - stat of the running executable, taken once and
 * kept (the identity survives a rename).  False when it cannot be read.
 */
bool RunningExecutableStat(struct stat &out);

/*
 * RunningExecutableRealPath - the running executable's current real path
 * (symbolic links resolved), NUL-terminated, into `out`.  False when it
 * cannot be resolved or does not fit.
 */
bool RunningExecutableRealPath(char *out, size_t capacity);

/*
 * IsRunningExecutable - whether `st` describes the running executable's file.
 * False when the executable cannot be identified.
 */
bool IsRunningExecutable(const struct stat &st);

} // namespace coredll

#endif /* COREDLL_HOST_RUNNING_EXECUTABLE_H */
