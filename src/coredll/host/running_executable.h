/*
 * running_executable.h - recognising the running program's own file.
 *
 * A file in use cannot be deleted on the device; the one file the host knows
 * to be in use is the running executable, identified by the device and inode
 * numbers of /proc/self/exe.
 */
#ifndef COREDLL_HOST_RUNNING_EXECUTABLE_H
#define COREDLL_HOST_RUNNING_EXECUTABLE_H

#include <sys/stat.h>

namespace coredll {

/*
 * RunningExecutableStat - stat of /proc/self/exe, taken once and kept (the
 * identity survives a rename).  False when it cannot be read.
 */
bool RunningExecutableStat(struct stat &out);

/*
 * IsRunningExecutable - whether `st` describes the running executable's file.
 * False when the executable cannot be identified.
 */
bool IsRunningExecutable(const struct stat &st);

} // namespace coredll

#endif /* COREDLL_HOST_RUNNING_EXECUTABLE_H */
