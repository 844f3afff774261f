// confinement_test.cpp - a directory that leaves the root in the middle of a
// call, on each kind of kernel.
//
// An open directory follows renames, even out of the root.  Another process
// moves the directory out at one of two instants inside DeleteFileW, which
// the system-call table injects: once the path is resolved (the stat of its
// last name), or at the change itself (the unlink).  What holds, as the
// Linux documentation of Landlock and rename(2) tell it:
// - Landlock ABI 2 or later judges each change by where the file is at that
//   moment: nothing outside is changed, whenever the move comes;
// - a root that is a file system of its own cannot be left: the move fails
//   with EXDEV and the call acts inside;
// - with Landlock ABI 1 or none, the layer opens the directory afresh from
//   the root right before the change: a move before that open is caught, a
//   move in the instant between the open and the change is not.
#include "faked_landlock.h"
#include "temp_root.h"

#include "coredll.h"
#include "kernel/device_root.h"
#include "kernel/system_calls.h"
#include "testing/test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/landlock.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using coredll::KernelSystemCalls;

using Confinement = TempRoot;

// The child's exit statuses.
enum ChildResult { Kept = 0, Deleted = 1, Unavailable = 10, CreatedOutside = 11 };

// The child's side of the injected move: the pipes to the parent, the name
// whose call triggers it, and the Landlock ABI the fake kernel reports.
int request_fd = -1;
int done_fd = -1;
bool move_asked = false;
int faked_abi = 0;

// Asks the parent to move the directory and waits until it has, once.
void AskForTheMove(const char *name)
{
    char signal = 'm';
    if (!move_asked && std::strcmp(name, "a.txt") == 0) {
        move_asked = true;
        if (write(request_fd, &signal, 1) != 1 || read(done_fd, &signal, 1) != 1) {
            _exit(Unavailable);
        }
    }
}

int StatMovingAfterResolution(int dir_fd, const char *path, struct stat *st, int flags)
{
    AskForTheMove(path);
    return KernelSystemCalls().fstatat(dir_fd, path, st, flags);
}

int UnlinkMovingAtTheChange(int dir_fd, const char *path, int flags)
{
    AskForTheMove(path);
    return KernelSystemCalls().unlinkat(dir_fd, path, flags);
}

int FakeCreateRuleset(const struct landlock_ruleset_attr *attr, size_t size, uint32_t flags)
{
    return LandlockRulesetAtAbi(faked_abi, attr, size, flags);
}

bool WriteText(const std::string &path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out.flush());
}

// Makes the root (the current directory) a tmpfs of this process's own: a
// private mount namespace (and a user namespace when not root).
bool MountOwnFileSystemOnRoot(const std::string &root)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (uid != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !WriteText("/proc/self/setgroups", "deny") ||
            !WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            return false;
        }
    } else if (unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    return mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", root.c_str(), "tmpfs", 0, "size=1m") == 0 && chdir(root.c_str()) == 0 &&
           coredll::ReopenDeviceRoot();
}

enum class Kernel { Landlock, FakedAbi1, FakedNone, OwnFileSystem };
enum class Instant { AfterResolution, AtTheChange };

struct Outcome {
    int child = -1; // a ChildResult, -1 when it crashed
    int move = -1;  // the parent's rename: 0, or -1 with move_errno
    int move_errno = 0;
};

// Runs DeleteFileW(u"\\Old\\a.txt") in a child on `kernel`, while the
// parent moves <root>/Old to <outside>/Old at `instant` inside the call.
Outcome DeleteWhileMovedOut(Kernel kernel, Instant instant, const std::string &root,
                            const std::string &outside)
{
    int request[2];
    int done[2];
    Outcome outcome;
    if (pipe(request) != 0 || pipe(done) != 0) {
        return outcome;
    }
    pid_t child = fork();
    if (child == 0) {
        close(request[0]);
        close(done[1]);
        request_fd = request[1];
        done_fd = done[0];
        if (kernel == Kernel::OwnFileSystem &&
            (!MountOwnFileSystemOnRoot(root) || mkdir("Old", 0755) != 0 ||
             !WriteText("Old/a.txt", "a"))) {
            _exit(Unavailable);
        }
        coredll::SystemCalls calls = KernelSystemCalls();
        faked_abi = kernel == Kernel::FakedAbi1 ? 1 : 0;
        if (kernel != Kernel::Landlock) {
            calls.landlock_create_ruleset = FakeCreateRuleset;
        }
        if (instant == Instant::AfterResolution) {
            calls.fstatat = StatMovingAfterResolution;
        } else {
            calls.unlinkat = UnlinkMovingAtTheChange;
        }
        coredll::SetSystemCalls(calls);
        const std::string kept = outside + "/kept.txt";
        bool truncation_refusable =
            WriteText(kept, "kept") && KernelSystemCalls().landlock_create_ruleset(
                                           nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) >= 3;
        coredll::ConfineChangesToRoot();
        if (coredll::ChangesConfinedToRoot() != (kernel == Kernel::Landlock)) {
            _exit(Unavailable);
        }
        bool deleted = DeleteFileW(u"\\Old\\a.txt") != FALSE;
        // Confined, nothing at all can be made (or, from ABI 3, truncated) outside either.
        if (kernel == Kernel::Landlock &&
            (mkdir((outside + "/made").c_str(), 0755) == 0 ||
             (truncation_refusable && truncate(kept.c_str(), 0) == 0))) {
            _exit(CreatedOutside);
        }
        _exit(deleted ? Deleted : Kept);
    }
    close(request[1]);
    close(done[0]);
    char signal = 0;
    if (read(request[0], &signal, 1) == 1) {
        // Through the child's own mounts when the root is its own tmpfs.
        std::string from = kernel == Kernel::OwnFileSystem
                               ? "/proc/" + std::to_string(child) + "/root" + root + "/Old"
                               : root + "/Old";
        outcome.move = std::rename(from.c_str(), (outside + "/Old").c_str());
        outcome.move_errno = errno;
        if (write(done[1], &signal, 1) != 1) {
            outcome.move = -2;
        }
    }
    close(request[0]);
    close(done[1]);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.child = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

const Instant kInstants[] = {Instant::AfterResolution, Instant::AtTheChange};

const char *NameOf(Instant instant)
{
    return instant == Instant::AfterResolution ? "moved after resolution" : "moved at the change";
}

TEST_F(Confinement, WithLandlockAbi2OrLaterNothingOutsideIsChangedWheneverTheMoveComes)
{
    if (KernelSystemCalls().landlock_create_ruleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) <
        2) {
        GTEST_SKIP() << "this kernel offers no Landlock ABI 2";
    }
    for (Instant instant : kInstants) {
        MakeDirs(InRoot("Old"));
        WriteFile(InRoot("Old/a.txt"), "a");
        Outcome outcome = DeleteWhileMovedOut(Kernel::Landlock, instant, root_, outside_);
        EXPECT_EQ(outcome.move, 0) << NameOf(instant);
        EXPECT_EQ(outcome.child, Kept) << NameOf(instant);
        EXPECT_EQ(ReadFile(Outside("Old/a.txt")), "a") << NameOf(instant);
        std::remove(Outside("Old/a.txt").c_str());
        std::remove(Outside("Old").c_str());
    }
}

