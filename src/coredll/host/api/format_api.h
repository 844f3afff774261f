/*
 * format_api.h - wsprintfW's formatting with its arguments in an array.
 *
 * For callers that gather the arguments themselves (an emulator reading
 * them from its registers and stack); wsprintfW calls the same code.
 */
#ifndef COREDLL_HOST_FORMAT_API_H
#define COREDLL_HOST_FORMAT_API_H

#include "coredll.h"

#include <cstddef>

namespace coredll {

/* Most characters wsprintfW writes before its NUL, as on CE 6.0 and later. */
constexpr int kFormatOutputLimit = 1023;

/* Most arguments wsprintfW passes on; further "%s" insert "(null)". */
constexpr size_t kFormatArgumentLimit = 64;

/* FormatArgumentCount - how many arguments `format` consumes (one a "%s"). */
size_t FormatArgumentCount(LPCWSTR format);

} // namespace coredll

/*
 * FormatWide - wsprintfW with the "%s" arguments in `args` (the n-th "%s"
 * takes args[n]; past `arg_count` it inserts "(null)").  Writes at most
 * kFormatOutputLimit characters and a NUL, the same trace line as wsprintfW,
 * and returns the characters written.
 */
int FormatWide(LPWSTR out, LPCWSTR format, const LPCWSTR *args, size_t arg_count);

#endif /* COREDLL_HOST_FORMAT_API_H */
