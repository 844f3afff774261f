/*
 * trace.h - the layer's optional trace of platform calls.
 *
 * When the environment variable COREDLL_TRACE is set and not empty, every
 * platform call is written to standard error as one line:
 *     DeleteFileW("\Temp\ServicePackOld\a.txt") = 1
 * the function's name, its arguments and its result.  Otherwise nothing at
 * all is written.  All trace formatting lives in trace.cpp.
 */
#ifndef COREDLL_HOST_TRACE_H
#define COREDLL_HOST_TRACE_H

#include <cstddef>
#include <cstdint>

namespace coredll {

/* TraceEnabled - whether COREDLL_TRACE is set and not empty (read once). */
bool TraceEnabled();

/*
 * TraceLine - builds one trace line in a fixed buffer and writes it with a
 * single write(2) when Finish is called.  An over-long line is cut short.
 * Arguments are added in order; Finish adds " = <result>" and the newline.
 */
class TraceLine {
  public:
    /* Starts the line with `function` and "(". */
    explicit TraceLine(const char *function);
    /* Adds a UTF-16 string in double quotes (NULL as NULL; an unpaired
     * surrogate as \uXXXX); at most `limit` characters are read. */
    void Text(const char16_t *text, size_t limit = 1024);
    /* Adds an unsigned decimal number. */
    void Number(uint64_t value);
    /* Adds a signed decimal number. */
    void Signed(int64_t value);
    /* Adds a pointer or handle in hexadecimal (NULL as NULL). */
    void Pointer(const void *value);
    /* Closes the argument list with ") = " and the signed result, then writes
     * the line to standard error. */
    void Finish(int64_t result);
    /* As Finish, with the result as a pointer or handle. */
    void FinishPointer(const void *result);

  private:
    void Append(const char *text, size_t length);
    void Separate();
    void Write();

    char line_[2048];
    size_t used_ = 0;
    bool first_ = true;
};

} // namespace coredll

#endif /* COREDLL_HOST_TRACE_H */
