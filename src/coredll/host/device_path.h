/*
 * device_path.h - resolving device paths inside the device root.
 *
 * A device path is UTF-16 ("\A\B\c"); "\" and "/" both separate components,
 * "." and empty components are ignored, and ".." drops the component before it
 * (lexically, as the device does), never climbing above the root.
 * Every component is matched case-insensitively: an exact on-disk name is
 * preferred, otherwise the first entry that equals it ignoring case.  All
 * opening is done by the kernel with openat2(RESOLVE_IN_ROOT |
 * RESOLVE_NO_MAGICLINKS) from the root's fd, so that symbolic links (absolute
 * targets meaning the device root) and ".." can never lead outside the root.
 */
#ifndef COREDLL_HOST_DEVICE_PATH_H
#define COREDLL_HOST_DEVICE_PATH_H

#include <string>
#include <string_view>

namespace coredll {

/*
 * The directory holding a path's last component, and that component's name.
 * dir_fd is an O_PATH|O_DIRECTORY fd opened inside the root and owned by the
 * caller (close it).  name is the last component's actual on-disk name after
 * case-insensitive matching, or the given name in UTF-8 when no entry
 * matches.  For the root itself ("\", "\..", or an empty path) dir_fd is a
 * new fd of the root and name is ".".  Names that are not valid UTF-8 on disk
 * never match a device name ignoring case; only an exact name could reach
 * them, and no UTF-16 name converts to one, so they are never confused with
 * another file.
 */
struct ResolvedEntry {
    int dir_fd = -1;
    std::string name;
};

/*
 * ResolveDeviceEntry - resolves `device_path` against the directory `root_fd`
 * (the device root).  Fills `out` and returns true when every parent
 * directory exists (inside the root); returns false, with out.dir_fd == -1,
 * when a parent is missing or not a directory, or when the path holds an
 * unpaired surrogate, a NUL or a character no name may hold (* ? " < > |).
 * As on the platform, trailing dots and spaces of the last component are
 * dropped ("a.txt ." names "a.txt"), and a last component that is a DOS
 * device name (CON, NUL, COM1, LPT1.txt, ...) is refused.  May throw
 * std::bad_alloc.
 */
bool ResolveDeviceEntry(int root_fd, std::u16string_view device_path, ResolvedEntry &out);

/*
 * ResolveDevicePath - the on-disk path, relative to the root, that
 * `device_path` names after case-insensitive matching of every component
 * ("" for the root itself).  The path is meant for OpenInRoot, which confines
 * it to the root.  Returns false on the same failures as ResolveDeviceEntry.
 * May throw std::bad_alloc.
 */
bool ResolveDevicePath(int root_fd, std::u16string_view device_path, std::string &relative);

/* WithoutTrailingDotsAndSpaces - `component` without the trailing dots and
 * spaces that the platform drops from a path's last component. */
std::u16string_view WithoutTrailingDotsAndSpaces(std::u16string_view component);

/*
 * FindEntryIgnoringCase - searches the directory `dir_fd` (any fd of it,
 * O_PATH included) for an entry whose name equals `name` ignoring case and
 * copies its on-disk name, NUL-terminated, into `out` (capacity `capacity`).
 * Names that are not valid UTF-8 never match.  Returns false when there is
 * no such entry, the directory cannot be read or the name does not fit.
 * Uses a fixed buffer; allocates nothing.
 */
bool FindEntryIgnoringCase(int dir_fd, std::u16string_view name, char *out, size_t capacity);

/*
 * SplitLastComponent - splits `device_path` at its last separator ("\" or
 * "/") into `parent` (without the separator) and `last`.  Returns false when
 * there is no separator or `last` is empty, "." or "..": such paths take
 * the full resolution.
 */
bool SplitLastComponent(std::u16string_view device_path, std::u16string_view &parent,
                        std::u16string_view &last);

} // namespace coredll

#endif /* COREDLL_HOST_DEVICE_PATH_H */
