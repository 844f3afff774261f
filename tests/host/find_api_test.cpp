// find_api_test.cpp - searches: patterns, records, and large directories.
#include "temp_root.h"

#include "coredll.h"
#include "platform_names.h"

#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <set>
#include <sys/stat.h>

namespace {

using FindApi = TempRoot;

std::u16string NameOf(const WIN32_FIND_DATAW &record)
{
    return std::u16string(record.cFileName);
}

// Every name a search of `pattern` yields, with the attributes it reports;
// fails the test when a name is yielded twice.
std::map<std::u16string, DWORD> Search(const char16_t *pattern)
{
    std::map<std::u16string, DWORD> found;
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(pattern, &record);
    if (search == INVALID_HANDLE_VALUE) {
        return found;
    }
    do {
        EXPECT_TRUE(found.emplace(NameOf(record), record.dwFileAttributes).second)
            << "yielded twice";
    } while (FindNextFileW(search, &record));
    EXPECT_TRUE(FindClose(search));
    return found;
}

TEST_F(FindApi, PatternsMatchIgnoringCaseAndNeverYieldDotEntries)
{
    MakeDirs(InRoot("Dir/Sub"));
    WriteFile(InRoot("Dir/Read.ME"), "1234567", 0444);
    WriteFile(InRoot("Dir/noext"), "");
    WriteFile(InRoot("Dir/a.txt"), "");
    WriteFile(InRoot("Dir/b.TXT"), "");

    auto all = Search(u"\\dir\\*.*");
    EXPECT_EQ(all.size(), 5u);
    EXPECT_EQ(all.count(u"."), 0u);
    EXPECT_EQ(all.count(u".."), 0u);
    EXPECT_EQ(all[u"Sub"], DWORD{FILE_ATTRIBUTE_DIRECTORY});
    EXPECT_EQ(all[u"Read.ME"], DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_EQ(all[u"noext"], DWORD{FILE_ATTRIBUTE_NORMAL});

    EXPECT_EQ(Search(u"\\Dir\\*").size(), 5u);
    auto texts = Search(u"\\Dir\\*.txt");
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts.count(u"b.TXT"), 1u);
    EXPECT_EQ(Search(u"/Dir/read.??").size(), 1u);
    EXPECT_EQ(Search(u"\\Dir\\NOEXT").size(), 1u);
    // A final separator is dropped: the directory is searched for by name.
    EXPECT_EQ(Search(u"\\Dir\\Sub\\").count(u"Sub"), 1u);
}

TEST_F(FindApi, RecordCarriesTheSizeAndTime)
{
    MakeDirs(InRoot("Dir"));
    WriteFile(InRoot("Dir/seven"), "1234567");
    ASSERT_EQ(truncate(InRoot("Dir/seven").c_str(), (off_t{1} << 32) + 7), 0); // sparse
    const struct timespec one_second[2] = {{1, 999999999}, {1, 999999999}};    // 00:00:01.999999999
    ASSERT_EQ(utimensat(AT_FDCWD, InRoot("Dir/seven").c_str(), one_second, 0), 0);
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(u"\\Dir\\*.*", &record);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(NameOf(record), u"seven");
    EXPECT_EQ(record.nFileSizeLow, 7u);
    EXPECT_EQ(record.nFileSizeHigh, 1u);
    // FILETIME counts 100 ns since 1601, 11644473600 s before 1970.
    EXPECT_EQ((uint64_t{record.ftLastWriteTime.dwHighDateTime} << 32) |
                  record.ftLastWriteTime.dwLowDateTime,
              uint64_t{116444736019999999});
    EXPECT_FALSE(FindNextFileW(search, &record));
    EXPECT_FALSE(FindNextFileW(search, &record)); // and stays at its end
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));            // a closed handle is no longer a search
    search = FindFirstFileW(u"\\Dir", &record); // a directory's size is 0
    EXPECT_EQ(record.nFileSizeLow, 0u);
    EXPECT_TRUE(FindClose(search));
}

TEST_F(FindApi, MissingOrEmptyDirectoriesAndBadArgumentsGiveNoSearch)
{
    MakeDirs(InRoot("Empty"));
    WriteFile(InRoot("file"), "");
    WIN32_FIND_DATAW record;
    EXPECT_EQ(FindFirstFileW(u"\\Empty\\*.*", &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileW(u"\\Missing\\*.*", &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileW(u"\\file\\*.*", &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileW(u"\\Em?ty\\*.*", &record), INVALID_HANDLE_VALUE); // no such name
    EXPECT_EQ(FindFirstFileW(nullptr, &record), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindNextFileW(INVALID_HANDLE_VALUE, &record));
    EXPECT_FALSE(FindClose(nullptr));
}

TEST_F(FindApi, LongestMultibyteNamesComeBackWhole)
{
    MakeDirs(InRoot("Dir"));
    // 85 three-byte characters: the longest name the disk holds (255 bytes).
    std::string name;
    for (int i = 0; i < 85; ++i) {
        name += "\xe4\xb8\xad";
    }
    WriteFile(InRoot("Dir/" + name), "");
    auto found = Search(u"\\Dir\\*.*");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.begin()->first.size(), 85u);
}

TEST_F(FindApi, ManyEntriesAreEachYieldedOnceAndCanBeDeleted)
{
    MakeDirs(InRoot("Temp/ServicePackOld"));
    const int count = 5000;
    for (int i = 0; i < count; ++i) {
        WriteFile(InRoot("Temp/ServicePackOld/file" + std::to_string(i) + ".tmp"), "");
    }
    int lowest_free = LowestFreeFd();
    WIN32_FIND_DATAW record;
    HANDLE search = FindFirstFileW(u"\\Temp\\ServicePackOld\\*.*", &record);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::set<std::u16string> seen;
    do {
        EXPECT_TRUE(seen.insert(NameOf(record)).second);
        std::u16string path = u"\\Temp\\ServicePackOld\\" + NameOf(record);
        EXPECT_TRUE(DeleteFileW(path.c_str()));
    } while (FindNextFileW(search, &record));
    FindClose(search);
    EXPECT_EQ(LowestFreeFd(), lowest_free) << "a descriptor outlived the search";
    EXPECT_EQ(seen.size(), static_cast<size_t>(count));
    EXPECT_TRUE(RemoveDirectoryW(u"\\Temp\\ServicePackOld"));
}

TEST_F(FindApi, OpenSearchesAreLimitedAndSlotsComeBack)
{
    MakeDirs(InRoot("Dir"));
    WriteFile(InRoot("Dir/x"), "");
    WIN32_FIND_DATAW record;
    std::vector<HANDLE> open;
    for (HANDLE h = FindFirstFileW(u"\\Dir\\*", &record); h != INVALID_HANDLE_VALUE;
         h = FindFirstFileW(u"\\Dir\\*", &record)) {
        open.push_back(h);
        ASSERT_LT(open.size(), 100u);
    }
    EXPECT_GE(open.size(), 1u);
    EXPECT_TRUE(FindClose(open.back()));
    HANDLE again = FindFirstFileW(u"\\Dir\\*", &record);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FindClose(again));
    open.pop_back();
    for (HANDLE h : open) {
        EXPECT_TRUE(FindClose(h));
    }
}

} // namespace
