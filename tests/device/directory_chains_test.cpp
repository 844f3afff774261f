// directory_chains_test.cpp - the calls each directory walk makes, in order.
#include "cleanup/directory_chains.h"
#include "recording_coredll.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using recording::Calls;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

class DirectoryChains : public testing::Test {
  protected:
    void SetUp() override
    {
        recording::Reset();
    }
};

TEST_F(DirectoryChains, EnsureCreatesOutermostFirst)
{
    EnsureDirectoryChain(TEXT("\\Temp\\ServicePackOld"));
    EXPECT_THAT(Calls(), ElementsAre("CreateDirectoryW(\"\\Temp\")",
                                     "CreateDirectoryW(\"\\Temp\\ServicePackOld\")"));

    recording::Reset();
    EnsureDirectoryChain(TEXT("\\Temp"));
    EXPECT_THAT(Calls(), ElementsAre("CreateDirectoryW(\"\\Temp\")"));
}

TEST_F(DirectoryChains, EnsureGoesOnWhenACreationFails)
{
    // An existing directory makes its creation fail; the walk does not stop.
    recording::TheWorld().failingCall = 1;
    EnsureDirectoryChain(TEXT("\\a\\b\\c"));
    EXPECT_THAT(Calls(), ElementsAre("CreateDirectoryW(\"\\a\")", "CreateDirectoryW(\"\\a\\b\")",
                                     "CreateDirectoryW(\"\\a\\b\\c\")"));
}

TEST_F(DirectoryChains, RemoveGoesInnermostFirst)
{
    RemoveDirectoryChain(TEXT("\\Temp\\ServicePack"));
    EXPECT_THAT(Calls(), ElementsAre("RemoveDirectoryW(\"\\Temp\\ServicePack\")",
                                     "RemoveDirectoryW(\"\\Temp\")"));

    recording::Reset();
    RemoveDirectoryChain(TEXT("\\Temp"));
    EXPECT_THAT(Calls(), ElementsAre("RemoveDirectoryW(\"\\Temp\")"));

    recording::Reset();
    recording::TheWorld().failingCall = 1;
    RemoveDirectoryChain(TEXT("\\Temp\\ServicePack\\"));
    EXPECT_THAT(Calls(), ElementsAre("RemoveDirectoryW(\"\\Temp\\ServicePack\\\")",
                                     "RemoveDirectoryW(\"\\Temp\\ServicePack\")",
                                     "RemoveDirectoryW(\"\\Temp\")"));
}

TEST_F(DirectoryChains, PathsLongerThanTheWorkBufferAreRefused)
{
    std::u16string fits = u"\\" + std::u16string(254, u'd');
    std::u16string tooLong = u"\\" + std::u16string(255, u'd');

    EnsureDirectoryChain(fits.c_str());
    RemoveDirectoryChain(fits.c_str());
    EXPECT_THAT(Calls(), ElementsAre("CreateDirectoryW(\"\\" + std::string(254, 'd') + "\")",
                                     "RemoveDirectoryW(\"\\" + std::string(254, 'd') + "\")"));

    recording::Reset();
    EnsureDirectoryChain(tooLong.c_str());
    RemoveDirectoryChain(tooLong.c_str());
    EXPECT_THAT(Calls(), IsEmpty());
}

TEST_F(DirectoryChains, TheCallersStringIsNotChanged)
{
    WCHAR path[] = TEXT("\\Temp\\ServicePack");
    RemoveDirectoryChain(path);
    EnsureDirectoryChain(path);
    EXPECT_EQ(std::u16string(path), u"\\Temp\\ServicePack");
}

} // namespace
