/*
 * running_executable.cpp - recognising the running program's own file.
 */
#include "running_executable.h"

namespace coredll {

namespace {

struct ExecutableIdentity {
    bool known = false;
    struct stat st = {};
};

const ExecutableIdentity &Identity()
{
    static const ExecutableIdentity identity = [] {
        ExecutableIdentity result;
        result.known = stat("/proc/self/exe", &result.st) == 0;
        return result;
    }();
    return identity;
}

} // namespace

bool RunningExecutableStat(struct stat &out)
{
    if (!Identity().known) {
        return false;
    }
    out = Identity().st;
    return true;
}

bool IsRunningExecutable(const struct stat &st)
{
    const ExecutableIdentity &identity = Identity();
    return identity.known && identity.st.st_dev == st.st_dev && identity.st.st_ino == st.st_ino;
}

} // namespace coredll
