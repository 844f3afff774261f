/*
 * closing.h - closing the directory fds that each call's path resolution
 * opens.
 *
 * Emptying a directory is one search and, for every entry, a deletion that
 * resolves its path afresh and so opens the entry's directory.  While a
 * search is open those fds are closed in batches: the kernel hands out the
 * lowest free numbers, so a batch is a run of consecutive numbers, and
 * close_range closes a run in one call.  Otherwise each fd is closed at
 * once, so no fd outlives a call that runs outside a search.
 */
#ifndef COREDLL_HOST_CLOSING_H
#define COREDLL_HOST_CLOSING_H

namespace coredll {

/* CloseResolvedDirectory - closes `fd` now or, while a search is open,
 * with the next batch. */
void CloseResolvedDirectory(int fd);

/* CloseBatch - closes every fd waiting for its batch; true when there was
 * one (a failed open may then be tried again). */
bool CloseBatch();

/* SearchOpened, SearchClosed - a search has opened or closed: fds wait for
 * their batch while any is open, and the last to close closes the batch. */
void SearchOpened();
void SearchClosed();

} // namespace coredll

#endif /* COREDLL_HOST_CLOSING_H */
