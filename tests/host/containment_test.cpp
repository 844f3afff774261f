// containment_test.cpp - nothing outside the device root is ever read or changed.
#include "temp_root.h"

#include "coredll.h"
#include "platform_names.h"
#include "kernel/device_root.h"
#include "paths/device_path.h"
#include "kernel/system_calls.h"
#include "testing/test_support.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Containment = TempRoot;

// Host path that a resolved directory fd names.
std::string FdPath(int fd)
{
    char link[4096];
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    ssize_t length = readlink(proc.c_str(), link, sizeof(link) - 1);
    return length < 0 ? std::string() : std::string(link, static_cast<size_t>(length));
}

TEST_F(Containment, DotDotNeverClimbsAboveTheRoot)
{
    WriteFile(Outside("victim.txt"), "victim");
    WriteFile(InRoot("victim.txt"), "inside");
    EXPECT_FALSE(DeleteFileW(u"\\..\\..\\outside\\victim.txt"));
    EXPECT_EQ(ReadFile(Outside("victim.txt")), "victim");

    // "\..\victim.txt" is "\victim.txt": the file inside the root goes.
    EXPECT_TRUE(DeleteFileW(u"\\..\\victim.txt"));
    EXPECT_FALSE(Exists(InRoot("victim.txt")));

    coredll::ResolvedEntry entry;
    ASSERT_TRUE(coredll::ResolveDeviceEntry(coredll::DeviceRootFd(), u"\\..\\..\\x", entry));
    EXPECT_EQ(FdPath(entry.dir_fd), root_);
    EXPECT_EQ(std::string(entry.name), "x");
    close(entry.dir_fd);
}

