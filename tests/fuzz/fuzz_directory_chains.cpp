/*
 * fuzz_directory_chains.cpp - the two directory walks on arbitrary UTF-16
 * paths.
 *
 * The walks are linked against a recording substitute for the two platform
 * calls they make, so nothing touches the file system.  Every call is checked
 * as it arrives: its argument must end with a NUL within the walk's 256
 * characters and must be a prefix of the input path that stops at a separator
 * (or the whole path).  After the walk the recorded calls are compared with
 * the sequence the walk owes, worked out here independently of the walk:
 *
 *   EnsureDirectoryChain: one call for every separator after the first
 *   character (the characters before it), outermost first, then the whole
 *   path.
 *   RemoveDirectoryChain: the whole path, then one call for every separator
 *   after the first character, innermost first.
 *   A path of 256 characters or more: no call at all.
 *
 * Input layout: byte 0 chooses the walk (bit 0) and the buffer's form (bit 1);
 * the rest is the path's UTF-16LE code units.  In the terminated form the
 * path is followed by a NUL in a buffer of exactly that size; in the
 * unterminated form the path's units are repeated to fill exactly 256
 * characters with no NUL appended, so a walk reading one character too far
 * trips AddressSanitizer.
 */
#include "cleanup/directory_chains.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

/* The path under test and the lengths of the prefixes passed so far. */
struct Recording {
    const char16_t *path = nullptr;
    size_t length = 0;
    std::vector<size_t> calls;
    int kind = 0; /* 1 CreateDirectoryW, 2 RemoveDirectoryW */
};

Recording recording;

/* Reports a broken promise of the walks and stops with a crash, which
 * libFuzzer keeps as a reproducer. */
[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "directory chain walk: %s\n", what);
    std::abort();
}

/* Checks one platform call's argument against the input path and records the
 * prefix length it names. */
void RecordCall(LPCWSTR argument, int kind)
{
    if (argument == nullptr) {
        Fail("null path passed to the platform");
    }
    if (kind != recording.kind) {
        Fail("the walk called the other platform operation");
    }
    size_t length = 0;
    while (length < DIRECTORY_CHAIN_CAPACITY && argument[length] != 0) {
        ++length;
    }
    if (length == DIRECTORY_CHAIN_CAPACITY) {
        Fail("argument not NUL-terminated within 256 characters");
    }
    if (length > recording.length) {
        Fail("argument longer than the input path");
    }
    if (std::memcmp(argument, recording.path, length * sizeof(char16_t)) != 0) {
        Fail("argument is not a prefix of the input path");
    }
    if (length < recording.length && recording.path[length] != u'\\') {
        Fail("argument prefix does not stop at a separator");
    }
    recording.calls.push_back(length);
}

/* The prefix lengths the walk owes, from the walks' documented order. */
std::vector<size_t> ExpectedCalls(const char16_t *path, size_t length, bool ensure)
{
    std::vector<size_t> expected;
    if (length >= DIRECTORY_CHAIN_CAPACITY) {
        return expected;
    }
    if (ensure) {
        for (size_t i = 1; i < length; ++i) {
            if (path[i] == u'\\') {
                expected.push_back(i);
            }
        }
        expected.push_back(length);
    } else {
        expected.push_back(length);
        for (size_t i = length; i-- > 1;) {
            if (path[i] == u'\\') {
                expected.push_back(i);
            }
        }
    }
    return expected;
}

} // namespace

extern "C" BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    if (attributes != nullptr) {
        Fail("security attributes passed");
    }
    RecordCall(path, 1);
    return recording.calls.size() % 2 == 0 ? TRUE : FALSE;
}

extern "C" BOOL WINAPI RemoveDirectoryW(LPCWSTR path)
{
    RecordCall(path, 2);
    return recording.calls.size() % 2 == 0 ? TRUE : FALSE;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const bool ensure = (data[0] & 1) != 0;
    const bool terminated = (data[0] & 2) == 0;
    const size_t units = (size - 1) / 2;
    std::vector<char16_t> given(units);
    for (size_t i = 0; i < units; ++i) {
        given[i] = static_cast<char16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
    }

    /* The buffer the walk reads: exactly as large as the form allows. */
    std::vector<char16_t> buffer;
    if (terminated) {
        buffer = given;
        buffer.push_back(0);
    } else {
        if (units == 0) {
            return 0;
        }
        buffer.resize(DIRECTORY_CHAIN_CAPACITY);
        for (size_t i = 0; i < buffer.size(); ++i) {
            buffer[i] = given[i % units];
        }
    }
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) {
        ++length;
    }
    const std::vector<char16_t> before = buffer;

    recording = Recording();
    recording.path = buffer.data();
    recording.length = length;
    recording.kind = ensure ? 1 : 2;
    if (ensure) {
        EnsureDirectoryChain(buffer.data());
    } else {
        RemoveDirectoryChain(buffer.data());
    }

    if (buffer != before) {
        Fail("the walk changed the caller's path");
    }
    if (recording.calls != ExpectedCalls(buffer.data(), length, ensure)) {
        Fail("the walk's calls differ from the documented order");
    }
    return 0;
}
