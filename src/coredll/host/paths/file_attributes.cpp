/*
 * file_attributes.cpp - the device's attribute bits for a file on disk.
 */
#include "paths/file_attributes.h"

namespace coredll {

DWORD AttributesOf(const struct stat &st)
{
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    /* As Wine maps it: read-only when nobody may write the file. */
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    return attributes == 0 ? static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL) : attributes;
}

} // namespace coredll