TEST_F(Containment, LinksLeadingOutAreNeverFollowedOutside)
{
    WriteFile(Outside("victim.txt"), "victim");
    MakeDirs(Outside("dir"));
    WriteFile(Outside("dir/victim.txt"), "victim");
    MakeLink(outside_, InRoot("abs_dir"));     // absolute target
    MakeLink("../outside", InRoot("rel_dir")); // relative target
    MakeLink(Outside("victim.txt"), InRoot("abs_file"));
    MakeLink("../outside/victim.txt", InRoot("rel_file"));

    for (const char16_t *path : {u"\\abs_dir\\victim.txt", u"\\rel_dir\\victim.txt",
                                 u"\\abs_dir\\dir\\victim.txt", u"\\rel_dir\\dir\\victim.txt"}) {
        EXPECT_FALSE(DeleteFileW(path));
        EXPECT_EQ(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
        EXPECT_FALSE(MoveFileW(path, u"\\stolen.txt"));
    }
    EXPECT_EQ(GetFileAttributesW(u"\\abs_file"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"\\rel_file"), INVALID_FILE_ATTRIBUTES);

    EXPECT_FALSE(CreateDirectoryW(u"\\abs_dir\\made", nullptr));
    EXPECT_FALSE(CreateDirectoryW(u"\\rel_dir\\made", nullptr));
    WriteFile(InRoot("mine.txt"), "mine");
    EXPECT_FALSE(MoveFileW(u"\\mine.txt", u"\\abs_dir\\mine.txt"));
    EXPECT_FALSE(MoveFileW(u"\\mine.txt", u"\\rel_dir\\mine.txt"));
    EXPECT_FALSE(RemoveDirectoryW(u"\\abs_dir\\dir"));

    WIN32_FIND_DATAW record;
    EXPECT_EQ(FindFirstFileW(u"\\abs_dir\\*.*", &record), INVALID_HANDLE_VALUE);

    // Deleting a link removes the link only.
    EXPECT_TRUE(DeleteFileW(u"\\abs_file"));
    EXPECT_TRUE(DeleteFileW(u"\\rel_file"));
    EXPECT_FALSE(Exists(InRoot("abs_file")));

    EXPECT_EQ(ReadFile(Outside("victim.txt")), "victim");
    EXPECT_EQ(ReadFile(Outside("dir/victim.txt")), "victim");
    EXPECT_FALSE(Exists(Outside("made")));
    EXPECT_FALSE(Exists(Outside("mine.txt")));
    EXPECT_EQ(ReadFile(InRoot("mine.txt")), "mine");
}

TEST_F(Containment, AbsoluteLinkTargetsMeanTheDeviceRoot)
{
    // "/Data" inside a link is the root's Data, not the host's /Data.
    MakeDirs(InRoot("Data"));
    WriteFile(InRoot("Data/file.txt"), "data");
    MakeLink("/Data", InRoot("Storage"));
    EXPECT_EQ(GetFileAttributesW(u"\\Storage\\file.txt"), DWORD{FILE_ATTRIBUTE_NORMAL});
    EXPECT_TRUE(DeleteFileW(u"\\storage\\FILE.TXT"));
    EXPECT_FALSE(Exists(InRoot("Data/file.txt")));
    EXPECT_TRUE(Exists(InRoot("Storage")));
}

TEST_F(Containment, ASearchedDirectoryMovedOutIsNeitherReadNorEmptied)
{
    MakeDirs(InRoot("Old"));
    WriteFile(InRoot("Old/a.txt"), "a");
    WriteFile(InRoot("Old/b.txt"), "b");
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(u"\\Old\\*.*", &record);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ASSERT_EQ(rename(InRoot("Old").c_str(), Outside("Old").c_str()), 0);
    MakeLink(Outside("Old"), InRoot("Old"));
    EXPECT_FALSE(DeleteFileW(u"\\Old\\a.txt"));
    EXPECT_FALSE(DeleteFileW(u"\\Old\\b.txt"));
    FindClose(search);
    EXPECT_EQ(ReadFile(Outside("Old/a.txt")), "a");
    EXPECT_EQ(ReadFile(Outside("Old/b.txt")), "b");

    // A search whose directory leaves the root before its next block ends.
    MakeDirs(InRoot("Many"));
    for (int i = 0; i < 2000; ++i) {
        WriteFile(InRoot("Many/entry_with_a_long_name_" + std::to_string(i)), "");
    }
    search = FindFirstFileW(u"\\Many\\*", &record);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ASSERT_EQ(rename(InRoot("Many").c_str(), Outside("Many").c_str()), 0);
    int yielded = 1;
    while (FindNextFileW(search, &record)) {
        ++yielded;
    }
    FindClose(search);
    EXPECT_LT(yielded, 2000);
}

TEST_F(Containment, WhatCannotBeOpenedOrStatedIsNeverInside)
{
    int outside = open(outside_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    errno = EIO;
    EXPECT_FALSE(coredll::DirectoryLiesInsideRoot(outside));
    EXPECT_EQ(errno, 0) << "outside, not unknown";
    close(outside);
    EXPECT_FALSE(coredll::DirectoryLiesInsideRoot(-1));
    EXPECT_EQ(errno, EBADF);

    coredll::SystemCalls refusing = coredll::KernelSystemCalls();
    refusing.openat2 = [](int, const char *, const struct open_how *, size_t) {
        errno = EACCES;
        return -1;
    };
    coredll::SetSystemCalls(refusing);
    EXPECT_FALSE(coredll::ReopenDeviceRoot());
    EXPECT_EQ(coredll::DeviceRootPath(), nullptr);
    coredll::SetSystemCalls(coredll::KernelSystemCalls());
    int stand_in = open("/dev/null", O_RDONLY | O_CLOEXEC); // the root back at its fd
    EXPECT_TRUE(coredll::ReopenDeviceRoot());
    close(stand_in);
}

TEST_F(Containment, RemovalRefusesTheRootAndLinksToDirectories)
{
    MakeDirs(InRoot("Empty"));
    MakeLink("Empty", InRoot("LinkToEmpty"));
    EXPECT_FALSE(RemoveDirectoryW(u"\\"));
    EXPECT_FALSE(RemoveDirectoryW(u"\\.."));
    EXPECT_FALSE(RemoveDirectoryW(u"\\LinkToEmpty"));
    EXPECT_TRUE(Exists(InRoot("Empty")));
    EXPECT_TRUE(Exists(InRoot("LinkToEmpty")));
    EXPECT_TRUE(Exists(root_));
}

} // namespace
