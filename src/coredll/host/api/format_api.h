/*
 * format_api.h - wsprintfW's formatting, reading its format and arguments
 * through an interface.
 *
 * For callers that read them from elsewhere (an emulator, from the program's
 * memory, registers and stack); wsprintfW reads its own through the same code.
 */
#ifndef COREDLL_HOST_FORMAT_API_H
#define COREDLL_HOST_FORMAT_API_H

#include "coredll.h"

#include <cstddef>

namespace coredll {

/* Most characters wsprintfW writes before its NUL, as on CE 6.0 and later:
 * `out` holds kFormatOutputLimit + 1 characters. */
constexpr int kFormatOutputLimit = 1023;

/* What the formatting reads, each part only when it reaches it, as the
 * device's C runtime does; a read that fails ends the call. */
class FormatInput {
  public:
    /* The format's character at `index`. */
    virtual bool FormatCharacter(size_t index, char16_t &c) = 0;
    /* The next argument, a string: nullptr for NULL, else its first
     * `length` characters (all of them, or `wanted` when it is longer). */
    virtual bool NextString(size_t wanted, const char16_t *&text, size_t &length) = 0;
    /* A conversion the layer does not format, reached: true ends the output
     * before it, false fails the call. */
    virtual bool Unformatted(char16_t conversion) = 0;

  protected:
    ~FormatInput() = default;
};

/* FormatWide's result when `input` failed the call (nothing traced). */
constexpr int kFormatFailed = -1;

} // namespace coredll

/*
 * FormatWide - wsprintfW with its format and arguments read from `input`.
 * Writes at most kFormatOutputLimit characters and a NUL and the same trace
 * line as wsprintfW, and returns the characters written, or kFormatFailed.
 */
int FormatWide(LPWSTR out, coredll::FormatInput &input);

#endif /* COREDLL_HOST_FORMAT_API_H */
