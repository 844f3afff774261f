/*
 * find_table.h - the fixed table of open searches.
 *
 * A search holds its directory's fd, its name pattern and a fixed buffer
 * that getdents64 fills a block of entries at a time, so a search costs the
 * same memory whatever the directory holds.  At most kSearchSlots searches
 * are open at once; a handle names a slot.
 */
#ifndef COREDLL_HOST_FIND_TABLE_H
#define COREDLL_HOST_FIND_TABLE_H

#include "coredll.h"

#include <cstddef>

namespace coredll {

constexpr size_t kSearchSlots = 4;
constexpr size_t kSearchBufferBytes = 32768;

struct Search {
    bool used = false;
    int dir_fd = -1;                 /* O_RDONLY|O_DIRECTORY, owned. */
    char16_t pattern[MAX_PATH] = {}; /* The name pattern, NUL-terminated. */
    size_t pattern_length = 0;
    long filled = 0; /* Bytes of `entries` that getdents64 filled. */
    long offset = 0; /* Next record's offset in `entries`. */
    alignas(8) char entries[kSearchBufferBytes];
};

/*
 * OpenSearchSlot - claims a free slot and returns it with `dir_fd` and an
 * empty buffer, or nullptr when all slots are in use.
 */
Search *OpenSearchSlot(int dir_fd);

/* HandleOfSearch - the handle that names `search`. */
HANDLE HandleOfSearch(const Search *search);

/* SearchOfHandle - the open search that `handle` names, or nullptr. */
Search *SearchOfHandle(HANDLE handle);

/* CloseSearch - closes the search's fd and frees its slot. */
void CloseSearch(Search *search);

/* CloseAllSearches - closes every open search. */
void CloseAllSearches();

} // namespace coredll

#endif /* COREDLL_HOST_FIND_TABLE_H */
