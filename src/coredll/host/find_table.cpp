/*
 * find_table.cpp - the fixed table of open searches.
 */
#include "find_table.h"

#include "directory_cache.h"

#include <cstdint>
#include <unistd.h>

namespace coredll {

namespace {

Search searches[kSearchSlots];

/* Handles are small numbers well away from NULL and INVALID_HANDLE_VALUE. */
constexpr uintptr_t kHandleBase = 0x5EA0;

} // namespace

Search *OpenSearchSlot(int dir_fd)
{
    for (Search &search : searches) {
        if (!search.used) {
            search.used = true;
            search.dir_fd = dir_fd;
            search.pattern_length = 0;
            search.pattern[0] = 0;
            search.filled = 0;
            search.offset = 0;
            return &search;
        }
    }
    return nullptr;
}

HANDLE HandleOfSearch(const Search *search)
{
    return reinterpret_cast<HANDLE>(kHandleBase + static_cast<uintptr_t>(search - searches));
}

Search *SearchOfHandle(HANDLE handle)
{
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value < kHandleBase || value >= kHandleBase + kSearchSlots) {
        return nullptr;
    }
    Search *search = &searches[value - kHandleBase];
    return search->used ? search : nullptr;
}

void CloseSearch(Search *search)
{
    ForgetCachedDirectoryFd(search->dir_fd);
    if (search->dir_fd >= 0) {
        close(search->dir_fd);
    }
    search->dir_fd = -1;
    search->used = false;
}

void CloseAllSearches()
{
    for (Search &search : searches) {
        if (search.used) {
            CloseSearch(&search);
        }
    }
}

} // namespace coredll
