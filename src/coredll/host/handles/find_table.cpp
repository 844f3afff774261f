/*
 * find_table.cpp - the open searches.
 */
#include "handles/find_table.h"

#include "handles/slot_table.h"
#include "kernel/closing.h"
#include "kernel/system_calls.h"

namespace coredll {

namespace {

SlotTable<Search, kSearchSlots, 0x5EA0> searches;

void Release(Search &search)
{
    if (search.dir_fd >= 0) {
        Sys().close(search.dir_fd);
    }
    search.dir_fd = -1;
    SearchClosed();
}

} // namespace

Search *OpenSearch(int dir_fd)
{
    Search *search = searches.Open();
    if (search != nullptr) {
        SearchOpened();
        search->dir_fd = dir_fd;
        search->pattern_length = 0;
        search->blocks_read = 0;
        search->block = DirectoryBlock();
        search->block.bytes = search->entries;
    }
    return search;
}

HANDLE HandleOfSearch(const Search *search)
{
    return searches.HandleOf(search);
}

Search *SearchOfHandle(HANDLE handle)
{
    return searches.Find(handle);
}

void CloseSearch(Search *search)
{
    Release(*search);
    searches.Close(search);
}

void CloseAllSearches()
{
    searches.CloseAll(Release);
}

} // namespace coredll
