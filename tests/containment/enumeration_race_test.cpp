/*
 * enumeration_race_test.cpp - the old-pack directory renamed, replaced or
 * removed while it is being emptied.
 *
 * The first attacks drive the host layer in this process, exactly as the
 * run empties the old-pack directory (one search, DeleteFileW on
 * "\Temp\ServicePackOld\<name>" for every record), and interfere after the
 * first record: the directory (or its parent) is moved out of the root,
 * replaced by a link to the outside, or removed.  Whatever the layer had
 * opened before, nothing outside the root may change.
 *
 * The last attack runs the program itself repeatedly while another thread
 * keeps swapping the old-pack directory with a link aimed at the outside.
 */
#include "attack_run.h"
#include "coredll.h"
#include "testing/test_support.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

class EnumerationRaceTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        sandbox_ = std::make_unique<Sandbox>(kProgram);
        for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
            sandbox_->File(std::string("Temp/ServicePackOld/") + name, name);
        }
        started_in_ = fs::current_path();
        fs::current_path(sandbox_->root());
        ASSERT_TRUE(coredll::ReopenDeviceRoot());
    }

    void TearDown() override
    {
        fs::current_path(started_in_);
        sandbox_.reset();
    }

    std::string Root(const std::string &relative) const
    {
        return sandbox_->root() + "/" + relative;
    }

    std::string Outside(const std::string &relative) const
    {
        return sandbox_->outside() + "/" + relative;
    }

    /* Empties the old-pack directory as the run does, calling `interfere`
     * once the search has yielded its first record; the outside is recorded
     * right after the interference.  Returns how many deletions succeeded. */
    int EmptyWhile(const std::function<void()> &interfere)
    {
        WIN32_FIND_DATAW record;
        HANDLE search = FindFirstFileW(u"\\Temp\\ServicePackOld\\*.*", &record);
        EXPECT_NE(search, INVALID_HANDLE_VALUE);
        if (search == INVALID_HANDLE_VALUE) {
            return 0;
        }
        interfere();
        sandbox_->RecordOutside();
        int deleted = 0;
        do {
            const std::u16string path =
                std::u16string(u"\\Temp\\ServicePackOld\\") + std::u16string(record.cFileName);
            deleted += DeleteFileW(path.c_str()) ? 1 : 0;
        } while (FindNextFileW(search, &record));
        FindClose(search);
        return deleted;
    }

    void ExpectOutsideUnchanged()
    {
        CountAttack();
        const std::string differences =
            SnapshotDifferences(sandbox_->outside_before(), TakeSnapshot(sandbox_->outside()));
        EXPECT_EQ(differences, "") << "the outside changed:\n" << differences;
    }

    void Rename(const std::string &from, const std::string &to)
    {
        ASSERT_EQ(rename(from.c_str(), to.c_str()), 0) << from << " -> " << to;
    }

    std::unique_ptr<Sandbox> sandbox_;
    fs::path started_in_;
};

TEST_F(EnumerationRaceTest, DirectoryMovedOutOfTheRoot)
{
    EmptyWhile([this] { Rename(Root("Temp/ServicePackOld"), Outside("moved")); });
    ExpectOutsideUnchanged();
}

TEST_F(EnumerationRaceTest, ParentMovedOutOfTheRoot)
{
    EmptyWhile([this] { Rename(Root("Temp"), Outside("moved-temp")); });
    ExpectOutsideUnchanged();
}

TEST_F(EnumerationRaceTest, DirectoryReplacedByAbsoluteLinkToTheOutside)
{
    EmptyWhile([this] {
        Rename(Root("Temp/ServicePackOld"), Outside("moved"));
        ASSERT_EQ(symlink(Outside("moved").c_str(), Root("Temp/ServicePackOld").c_str()), 0);
    });
    ExpectOutsideUnchanged();
}

TEST_F(EnumerationRaceTest, DirectoryReplacedByRelativeLinkToTheOutside)
{
    EmptyWhile([this] {
        Rename(Root("Temp/ServicePackOld"), Outside("moved"));
        ASSERT_EQ(symlink("../../outside/moved", Root("Temp/ServicePackOld").c_str()), 0);
    });
    ExpectOutsideUnchanged();
}

TEST_F(EnumerationRaceTest, DirectoryRenamedInsideAndNameLinkedOut)
{
    const int deleted = EmptyWhile([this] {
        Rename(Root("Temp/ServicePackOld"), Root("Temp/Renamed"));
        ASSERT_EQ(symlink("../../outside/ServicePackOld", Root("Temp/ServicePackOld").c_str()), 0);
    });
    ExpectOutsideUnchanged();
    /* Every call resolves its path afresh, as the device does: the old name
     * is now a link that, resolved inside the root, leads nowhere, so no
     * record of the search names a file any more.  The renamed directory
     * keeps all four. */
    EXPECT_EQ(deleted, 0);
    for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(Root(std::string("Temp/Renamed/") + name))))
            << name;
    }
}

TEST_F(EnumerationRaceTest, DirectoryRemoved)
{
    const int deleted = EmptyWhile([this] { sandbox_->Remove("Temp/ServicePackOld"); });
    ExpectOutsideUnchanged();
    EXPECT_EQ(deleted, 0) << "files of a removed directory cannot be deleted again";
}

TEST_F(EnumerationRaceTest, ProgramRunsWhileTheDirectorySwapsWithALink)
{
    ASSERT_EQ(symlink(Outside("ServicePackOld").c_str(), Root("Temp/swap").c_str()), 0);
    ASSERT_EQ(symlink("../../outside/Temp/ServicePackOld", Root("Temp/swap2").c_str()), 0);
    std::atomic<bool> swapping{false};
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        const std::string old_pack = Root("Temp/ServicePackOld");
        const std::string links[] = {Root("Temp/swap"), Root("Temp/swap2")};
        for (unsigned turn = 0; !done; ++turn) {
            if (swapping) {
                renameat2(AT_FDCWD, old_pack.c_str(), AT_FDCWD, links[turn % 2].c_str(),
                          RENAME_EXCHANGE);
            } else {
                std::this_thread::yield();
            }
        }
    });
    for (int run = 0; run < 25; ++run) {
        swapping = false;
        /* Put the real directory back under its name, with files in it. */
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (const char *link : {"Temp/swap", "Temp/swap2"}) {
            if (fs::is_directory(fs::symlink_status(Root(link)))) {
                renameat2(AT_FDCWD, Root("Temp/ServicePackOld").c_str(), AT_FDCWD,
                          Root(link).c_str(), RENAME_EXCHANGE);
            }
        }
        for (int i = 0; i < 20; ++i) {
            sandbox_->File("Temp/ServicePackOld/f" + std::to_string(i), "x");
        }
        swapping = true;
        const RunResult result = RunProgram(sandbox_->outside_program(), sandbox_->root());
        ExpectContained(*sandbox_, result, "swap run " + std::to_string(run));
    }
    done = true;
    swapper.join();
}

} // namespace
