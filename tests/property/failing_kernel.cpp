// failing_kernel.cpp - the program on a kernel whose system calls fail on
// demand, for fault_sweep.py.
//
// FAIL="<call> <k> <errno>" makes the k-th use of that entry of the layer's
// system-call table fail with that error, as the kernel fails it: nothing
// done, except that a failed close has still released its descriptor.
// NO_LANDLOCK=1 plays a kernel without Landlock.  At exit the program prints
// on standard output each call's uses, whether the failure came, and every
// descriptor open or closed that was not so at the start (the device root's
// stays open).
#include "kernel/device_root.h"
#include "kernel/system_calls.h"
#include "testing/test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <type_traits>

namespace {

using coredll::SystemCalls;

#define EACH_CALL(X)                                                                              \
    X(openat) X(openat2) X(close) X(close_range) X(fstatat) X(unlinkat) X(mkdirat) X(renameat2)   \
        X(getdents64) X(read) X(readlinkat) X(landlock_create_ruleset) X(landlock_add_rule)       \
            X(landlock_restrict_self) X(set_no_new_privs)

#define NAME(call) #call,
constexpr std::string_view kNames[] = {EACH_CALL(NAME)};
#undef NAME
constexpr int kCalls = sizeof(kNames) / sizeof(kNames[0]);
constexpr int kDescriptors = 256;

constexpr int IndexOf(std::string_view name)
{
    int index = 0;
    while (index < kCalls && kNames[index] != name) {
        ++index;
    }
    return index;
}

long uses[kCalls];
int failing = -1;
long failing_use = 0;
int failing_errno = 0;
bool fired = false;
bool no_landlock = false;
bool open_at_start[kDescriptors];

// Counts a use of call `index`; true when this use is to fail.
bool Fails(int index)
{
    ++uses[index];
    bool now = index == failing && uses[index] == failing_use;
    fired = fired || now;
    return now || (no_landlock && index == IndexOf("landlock_create_ruleset"));
}

template <typename F> struct Faked;
template <typename R, typename... A> struct Faked<R (*)(A...)> {
    template <R (*SystemCalls::*Entry)(A...), int Index> static R Call(A... args)
    {
        if (!Fails(Index)) {
            return (coredll::KernelSystemCalls().*Entry)(args...);
        }
        if constexpr (Index == IndexOf("close")) {
            (coredll::KernelSystemCalls().*Entry)(args...);
        }
        errno = failing == Index ? failing_errno : ENOSYS;
        return -1;
    }
};

template <auto Entry, int Index> void Install(SystemCalls &calls)
{
    using Pointer = std::remove_reference_t<decltype(calls.*Entry)>;
    calls.*Entry = &Faked<Pointer>::template Call<Entry, Index>;
}

void Report()
{
    for (int i = 0; i < kCalls; ++i) {
        std::printf("uses %s %ld\n", kNames[i].data(), uses[i]);
    }
    std::printf("fired %d\n", fired ? 1 : 0);
    for (int fd = 0; fd < kDescriptors; ++fd) {
        bool open_now = fcntl(fd, F_GETFD) != -1;
        if (open_now != (open_at_start[fd] || fd == coredll::DeviceRootFd())) {
            std::printf("descriptor %d %s\n", fd, open_now ? "left open" : "closed");
        }
    }
}

struct Installed {
    Installed()
    {
        for (int fd = 0; fd < kDescriptors; ++fd) {
            open_at_start[fd] = fcntl(fd, F_GETFD) != -1;
        }
        const char *fail = std::getenv("FAIL");
        char name[64] = "";
        if (fail != nullptr &&
            std::sscanf(fail, "%63s %ld %d", name, &failing_use, &failing_errno) == 3) {
            failing = IndexOf(name);
        }
        no_landlock = std::getenv("NO_LANDLOCK") != nullptr;
        SystemCalls calls = coredll::KernelSystemCalls();
#define INSTALL(call) Install<&SystemCalls::call, IndexOf(#call)>(calls);
        EACH_CALL(INSTALL)
#undef INSTALL
        coredll::SetSystemCalls(calls);
        std::atexit(Report);
    }
} installed;

} // namespace
