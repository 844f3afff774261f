/*
 * wide_text.cpp - bounded helpers for the program's fixed UTF-16 buffers.
 */
#include "wide_text.h"

UINT BoundedLength(LPCWSTR text, UINT capacity)
{
    UINT length = 0;

    while (length < capacity && text[length] != 0) {
        ++length;
    }
    return length;
}

void ZeroFill(LPWSTR buffer, UINT capacity)
{
    UINT index;

    for (index = 0; index < capacity; ++index) {
        buffer[index] = 0;
    }
}
