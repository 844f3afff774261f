// cleanup_run_test.cpp - the platform calls a cleanup run makes, in order.
#include "cleanup/cleanup_run.h"
#include "recording_coredll.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using recording::Calls;
using recording::TheWorld;
using testing::Contains;
using testing::ElementsAre;
using testing::Not;

namespace {

const char *const CabinetPath = "\\Storage Card\\ServicePack.cab";

class CleanupRun : public testing::Test {
  protected:
    void SetUp() override
    {
        recording::Reset();
    }

    // A device where the service pack has just been installed.
    static void TypicalDevice()
    {
        recording::World &world = TheWorld();
        world.searchOpens = true;
        world.entries = {u"old.txt", u"PatchUnInstall.exe"};
        world.valueExists = true;
        world.valueData = recording::StringData(u"\\Storage Card\\ServicePack.cab");
        world.cabinetAttributes = FILE_ATTRIBUTE_ARCHIVE;
    }

    static int Run()
    {
        WCHAR commandLine[] = TEXT("/quiet /force");
        return RunCleanup(NULL, NULL, commandLine, 5);
    }
};

TEST_F(CleanupRun, TypicalRunMakesThePhasesCallsInOrder)
{
    TypicalDevice();
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(
        Calls(),
        ElementsAre("FindFirstFileW(\"\\Temp\\ServicePackOld\\*.*\")",
                    "DeleteFileW(\"\\Temp\\ServicePackOld\\old.txt\")", "FindNextFileW",
                    "DeleteFileW(\"\\Temp\\ServicePackOld\\PatchUnInstall.exe\")", "FindNextFileW",
                    "FindClose", "CreateDirectoryW(\"\\Temp\")",
                    "CreateDirectoryW(\"\\Temp\\ServicePackOld\")", "GetModuleFileNameW(260)",
                    "MoveFileW(\"\\Temp\\ServicePack\\Setup.exe\", "
                    "\"\\Temp\\ServicePackOld\\PatchUnInstall.exe\")",
                    "RemoveDirectoryW(\"\\Temp\\ServicePack\")", "RemoveDirectoryW(\"\\Temp\")",
                    "RegOpenKeyExW(HKEY_LOCAL_MACHINE, \"SOFTWARE\\Apps\\ORVEN ZK4070 "
                    "ServicePack 1.13\", 0, 983103)",
                    "RegQueryValueExW(\"CabFile\") size 128",
                    std::string("GetFileAttributesW(\"") + CabinetPath + "\")",
                    std::string("DeleteFileW(\"") + CabinetPath + "\")", "RegCloseKey"));
    EXPECT_EQ(recording::OpenSearches(), 0);
    EXPECT_EQ(recording::OpenKeys(), 0);
}

TEST_F(CleanupRun, MissingOldPackDirectoryAndKeyLeaveOnlyTheDirectoryWork)
{
    TheWorld().keyExists = false;
    EXPECT_EQ(Run(), 0);
    EXPECT_THAT(Calls(), ElementsAre("FindFirstFileW(\"\\Temp\\ServicePackOld\\*.*\")",
                                     "CreateDirectoryW(\"\\Temp\")",
                                     "CreateDirectoryW(\"\\Temp\\ServicePackOld\")",
                                     "GetModuleFileNameW(260)",
                                     "MoveFileW(\"\\Temp\\ServicePack\\Setup.exe\", "
                                     "\"\\Temp\\ServicePackOld\\PatchUnInstall.exe\")",
                                     "RemoveDirectoryW(\"\\Temp\\ServicePack\")",
                                     "RemoveDirectoryW(\"\\Temp\")",
                                     "RegOpenKeyExW(HKEY_LOCAL_MACHINE, \"SOFTWARE\\Apps\\ORVEN "
                                     "ZK4070 ServicePack 1.13\", 0, 983103)"));
}

TEST_F(CleanupRun, EveryEntryIncludingTheLongestNameIsPassedWhole)
{
    std::u16string longest(MAX_PATH - 1, u'n');
    TheWorld().searchOpens = true;
    TheWorld().entries = {u"Sub Directory", longest};
    Run();
    std::string expected =
        "DeleteFileW(\"\\Temp\\ServicePackOld\\" + std::string(MAX_PATH - 1, 'n') + "\")";
    EXPECT_THAT(Calls(), Contains(expected));
    EXPECT_THAT(Calls(), Contains("DeleteFileW(\"\\Temp\\ServicePackOld\\Sub Directory\")"));
}

// A name holding a separator cannot be a device file's name; its entry path
// would climb out of the old-pack directory and name another file.
TEST_F(CleanupRun, NamesHoldingASeparatorAreLeftAlone)
{
    TheWorld().searchOpens = true;
    TheWorld().entries = {u"..\\..\\precious.txt", u"a/b", u"plain.txt"};
    Run();
    int deletions = 0;
    for (const std::string &call : Calls()) {
        deletions += call.rfind("DeleteFileW", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(deletions, 1);
    EXPECT_THAT(Calls(), Contains("DeleteFileW(\"\\Temp\\ServicePackOld\\plain.txt\")"));
}

TEST_F(CleanupRun, ARecordWithoutATerminatedNameIsLeftAlone)
{
    TheWorld().searchOpens = true;
    TheWorld().entries = {u"ignored"};
    TheWorld().rawNameWithoutTerminator = true;
    Run();
    for (const std::string &call : Calls()) {
        EXPECT_NE(call.rfind("DeleteFileW", 0), 0U) << call;
    }
    EXPECT_EQ(recording::OpenSearches(), 0);
}

// The module path buffer holds 260 characters; a result of 260 means the
// path was cut, and a cut path may name another file.
TEST_F(CleanupRun, ModulePathThatFillsTheBufferIsNotMoved)
{
    TheWorld().modulePath = u"\\" + std::u16string(MAX_PATH - 2, u'p');
    Run();
    EXPECT_THAT(Calls(), Contains(testing::StartsWith("MoveFileW"))) << "259 characters fit";

    recording::Reset();
    TheWorld().modulePath = u"\\" + std::u16string(MAX_PATH - 1, u'p');
    Run();
    EXPECT_THAT(Calls(), Not(Contains(testing::StartsWith("MoveFileW"))));

    recording::Reset();
    TheWorld().moduleKnown = false;
    Run();
    EXPECT_THAT(Calls(), Not(Contains(testing::StartsWith("MoveFileW"))));
}

// The value buffer holds 128 bytes: 63 characters and a terminator fit,
// 64 and a terminator do not.
TEST_F(CleanupRun, CabinetPathIsBoundedByTheValueBuffer)
{
    std::string path63 = "\\" + std::string(62, 'c');
    TypicalDevice();
    TheWorld().valueData = recording::StringData(u"\\" + std::u16string(62, u'c'));
    Run();
    EXPECT_THAT(Calls(), Contains("DeleteFileW(\"" + path63 + "\")"));

    recording::Reset();
    TypicalDevice();
    TheWorld().valueData = recording::StringData(u"\\" + std::u16string(63, u'c'));
    Run();
    EXPECT_THAT(Calls(), Not(Contains(testing::StartsWith("GetFileAttributesW"))));
    EXPECT_EQ(Calls().back(), "RegCloseKey");
    EXPECT_EQ(recording::OpenKeys(), 0);
}

TEST_F(CleanupRun, CabinetDataWithoutTerminatorEndsWithTheData)
{
    TypicalDevice();
    TheWorld().valueType = REG_BINARY;
    std::vector<BYTE> data = recording::StringData(u"\\" + std::u16string(63, u'b'));
    data.resize(128); // 64 characters, no NUL
    TheWorld().valueData = data;
    Run();
    EXPECT_THAT(Calls(), Contains("GetFileAttributesW(\"\\" + std::string(63, 'b') + "\")"));

    recording::Reset();
    TypicalDevice();
    TheWorld().valueType = REG_BINARY;
    TheWorld().valueData = {'\\', 0, 'x', 0, 'y'}; // an odd count: the last byte is no character
    Run();
    EXPECT_THAT(Calls(), Contains("GetFileAttributesW(\"\\x\")"));

    recording::Reset();
    TypicalDevice();
    TheWorld().valueType = REG_SZ;
    TheWorld().valueData = {'\\', 0, 'a', 0, 0, 0, 'z', 0};
    Run();
    EXPECT_THAT(Calls(), Contains("GetFileAttributesW(\"\\a\")")) << "stops at the first NUL";
}

TEST_F(CleanupRun, ReadOnlyOrMissingCabinetIsNotDeleted)
{
    for (DWORD attributes :
         {DWORD(FILE_ATTRIBUTE_READONLY), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
          INVALID_FILE_ATTRIBUTES}) {
        recording::Reset();
        TypicalDevice();
        TheWorld().entries.clear();
        TheWorld().cabinetAttributes = attributes;
        Run();
        EXPECT_THAT(Calls(), Not(Contains(std::string("DeleteFileW(\"") + CabinetPath + "\")")))
            << attributes;
        EXPECT_EQ(Calls().back(), "RegCloseKey");
    }
}

TEST_F(CleanupRun, MissingValueClosesTheKeyAndDeletesNothing)
{
    TheWorld().searchOpens = false;
    Run();
    std::vector<std::string> tail(Calls().end() - 3, Calls().end());
    EXPECT_THAT(tail, ElementsAre(testing::StartsWith("RegOpenKeyExW"),
                                  "RegQueryValueExW(\"CabFile\") size 128", "RegCloseKey"));
    EXPECT_EQ(recording::OpenKeys(), 0);
}

} // namespace
