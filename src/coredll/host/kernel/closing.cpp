/*
 * closing.cpp - closing the directory fds of path resolution, in batches
 * while a search is open.
 */
#include "kernel/closing.h"

#include "kernel/system_calls.h"

#include <cstddef>

namespace coredll {

namespace {

constexpr size_t kBatchSize = 128;

int waiting[kBatchSize];
size_t waiting_count = 0;
size_t open_searches = 0;

} // namespace

void CloseResolvedDirectory(int fd)
{
    if (fd < 0) {
        return;
    }
    if (open_searches == 0) {
        Sys().close(fd);
        return;
    }
    waiting[waiting_count++] = fd;
    if (waiting_count == kBatchSize) {
        CloseBatch();
    }
}

bool CloseBatch()
{
    if (waiting_count == 0) {
        return false;
    }
    /* Sorted, then each run of consecutive numbers (all of them ours) in
     * one call. */
    for (size_t i = 1; i < waiting_count; ++i) {
        int fd = waiting[i];
        size_t j = i;
        for (; j > 0 && waiting[j - 1] > fd; --j) {
            waiting[j] = waiting[j - 1];
        }
        waiting[j] = fd;
    }
    for (size_t start = 0; start < waiting_count;) {
        size_t end = start + 1;
        while (end < waiting_count && waiting[end] == waiting[end - 1] + 1) {
            ++end;
        }
        if (end - start == 1 ||
            Sys().close_range(static_cast<unsigned>(waiting[start]),
                              static_cast<unsigned>(waiting[end - 1]), 0) != 0) {
            for (size_t i = start; i < end; ++i) {
                Sys().close(waiting[i]);
            }
        }
        start = end;
    }
    waiting_count = 0;
    return true;
}

void SearchOpened()
{
    open_searches += 1;
}

void SearchClosed()
{
    open_searches -= 1;
    if (open_searches == 0) {
        CloseBatch();
    }
}

} // namespace coredll
