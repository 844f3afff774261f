// file_api_test.cpp - deleting, creating, removing and moving inside the root.
#include "temp_root.h"

#include "coredll.h"
#include "kernel/system_calls.h"
#include "platform_names.h"
#include "testing/test_support.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <utility>

namespace {

using FileApi = TempRoot;

// The most descriptors the layer holds at once, counted through its table.
int open_now = 0;
int most_open = 0;

int CountedOpen(int dir_fd, const char *path, const struct open_how *how, size_t size)
{
    int fd = coredll::KernelSystemCalls().openat2(dir_fd, path, how, size);
    most_open = std::max(most_open, open_now += fd >= 0 ? 1 : 0);
    return fd;
}

int CountedClose(int fd)
{
    int result = coredll::KernelSystemCalls().close(fd);
    open_now -= result == 0 ? 1 : 0;
    return result;
}

TEST_F(FileApi, DeleteRefusesReadOnlyFilesDirectoriesAndMissingFiles)
{
    WriteFile(InRoot("plain.txt"), "x", 0644);
    WriteFile(InRoot("locked.txt"), "x", 0444);
    MakeDirs(InRoot("Folder"));
    EXPECT_TRUE(DeleteFileW(u"\\plain.txt"));
    EXPECT_FALSE(Exists(InRoot("plain.txt")));
    EXPECT_FALSE(DeleteFileW(u"\\plain.txt"));
    EXPECT_FALSE(DeleteFileW(u"\\locked.txt"));
    EXPECT_FALSE(DeleteFileW(u"\\Folder"));
    EXPECT_FALSE(DeleteFileW(u"\\"));
    EXPECT_FALSE(DeleteFileW(u"\\Missing\\plain.txt"));
    EXPECT_TRUE(Exists(InRoot("locked.txt")));
    EXPECT_TRUE(Exists(InRoot("Folder")));
}

// A final separator names a directory, which DeleteFileW never deletes: not
// even a link to one, although the link itself is a file on the host.
TEST_F(FileApi, DeleteRefusesTheRunningExecutable)
{
    // A hard link inside the root to this very test program: the same file.
    char self[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", self), nullptr);
    if (link(self, InRoot("self.exe").c_str()) != 0) {
        GTEST_SKIP() << "the build tree and the temporary directory are on different file systems";
    }
    EXPECT_FALSE(DeleteFileW(u"\\self.exe"));
    EXPECT_TRUE(Exists(InRoot("self.exe")));
}

TEST_F(FileApi, AttributesMapPermissionsAndKinds)
{
    WriteFile(InRoot("plain.txt"), "x", 0644);
    WriteFile(InRoot("locked.txt"), "x", 0444);
    MakeDirs(InRoot("Folder"));
    MakeLink("plain.txt", InRoot("link"));
    MakeLink("nowhere", InRoot("dangling"));
    EXPECT_EQ(GetFileAttributesW(u"\\plain.txt"), DWORD{FILE_ATTRIBUTE_NORMAL});
    EXPECT_EQ(GetFileAttributesW(u"\\locked.txt"), DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_EQ(GetFileAttributesW(u"\\Folder"), DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(GetFileAttributesW(u"\\"), DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(GetFileAttributesW(u"\\link"), DWORD{FILE_ATTRIBUTE_NORMAL});
    EXPECT_EQ(GetFileAttributesW(u"\\dangling"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"\\missing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(nullptr), INVALID_FILE_ATTRIBUTES);
    chmod(InRoot("Folder").c_str(), 0555);
    EXPECT_EQ(GetFileAttributesW(u"\\Folder"),
              DWORD{FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY});
}

TEST_F(FileApi, CreateDirectoryNeedsAParentAndAFreeName)
{
    EXPECT_TRUE(CreateDirectoryW(u"\\Temp", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"\\Temp", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"\\TEMP", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"\\Missing\\Child", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"\\", nullptr));
    EXPECT_TRUE(CreateDirectoryW(u"\\Temp\\Child\\", nullptr));
    EXPECT_TRUE(Exists(InRoot("Temp/Child")));
    mode_t mask = umask(0);
    umask(mask);
    struct stat st = {};
    stat(InRoot("Temp").c_str(), &st); // made as Wine makes it, mkdir(path, 0777)
    EXPECT_EQ(st.st_mode & 07777, 0777 & ~mask);
    EXPECT_FALSE(Exists(InRoot("TEMP")));
    EXPECT_FALSE(Exists(InRoot("Missing")));
}

TEST_F(FileApi, RemoveDirectoryTakesOnlyEmptyDirectories)
{
    MakeDirs(InRoot("Temp/ServicePack"));
    WriteFile(InRoot("Temp/file.txt"), "x");
    EXPECT_FALSE(RemoveDirectoryW(u"\\Temp"));
    EXPECT_FALSE(RemoveDirectoryW(u"\\Temp\\file.txt"));
    EXPECT_TRUE(RemoveDirectoryW(u"\\temp\\servicepack\\"));
    EXPECT_FALSE(RemoveDirectoryW(u"\\Temp\\ServicePack"));
    EXPECT_TRUE(Exists(InRoot("Temp/file.txt")));
    EXPECT_FALSE(Exists(InRoot("Temp/ServicePack")));
}

TEST_F(FileApi, MoveNeverReplacesAndNeedsTheTargetParent)
{
    WriteFile(InRoot("a.exe"), "program");
    WriteFile(InRoot("taken.exe"), "other");
    EXPECT_FALSE(MoveFileW(u"\\a.exe", u"\\taken.exe"));
    EXPECT_FALSE(MoveFileW(u"\\a.exe", u"\\TAKEN.EXE"));
    EXPECT_FALSE(MoveFileW(u"\\a.exe", u"\\Missing\\a.exe"));
    EXPECT_FALSE(MoveFileW(u"\\gone.exe", u"\\b.exe"));
    EXPECT_EQ(ReadFile(InRoot("taken.exe")), "other");
    EXPECT_EQ(ReadFile(InRoot("a.exe")), "program");

    MakeDirs(InRoot("Temp/Old"));
    EXPECT_TRUE(MoveFileW(u"\\A.EXE", u"\\temp\\old\\Moved.exe"));
    EXPECT_EQ(ReadFile(InRoot("Temp/Old/Moved.exe")), "program");
    EXPECT_FALSE(Exists(InRoot("a.exe")));

    // A move holds no more descriptors at once than a deletion, names spelt
    // otherwise on disk (each looked up in its directory's listing) included.
    WriteFile(InRoot("Temp/Old/b.exe"), "");
    coredll::SystemCalls counted = coredll::KernelSystemCalls();
    counted.openat2 = CountedOpen;
    counted.close = CountedClose;
    coredll::SetSystemCalls(counted);
    EXPECT_TRUE(DeleteFileW(u"\\TEMP\\old\\B.EXE"));
    int deletion = std::exchange(most_open, 0);
    EXPECT_TRUE(MoveFileW(u"\\TEMP\\old\\MOVED.EXE", u"\\temp\\OLD\\back.exe"));
    coredll::SetSystemCalls(coredll::KernelSystemCalls());
    EXPECT_LE(most_open, deletion);
}

TEST_F(FileApi, DeletionAfterASearchFollowsChangesToTheTree)
{
    // The search's directory is kept for the deletions that follow it; a
    // rename by the layer must not leave deletions aimed at the old place.
    MakeDirs(InRoot("Old"));
    WriteFile(InRoot("Old/a.txt"), "a");
    WriteFile(InRoot("Old/b.txt"), "b");
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(u"\\Old\\*.*", &record);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileW(u"\\Old\\a.txt"));
    EXPECT_TRUE(MoveFileW(u"\\Old", u"\\Moved"));
    EXPECT_TRUE(CreateDirectoryW(u"\\Old", nullptr));
    EXPECT_FALSE(DeleteFileW(u"\\Old\\b.txt"));
    EXPECT_TRUE(Exists(InRoot("Moved/b.txt")));
    EXPECT_TRUE(FindClose(search));
    EXPECT_TRUE(DeleteFileW(u"\\Moved\\B.TXT"));
}

} // namespace
