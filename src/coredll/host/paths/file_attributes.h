/*
 * file_attributes.h - the device's attribute bits for a file on disk.
 *
 * A directory is FILE_ATTRIBUTE_DIRECTORY; an entry that nobody may write
 * (no write permission bit at all) is FILE_ATTRIBUTE_READONLY, the mapping
 * Wine uses; an
 * entry with neither is FILE_ATTRIBUTE_NORMAL.  A symbolic link is described
 * by whatever stat it was given (the link itself, or its target).
 */
#ifndef COREDLL_HOST_FILE_ATTRIBUTES_H
#define COREDLL_HOST_FILE_ATTRIBUTES_H

#include "coredll.h"
#include "platform_names.h"

#include <sys/stat.h>

namespace coredll {

/* AttributesOf - the attribute bits for `st`.  Cannot fail. */
DWORD AttributesOf(const struct stat &st);

} // namespace coredll

#endif /* COREDLL_HOST_FILE_ATTRIBUTES_H */