TEST_F(Confinement, WithLandlockAbi1OrNoneOnlyAMoveInTheLastInstantBeforeTheChangeActsOutside)
{
    for (Kernel kernel : {Kernel::FakedAbi1, Kernel::FakedNone}) {
        const std::string kind = kernel == Kernel::FakedAbi1 ? "ABI 1, " : "no Landlock, ";
        for (Instant instant : kInstants) {
            MakeDirs(InRoot("Old"));
            WriteFile(InRoot("Old/a.txt"), "a");
            Outcome outcome = DeleteWhileMovedOut(kernel, instant, root_, outside_);
            EXPECT_EQ(outcome.move, 0) << kind << NameOf(instant);
            if (instant == Instant::AfterResolution) {
                EXPECT_EQ(outcome.child, Kept) << kind << NameOf(instant);
                EXPECT_EQ(ReadFile(Outside("Old/a.txt")), "a") << kind << NameOf(instant);
            } else {
                // The window the documentation names: between the open and
                // the change, the change lands at the directory's new place.
                EXPECT_EQ(outcome.child, Deleted) << kind << NameOf(instant);
                EXPECT_FALSE(Exists(Outside("Old/a.txt"))) << kind << NameOf(instant);
            }
            std::remove(Outside("Old/a.txt").c_str());
            std::remove(Outside("Old").c_str());
        }
    }
}

TEST_F(Confinement, ARootThatIsAFileSystemOfItsOwnCannotBeLeftWithoutLandlock)
{
    for (Instant instant : kInstants) {
        Outcome outcome = DeleteWhileMovedOut(Kernel::OwnFileSystem, instant, root_, outside_);
        if (outcome.child == Unavailable) {
            GTEST_SKIP() << "no private mount namespace here (unshare refused)";
        }
        EXPECT_EQ(outcome.move, -1) << NameOf(instant);
        EXPECT_EQ(outcome.move_errno, EXDEV) << NameOf(instant);
        EXPECT_EQ(outcome.child, Deleted) << NameOf(instant) << ": deleted inside, where it stayed";
        EXPECT_FALSE(Exists(Outside("Old"))) << NameOf(instant);
    }
}

std::u16string OldEntry(const WIN32_FIND_DATAW &record)
{
    return u"\\Old\\" + std::u16string(record.cFileName);
}

// A directory moved to another place inside the root mid-search: the path
// it had names nothing now, so none of its entries is deleted through it.
TEST_F(Confinement, ADirectoryMovedWithinTheRootMidSearchLosesNothingMore)
{
    MakeDirs(InRoot("Old"));
    WriteFile(InRoot("Old/a.txt"), "a");
    WriteFile(InRoot("Old/b.txt"), "b");
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(u"\\Old\\*.*", &record);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ASSERT_EQ(std::rename(InRoot("Old").c_str(), InRoot("Moved").c_str()), 0);
    int deleted = 0;
    int yielded = 0;
    do {
        ++yielded;
        deleted += DeleteFileW(OldEntry(record).c_str()) ? 1 : 0;
    } while (FindNextFileW(search, &record));
    FindClose(search);
    EXPECT_EQ(yielded, 2) << "the search goes on in the moved directory";
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(ReadFile(InRoot("Moved/a.txt")), "a");
    EXPECT_EQ(ReadFile(InRoot("Moved/b.txt")), "b");
}

} // namespace
