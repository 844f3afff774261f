// failure_absorption_test.cpp - every platform call of a run failing in turn.
//
// A failure may skip only the steps that depend on it: the run goes on to
// its next phase, returns 0, and closes every search and key it opened.
#include "cleanup/cleanup_run.h"
#include "recording_coredll.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

namespace {

void TypicalDevice()
{
    recording::Reset();
    recording::World &world = recording::TheWorld();
    world.searchOpens = true;
    world.entries = {u"a.txt", u"b.txt"};
    world.valueExists = true;
    world.valueData = recording::StringData(u"\\Windows\\sp.cab");
    world.cabinetAttributes = FILE_ATTRIBUTE_ARCHIVE;
}

// The calls of a run in which nothing fails, by position.
enum Call {
    FindFirst,
    DeleteA,
    NextAfterA,
    DeleteB,
    NextAfterB,
    CloseSearch,
    CreateTemp,
    CreateOldPack,
    ModuleName,
    Move,
    RemovePack,
    RemoveTemp,
    OpenKey,
    QueryValue,
    Attributes,
    DeleteCabinet,
    CloseKey,
    CallCount
};

// The calls that must not happen when `failing` fails: those that need its
// result.  Everything else still runs.
std::set<int> Dependents(int failing)
{
    switch (failing) {
    case FindFirst:
        return {DeleteA, NextAfterA, DeleteB, NextAfterB, CloseSearch};
    case NextAfterA:
        return {DeleteB, NextAfterB};
    case ModuleName:
        return {Move};
    case OpenKey:
        return {QueryValue, Attributes, DeleteCabinet, CloseKey};
    case QueryValue:
        return {Attributes, DeleteCabinet};
    case Attributes:
        return {DeleteCabinet};
    default:
        return {};
    }
}

TEST(FailureAbsorption, EachFailingCallSkipsOnlyWhatDependsOnIt)
{
    TypicalDevice();
    ASSERT_EQ(RunCleanup(NULL, NULL, NULL, 0), 0);
    const std::vector<std::string> baseline = recording::Calls();
    ASSERT_EQ(baseline.size(), static_cast<size_t>(CallCount));

    for (int failing = 0; failing < CallCount; ++failing) {
        SCOPED_TRACE("failing call: " + baseline[failing]);
        TypicalDevice();
        recording::TheWorld().failingCall = failing + 1;

        EXPECT_EQ(RunCleanup(NULL, NULL, NULL, 0), 0);

        std::vector<std::string> expected;
        std::set<int> skipped = Dependents(failing);
        for (int call = 0; call < CallCount; ++call) {
            if (skipped.count(call) == 0) {
                expected.push_back(baseline[call]);
            }
        }
        EXPECT_EQ(recording::Calls(), expected);
        EXPECT_EQ(recording::OpenSearches(), 0);
        EXPECT_EQ(recording::OpenKeys(), 0);
    }
}

} // namespace
