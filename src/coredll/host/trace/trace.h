/* trace/ - the optional trace of platform calls, and why a call failed. */
/*
 * trace.h - the layer's optional trace of platform calls.
 *
 * When the environment variable COREDLL_TRACE is set and not empty, every
 * platform call writes one line to standard error, its name, arguments and
 * result, as a Windows engineer reads them:
 *     DeleteFileW("\Temp\ServicePackOld\a.txt") = 1
 *     GetFileAttributesW("\Windows") = 0x00000010
 *     FindNextFileW(0x00005EA0, -) = 0
 * Strings in double quotes, masks, attributes and handles in hexadecimal, an
 * output the call did not write as "-".  A call that fails for a reason the
 * platform would not have adds it in parentheses.  Otherwise nothing at all
 * is written.
 */
#ifndef COREDLL_HOST_TRACE_H
#define COREDLL_HOST_TRACE_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace coredll {

/* TraceEnabled - whether COREDLL_TRACE is set and not empty (read once). */
bool TraceEnabled();

/* One argument or result of a traced call, and how it is shown. */
struct TraceValue {
    enum Kind { kText, kHex, kHandle, kDecimal, kUnwritten } kind = kUnwritten;
    const char16_t *text = nullptr; /* kText: NULL shown as NULL. */
    size_t limit = 0;               /* kText: characters read at most. */
    int64_t number = 0;             /* kHex (32 bits), kDecimal. */
    const void *handle = nullptr;   /* kHandle. */
};

inline TraceValue Text(const char16_t *text, size_t limit = 1024)
{
    return {TraceValue::kText, text, limit, 0, nullptr};
}
inline TraceValue Hex(uint32_t value)
{
    return {TraceValue::kHex, nullptr, 0, value, nullptr};
}
inline TraceValue HandleArg(const void *handle)
{
    return {TraceValue::kHandle, nullptr, 0, 0, handle};
}
inline TraceValue Decimal(int64_t value)
{
    return {TraceValue::kDecimal, nullptr, 0, value, nullptr};
}
inline TraceValue Unwritten()
{
    return {};
}

/*
 * Trace - when tracing, writes "function(args...) = result" with a single
 * write(2), and the pending failure note, if any, in parentheses.  Lines
 * longer than 2 KiB are cut short.
 */
void Trace(const char *function, const TraceValue &result, std::initializer_list<TraceValue> args);

/* NoteFailure - keeps `why` (a string literal) for the current call's trace
 * line, unless a note was kept already: the first names the cause.  Returns
 * false, for `return NoteFailure("...")`. */
bool NoteFailure(const char *why);

/* ClearFailureNote - forgets the note; each platform call starts with it. */
void ClearFailureNote();

} // namespace coredll

#endif /* COREDLL_HOST_TRACE_H */
