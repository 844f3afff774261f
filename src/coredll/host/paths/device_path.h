/* paths/ - device paths resolved inside the root, and their files as the device sees them. */
/*
 * device_path.h - resolving device paths inside the device root.
 *
 * A device path is UTF-16 ("\A\B\c"), read as CE's canonicaliser reads it
 * (CeGetCanonicalPathNameW, coredll apis.c and cnnclpth.c): "\" and "/" both
 * separate, runs of them count as one, "." is dropped and ".." drops the
 * component before it, never climbing above the root; a final separator is
 * dropped, every other component is kept as given (trailing dots and spaces
 * included), and a relative path is taken from the root.  A path longer than
 * 259 characters, a network path (two equal slashes and no third) and a
 * legacy device name at the root ("\COM1:") name no file; so does, when
 * resolved, a canonical path holding * ? " < > |, a NUL or an unpaired
 * surrogate.
 *
 * Every component is matched ignoring case: the exact on-disk name is
 * preferred, otherwise the first entry equal to it ignoring case.  Names
 * that are not valid UTF-8 on disk match nothing.  Every open is a whole
 * path from the root under RESOLVE_IN_ROOT (device_root.h), so symbolic
 * links and ".." never lead outside.  Fixed buffers; nothing is allocated.
 */
#ifndef COREDLL_HOST_DEVICE_PATH_H
#define COREDLL_HOST_DEVICE_PATH_H

#include <cstddef>
#include <string_view>
#include <sys/stat.h>

namespace coredll {

/* Longest device path the platform takes, in characters (MAX_PATH - 1). */
constexpr size_t kDevicePathMax = 259;
/* Longest device path read: one more, to tell a path that is too long. */
constexpr size_t kDevicePathLimit = kDevicePathMax + 1;
/* Longest on-disk path relative to the root, with its NUL (PATH_MAX). */
constexpr size_t kRelativePathBytes = 4096;
/* Longest on-disk name kept, with its NUL (255 characters of 3 bytes fit). */
constexpr size_t kNameBytes = 1024;

/* DevicePathLength - the length of `path` up to its NUL, at most
 * kDevicePathLimit. */
size_t DevicePathLength(const char16_t *path);

/*
 * A resolved path: the directory holding its last component (dir_fd, an
 * O_PATH fd the caller closes) and that component's on-disk name, which is
 * the given name in UTF-8 when no entry matches it.  For the root itself
 * ("\", "\..", "") dir_fd is a new fd of the root and name is ".".
 */
struct ResolvedEntry {
    ResolvedEntry()
    {
        name[0] = '\0';
        path[0] = '\0';
    }
    int dir_fd = -1;
    char name[kNameBytes];
    char path[kRelativePathBytes]; /* The whole on-disk path; "" for the root. */
    bool exists = false;           /* Whether name exists (never "."); its lstat in st. */
    struct stat st = {};
};

/*
 * ResolveDeviceEntry - resolves `device_path` against the root `root_fd`
 * into a fresh `out`.  True, with `out` filled, when every parent directory
 * exists inside the root; false, with out.dir_fd == -1, when a parent is
 * missing or not a directory, or the path names no file.  Two system calls when every
 * component is spelt as on disk (open the parent, stat the name).
 */
bool ResolveDeviceEntry(int root_fd, std::u16string_view device_path, ResolvedEntry &out);

/*
 * CanonicalDevicePath - the canonical form of `device_path` (see above) into
 * `out` (room for kDevicePathLimit units): its components joined by "/",
 * without a leading one ("" for the root).  False when it names no local
 * file.  Names are not checked: a search pattern passes too.
 */
bool CanonicalDevicePath(std::u16string_view device_path, char16_t *out, size_t &length);

/* PathBuilder - a NUL-terminated on-disk path built in a caller's buffer of
 * `capacity` bytes. */
class PathBuilder {
  public:
    PathBuilder(char *data, size_t capacity);
    const char *c_str() const
    {
        return data_;
    }
    size_t size() const
    {
        return length_;
    }
    void Truncate(size_t length);
    /* Appends "/" (unless empty) and `name`; false, unchanged, when it does
     * not fit. */
    bool AppendComponent(const char *name);
    /* Makes the path `components` in UTF-8; false when they are not valid
     * UTF-16 or do not fit. */
    bool Assign(std::u16string_view components);

  private:
    char *data_;
    size_t capacity_;
    size_t length_ = 0;
};

} // namespace coredll

#endif /* COREDLL_HOST_DEVICE_PATH_H */
