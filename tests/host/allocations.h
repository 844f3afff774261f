// allocations.h - the host tests' operator new, which counts the bytes it
// hands out.
#ifndef HOST_TESTS_ALLOCATIONS_H
#define HOST_TESTS_ALLOCATIONS_H

#include <cstddef>

size_t BytesAllocated(); // the bytes handed out on this thread so far

#endif // HOST_TESTS_ALLOCATIONS_H
