/*
 * find_table.h - the open searches.
 *
 * A search holds its directory's fd, its name pattern and a fixed buffer
 * that getdents64 fills a block of entries at a time, so a search costs the
 * same memory whatever the directory holds.  At most kSearchSlots searches
 * are open at once (slot_table.h).
 */
#ifndef COREDLL_HOST_FIND_TABLE_H
#define COREDLL_HOST_FIND_TABLE_H

#include "coredll.h"
#include "kernel/directory_records.h"

#include <cstddef>

namespace coredll {

constexpr size_t kSearchSlots = 4;
constexpr size_t kSearchBufferBytes = 32768;

struct Search {
    int dir_fd = -1;                 /* O_RDONLY|O_DIRECTORY, owned. */
    char16_t pattern[MAX_PATH] = {}; /* The name pattern. */
    size_t pattern_length = 0;
    size_t blocks_read = 0;
    DirectoryBlock block; /* Over `entries`. */
    alignas(8) char entries[kSearchBufferBytes];
};

/* OpenSearch - a new search of `dir_fd` (then owned by it), or nullptr when
 * every slot is in use. */
Search *OpenSearch(int dir_fd);

/* HandleOfSearch - the handle that names `search`. */
HANDLE HandleOfSearch(const Search *search);

/* SearchOfHandle - the open search that `handle` names, or nullptr. */
Search *SearchOfHandle(HANDLE handle);

/* CloseSearch - closes the search's fd and frees its slot; the last search
 * to close also closes the batch of resolved directories (closing.h). */
void CloseSearch(Search *search);

/* CloseAllSearches - closes every open search. */
void CloseAllSearches();

} // namespace coredll

#endif /* COREDLL_HOST_FIND_TABLE_H */
