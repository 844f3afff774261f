// confinement_test.cpp - the program's kernel confinement to the device root.
//
// The program's start-up asks the kernel to refuse every change outside the
// root, as a second guard beside resolving every path inside it.  A
// directory moved away in the middle of a search must not lose another
// file, and nothing may be created outside.
#include "temp_root.h"

#include "coredll.h"
#include "kernel/device_root.h"

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Confinement = TempRoot;

enum ChildResult {
    Passed = 0,
    NoLandlock = 10,
    SearchFailed,
    FirstDeleteFailed,
    NoSecondEntry,
    PipeFailed,
    DeletedOutside,
    CreatedOutside
};

std::u16string OldEntry(const WIN32_FIND_DATAW &record)
{
    return u"\\Old\\" + std::u16string(record.cFileName);
}

// The child: confined, it deletes the search's first entry, lets the parent
// move the directory out of the root, then tries the second entry and a new
// file outside.
int RunConfinedChild(int ready_fd, int moved_fd, const std::string &outside_file)
{
    if (!coredll::ConfineChangesToRoot()) {
        return NoLandlock;
    }
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(u"\\Old\\*.*", &record);
    if (search == INVALID_HANDLE_VALUE) {
        return SearchFailed;
    }
    if (!DeleteFileW(OldEntry(record).c_str())) {
        return FirstDeleteFailed;
    }
    if (!FindNextFileW(search, &record)) {
        return NoSecondEntry;
    }
    char signal = 'm';
    if (write(ready_fd, &signal, 1) != 1 || read(moved_fd, &signal, 1) != 1) {
        return PipeFailed;
    }
    if (DeleteFileW(OldEntry(record).c_str())) {
        return DeletedOutside;
    }
    FindClose(search);
    FILE *created = std::fopen(outside_file.c_str(), "w");
    if (created != nullptr) {
        std::fclose(created);
        return CreatedOutside;
    }
    return Passed;
}

TEST_F(Confinement, ADirectoryMovedOutMidSearchLosesNothingMore)
{
    MakeDirs(InRoot("Old"));
    WriteFile(InRoot("Old/a.txt"), "a");
    WriteFile(InRoot("Old/b.txt"), "b");
    int ready[2];
    int moved[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(moved), 0);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(RunConfinedChild(ready[1], moved[0], Outside("created.txt")));
    }
    char signal = 0;
    bool child_ready = read(ready[0], &signal, 1) == 1;
    if (child_ready) {
        EXPECT_EQ(std::rename(InRoot("Old").c_str(), Outside("Old").c_str()), 0);
        EXPECT_EQ(write(moved[1], &signal, 1), 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    for (int fd : {ready[0], ready[1], moved[0], moved[1]}) {
        close(fd);
    }
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == NoLandlock) {
        GTEST_SKIP() << "this kernel offers no Landlock confinement";
    }
    EXPECT_EQ(WEXITSTATUS(status), Passed);
    ASSERT_TRUE(child_ready);

    // One of the two files went while the directory was inside the root; the
    // other moved out with it and is still there.
    int left = (Exists(Outside("Old/a.txt")) ? 1 : 0) + (Exists(Outside("Old/b.txt")) ? 1 : 0);
    EXPECT_EQ(left, 1);
    EXPECT_FALSE(Exists(Outside("created.txt")));
}

// A directory moved to another place inside the root mid-search: its
// remaining entries are not deleted through the search, and the path it had
// names nothing now.
TEST_F(Confinement, ADirectoryMovedWithinTheRootMidSearchLosesNothingMore)
{
    MakeDirs(InRoot("Old"));
    WriteFile(InRoot("Old/a.txt"), "a");
    WriteFile(InRoot("Old/b.txt"), "b");
    int ready[2];
    int moved[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(moved), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!coredll::ConfineChangesToRoot()) {
            _exit(NoLandlock);
        }
        WIN32_FIND_DATAW record;
        HANDLE search = FindFirstFileW(u"\\Old\\*.*", &record);
        char signal = 'm';
        if (search == INVALID_HANDLE_VALUE || !FindNextFileW(search, &record) ||
            write(ready[1], &signal, 1) != 1 || read(moved[0], &signal, 1) != 1) {
            _exit(SearchFailed);
        }
        _exit(DeleteFileW(OldEntry(record).c_str()) ? DeletedOutside : Passed);
    }
    char signal = 0;
    if (read(ready[0], &signal, 1) == 1) {
        EXPECT_EQ(std::rename(InRoot("Old").c_str(), InRoot("Moved").c_str()), 0);
        EXPECT_EQ(write(moved[1], &signal, 1), 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    for (int fd : {ready[0], ready[1], moved[0], moved[1]}) {
        close(fd);
    }
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == NoLandlock) {
        GTEST_SKIP() << "this kernel offers no Landlock confinement";
    }
    EXPECT_EQ(WEXITSTATUS(status), Passed);
    EXPECT_TRUE(Exists(InRoot("Moved/a.txt")));
    EXPECT_TRUE(Exists(InRoot("Moved/b.txt")));
}

} // namespace
