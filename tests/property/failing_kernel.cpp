// failing_kernel.cpp - the program on a kernel whose system calls fail on
// demand, for fault_sweep.py.  FAIL="<i> <k> <errno>" fails the k-th use of
// the i-th entry of the layer's system-call table as the kernel fails it (a
// failed close has still released its descriptor), or with i one past the
// table the k-th allocation (std::bad_alloc), and writes "failed here" to
// standard error; LANDLOCK_ABI=<n> plays Landlock ABI n (0: none).  At exit
// the program prints each entry's uses and each descriptor open or closed
// unlike at the start (the root's stays open).
#include "../host/faked_landlock.h"
#include "kernel/device_root.h"
#include "testing/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <type_traits>

namespace {

using coredll::SystemCalls;

// clang-format off
#define EACH_CALL(X) X(openat) X(openat2) X(close) X(close_range) X(fstatat) X(unlinkat) \
    X(mkdirat) X(renameat2) X(getdents64) X(read) X(readlinkat) X(landlock_create_ruleset) \
    X(landlock_add_rule) X(landlock_restrict_self) X(set_no_new_privs)
// clang-format on
#define INDEX(call) k_##call,
enum Call { EACH_CALL(INDEX) k_new, kCalls };

long uses[kCalls];
long fail[3] = {kCalls, 0, 0}; // entry, use, errno
int landlock_abi = 0;
bool open_at_start[256];
SystemCalls base; // the kernel, with Landlock as LANDLOCK_ABI says

bool Fails(int call)
{
    bool fails = ++uses[call] == fail[1] && fail[0] == call;
    if (fails) {
        std::fputs("failed here\n", stderr); // before the call's trace line
    }
    return fails;
}

template <typename F> struct Faked;
template <typename R, typename... A> struct Faked<R (*)(A...)> {
    template <R (*SystemCalls::*Entry)(A...), int I> static R Call(A... args)
    {
        if (!Fails(I)) {
            return (base.*Entry)(args...);
        }
        if (I == k_close) {
            (base.*Entry)(args...); // released all the same
        }
        errno = static_cast<int>(fail[2]);
        return -1;
    }
};

int Ruleset(const struct landlock_ruleset_attr *attr, size_t size, uint32_t flags)
{
    return LandlockRulesetAtAbi(landlock_abi, attr, size, flags);
}

void Report()
{
    for (long count : uses) {
        std::printf("%ld ", count);
    }
    std::printf("uses\n");
    for (int fd = 0; fd < 256; ++fd) {
        if ((fcntl(fd, F_GETFD) != -1) != (open_at_start[fd] || fd == coredll::DeviceRootFd())) {
            std::printf("descriptor %d %s\n", fd, open_at_start[fd] ? "closed" : "left open");
        }
    }
}

struct Installed {
    Installed()
    {
        for (int fd = 0; fd < 256; ++fd) {
            open_at_start[fd] = fcntl(fd, F_GETFD) != -1;
        }
        const char *text = std::getenv("FAIL");
        if (text != nullptr) {
            std::sscanf(text, "%ld %ld %ld", &fail[0], &fail[1], &fail[2]);
        }
        base = coredll::KernelSystemCalls();
        text = std::getenv("LANDLOCK_ABI");
        if (text != nullptr) {
            landlock_abi = std::atoi(text);
            base.landlock_create_ruleset = Ruleset;
        }
        SystemCalls faked = base;
#define INSTALL(call)                                                                              \
    faked.call =                                                                                   \
        &Faked<std::remove_reference_t<decltype(faked.call)>>::Call<&SystemCalls::call, k_##call>;
        EACH_CALL(INSTALL)
        coredll::SetSystemCalls(faked);
        std::atexit(Report);
    }
} installed;

} // namespace

void *operator new(size_t size)
{
    void *block = Fails(k_new) ? nullptr : std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void operator delete(void *block) noexcept
{
    std::free(block);
}

void operator delete(void *block, size_t) noexcept
{
    std::free(block);
}
