// allocations.cpp - the host tests' operator new.
#include "allocations.h"

#include <cstdlib>
#include <new>

static thread_local size_t bytes_allocated = 0;

size_t BytesAllocated()
{
    return bytes_allocated;
}

void *operator new(size_t size)
{
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    bytes_allocated += size;
    return block;
}

void operator delete(void *block) noexcept
{
    std::free(block);
}

void operator delete(void *block, size_t) noexcept
{
    std::free(block);
}
