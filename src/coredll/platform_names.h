/*
 * platform_names.h - platform names that the program does not use but its
 * stand-ins and their tests do: more attribute bits, error codes and value
 * types.  On a Windows target it is <windows.h>, like coredll.h.
 */
#ifndef PLATFORM_NAMES_H
#define PLATFORM_NAMES_H

#include "coredll.h"

#if !defined(_WIN32) && !defined(UNDER_CE)

#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L

#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4

#endif /* !_WIN32 && !UNDER_CE */

#endif /* PLATFORM_NAMES_H */
