/*
 * wide_text.h - bounded helpers for the program's fixed UTF-16 buffers.
 *
 * Every copy and every format into a fixed buffer is measured first with
 * these, so that nothing is ever written or read past a buffer's end.
 */
#ifndef WIDE_TEXT_H
#define WIDE_TEXT_H

#include "coredll.h"

/*
 * BoundedLength - number of characters before the first NUL among the first
 * `capacity` characters of `text`; `capacity` when there is no NUL within
 * them.  Reads at most `capacity` characters.
 */
UINT BoundedLength(LPCWSTR text, UINT capacity);

/*
 * ZeroFill - sets all `capacity` characters of `buffer` to NUL.
 */
void ZeroFill(LPWSTR buffer, UINT capacity);

#endif /* WIDE_TEXT_H */
