// allocations.h - the host tests' own operator new, which counts the bytes
// it hands out and fails while told to.
#ifndef HOST_TESTS_ALLOCATIONS_H
#define HOST_TESTS_ALLOCATIONS_H

#include <cstddef>

// Every allocation of the test program fails while this is set.
extern bool allocation_fails;

// BytesAllocated - the bytes operator new has handed out on this thread.
size_t BytesAllocated();

#endif // HOST_TESTS_ALLOCATIONS_H
