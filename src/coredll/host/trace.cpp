/*
 * trace.cpp - the layer's optional trace of platform calls.
 */
#include "trace.h"

#include "utf16.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

namespace coredll {

bool TraceEnabled()
{
    static const bool enabled = [] {
        const char *value = std::getenv("COREDLL_TRACE");
        return value != nullptr && value[0] != '\0';
    }();
    return enabled;
}

TraceLine::TraceLine(const char *function)
{
    Append(function, std::strlen(function));
    Append("(", 1);
}

void TraceLine::Append(const char *text, size_t length)
{
    /* One byte stays free for the newline. */
    size_t room = sizeof(line_) - 1 - used_;
    if (length > room) {
        length = room;
    }
    std::memcpy(line_ + used_, text, length);
    used_ += length;
}

void TraceLine::Separate()
{
    if (!first_) {
        Append(", ", 2);
    }
    first_ = false;
}

void TraceLine::Text(const char16_t *text, size_t limit)
{
    Separate();
    if (text == nullptr) {
        Append("NULL", 4);
        return;
    }
    size_t length = 0;
    while (length < limit && text[length] != 0) {
        ++length;
    }
    std::u16string_view view(text, length);
    Append("\"", 1);
    size_t pos = 0;
    while (pos < view.size()) {
        size_t start = pos;
        char32_t cp = 0;
        if (DecodeUtf16(view, pos, cp)) {
            char bytes[8];
            size_t n = 0;
            Utf16ToUtf8(view.substr(start, pos - start), bytes, sizeof(bytes), n);
            Append(bytes, n);
        } else {
            char escape[8];
            int n = std::snprintf(escape, sizeof(escape), "\\u%04X", view[pos]);
            Append(escape, static_cast<size_t>(n));
            pos += 1;
        }
    }
    Append("\"", 1);
}

void TraceLine::Number(uint64_t value)
{
    char digits[24];
    int n = std::snprintf(digits, sizeof(digits), "%" PRIu64, value);
    Separate();
    Append(digits, static_cast<size_t>(n));
}

void TraceLine::Signed(int64_t value)
{
    char digits[24];
    int n = std::snprintf(digits, sizeof(digits), "%" PRId64, value);
    Separate();
    Append(digits, static_cast<size_t>(n));
}

void TraceLine::Pointer(const void *value)
{
    char digits[24];
    int n = value == nullptr ? std::snprintf(digits, sizeof(digits), "NULL")
                             : std::snprintf(digits, sizeof(digits), "%p", value);
    Separate();
    Append(digits, static_cast<size_t>(n));
}

void TraceLine::Finish(int64_t result)
{
    char digits[32];
    int n = std::snprintf(digits, sizeof(digits), ") = %" PRId64, result);
    Append(digits, static_cast<size_t>(n));
    Write();
}

void TraceLine::FinishPointer(const void *result)
{
    char digits[32];
    int n = result == nullptr ? std::snprintf(digits, sizeof(digits), ") = NULL")
                              : std::snprintf(digits, sizeof(digits), ") = %p", result);
    Append(digits, static_cast<size_t>(n));
    Write();
}

void TraceLine::Write()
{
    line_[used_++] = '\n';
    size_t done = 0;
    while (done < used_) {
        ssize_t n = write(STDERR_FILENO, line_ + done, used_ - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace coredll
