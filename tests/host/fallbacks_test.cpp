// fallbacks_test.cpp - the layer on kernels unlike this one, through a
// replaced system-call table: Landlock ABI 1, no /proc, the descriptor limit
// reached in a long search, and no memory left.  Each run must give the
// device's results, or a failed call, and never touch the outside.  (Each
// system call failing once: tests/property/fault_sweep.py.)
#include "faked_landlock.h"
#include "temp_root.h"

#include "cleanup/cleanup_run.h"
#include "coredll.h"
#include "platform_names.h"
#include "kernel/device_root.h"
#include "kernel/system_calls.h"
#include "testing/test_support.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/landlock.h>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool allocation_fails = false;

} // namespace

// Every allocation of this test program fails while allocation_fails is set.
void *operator new(size_t size)
{
    void *block = allocation_fails ? nullptr : std::malloc(size == 0 ? 1 : size);
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

namespace {

using coredll::KernelSystemCalls;

// The fakes' settings: what the kernel reports.
int landlock_abi = 0;        // 0: no Landlock at all (ENOSYS)
int restrict_self_calls = 0; // landlock_restrict_self calls seen

int FakeCreateRuleset(const struct landlock_ruleset_attr *attr, size_t size, uint32_t flags)
{
    return LandlockRulesetAtAbi(landlock_abi, attr, size, flags);
}

int CountedRestrictSelf(int ruleset_fd, uint32_t flags)
{
    ++restrict_self_calls;
    return KernelSystemCalls().landlock_restrict_self(ruleset_fd, flags);
}

bool UnderProc(const char *path)
{
    return std::strncmp(path, "/proc/", 6) == 0;
}

ssize_t ReadlinkWithoutProc(int dir_fd, const char *path, char *out, size_t size)
{
    if (UnderProc(path)) {
        errno = ENOENT;
        return -1;
    }
    return KernelSystemCalls().readlinkat(dir_fd, path, out, size);
}

int OpenatWithoutProc(int dir_fd, const char *path, int flags)
{
    if (UnderProc(path)) {
        errno = ENOENT;
        return -1;
    }
    return KernelSystemCalls().openat(dir_fd, path, flags);
}

// The lowest descriptor number not in use.
int LowestFreeFd()
{
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(fd);
    return fd;
}

class Fallbacks : public TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        calls_ = KernelSystemCalls();
        landlock_abi = 0;
        restrict_self_calls = 0;
    }

    void TearDown() override
    {
        allocation_fails = false;
        coredll::SetSystemCalls(KernelSystemCalls());
        TempRoot::TearDown();
    }

    // Runs `body` in a child process (which may confine itself) with the
    // table calls_ in place; returns its exit status, -1 when it crashed.
    int InChild(const std::function<int()> &body)
    {
        pid_t child = fork();
        if (child == 0) {
            coredll::SetSystemCalls(calls_);
            _exit(body());
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A device after the pack's installation, and a canary outside.
    void TypicalDevice()
    {
        MakeDirs(InRoot("Temp/ServicePackOld/Sub"));
        MakeDirs(InRoot("Temp/ServicePack"));
        MakeDirs(InRoot("Windows"));
        WriteFile(InRoot("Temp/ServicePackOld/a.txt"), "a");
        WriteFile(InRoot("Temp/ServicePackOld/b.txt"), "b");
        WriteFile(InRoot("Temp/ServicePackOld/locked.txt"), "ro", 0444);
        WriteFile(InRoot("Windows/Pack.cab"), "cab");
        WriteFile(InRoot("registry.reg"),
                  "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\ORVEN ZK4070 ServicePack "
                  "1.13]\n\"CabFile\"=\"\\\\windows\\\\pack.cab\"\n");
        MakeDirs(Outside("Temp/ServicePackOld"));
        WriteFile(Outside("Temp/ServicePackOld/canary.txt"), "canary");
    }

    coredll::SystemCalls calls_;
};

TEST_F(Fallbacks, WithOnlyLandlockAbi1TheRunIsUnconfinedAndStillMovesAcrossDirectories)
{
    // A ruleset of ABI 1 cannot handle renames between directories: the
    // kernel would refuse every one, the program's move to the old-pack
    // directory among them.
    calls_.landlock_create_ruleset = FakeCreateRuleset;
    calls_.landlock_restrict_self = CountedRestrictSelf;
    WriteFile(InRoot("sp.exe"), "program");
    MakeDirs(InRoot("Temp/ServicePackOld"));
    landlock_abi = 1;
    int status = InChild([] {
        coredll::ConfineChangesToRoot();
        if (coredll::ChangesConfinedToRoot() || restrict_self_calls != 0) {
            return 1;
        }
        return MoveFileW(u"\\sp.exe", u"\\Temp\\ServicePackOld\\PatchUnInstall.exe") ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(InRoot("Temp/ServicePackOld/PatchUnInstall.exe")), "program");
}

TEST_F(Fallbacks, WithoutProcSearchesReadEveryBlockAndTheDirectoryIsEmptied)
{
    MakeDirs(InRoot("Temp/ServicePackOld"));
    for (int i = 0; i < 3000; ++i) {
        WriteFile(InRoot("Temp/ServicePackOld/leftover_" + std::to_string(i) + ".tmp"), "");
    }
    calls_.readlinkat = ReadlinkWithoutProc;
    calls_.openat = OpenatWithoutProc;
    coredll::SetSystemCalls(calls_);
    EmptyOldPackDirectory();
    EXPECT_TRUE(RemoveDirectoryW(u"\\Temp\\ServicePackOld")) << "files are left";
}

TEST_F(Fallbacks, AtTheKernelsDescriptorLimitADirectoryOfManyBlocksIsStillEmptied)
{
    // Deletions during a search leave their directory fds to be closed in a
    // batch; at the limit those go first, for every open: the path's, the
    // look-up of a name spelt otherwise on disk, and the check before each
    // further block that the directory is still inside the root.
    // Long names: a few thousand files fill many blocks.
    const std::string long_name(100, 'x');
    for (const char *on_disk : {"Temp/ServicePackOld", "tEMP/servicePACKold"}) {
        MakeDirs(InRoot(on_disk));
        for (int i = 0; i < 2000; ++i) {
            WriteFile(InRoot(std::string(on_disk) + "/" + long_name + std::to_string(i)), "");
        }
        int status = InChild([] {
            struct rlimit limit = {};
            limit.rlim_cur = static_cast<rlim_t>(LowestFreeFd() + 5);
            limit.rlim_max = limit.rlim_cur;
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
                return 1;
            }
            EmptyOldPackDirectory();
            return 0;
        });
        EXPECT_EQ(status, 0) << on_disk;
        EXPECT_TRUE(RemoveDirectoryW(u"\\Temp\\ServicePackOld")) << on_disk << ": files are left";
        EXPECT_TRUE(RemoveDirectoryW(u"\\Temp"));
    }
}

TEST_F(Fallbacks, WithNoMemoryLeftFileCallsStillWorkAndRegistryCallsFail)
{
    TypicalDevice();
    HKEY key = nullptr;
    WIN32_FIND_DATAW record;
    allocation_fails = true;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_ALL_ACCESS, &key);
    HANDLE search = FindFirstFileW(u"\\Temp\\ServicePackOld\\*.*", &record);
    BOOL deleted = DeleteFileW(u"\\Temp\\ServicePackOld\\A.TXT");
    BOOL moved = MoveFileW(u"\\Temp\\ServicePackOld\\b.txt", u"\\Temp\\b.txt");
    BOOL created = CreateDirectoryW(u"\\Temp\\New", nullptr);
    DWORD attributes = GetFileAttributesW(u"\\temp\\servicepackold\\locked.txt");
    BOOL closed = FindClose(search);
    allocation_fails = false;

    EXPECT_EQ(opened, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(moved);
    EXPECT_TRUE(created);
    EXPECT_EQ(attributes, DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_TRUE(closed);
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePackOld/a.txt")));
    EXPECT_EQ(ReadFile(InRoot("Temp/b.txt")), "b");
}

} // namespace
