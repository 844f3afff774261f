/*
 * device_path.cpp - resolving device paths inside the device root.
 *
 * The path is first made canonical as CE's coredll does it; its parent
 * is then opened in one openat2 as spelt; only when that finds no such entry
 * are the components matched one by one against the disk.
 */
#include "paths/device_path.h"

#include "kernel/closing.h"
#include "kernel/device_root.h"
#include "kernel/directory_records.h"
#include "kernel/system_calls.h"
#include "names/case_fold.h"
#include "names/utf16.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace coredll {

namespace {

bool IsSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

/* Whether `names` holds a character that no name may hold. */
bool HoldsInvalidCharacter(std::u16string_view names)
{
    for (char16_t c : names) {
        if (c == u'\0' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
            c == u'|') {
            return true;
        }
    }
    return false;
}

/* Appends `component` to the canonical path `out` as CE's path stack does:
 * "." is dropped, ".." pops the last component (nothing at the root). */
void PushComponent(std::u16string_view component, char16_t *out, size_t &length)
{
    if (component == u".") {
        return;
    }
    if (component == u"..") {
        while (length > 0 && out[--length] != u'/') {
        }
        return;
    }
    if (length > 0) {
        out[length++] = u'/';
    }
    std::memcpy(out + length, component.data(), component.size() * sizeof(char16_t));
    length += component.size();
}

} // namespace

bool CanonicalDevicePath(std::u16string_view path, char16_t *out, size_t &length)
{
    length = 0;
    /* GetPathType: two equal slashes not followed by a third begin a
     * network path, and the host has no redirector. */
    bool network = path.size() >= 2 && IsSeparator(path[0]) && path[1] == path[0] &&
                   (path.size() == 2 || !IsSeparator(path[2]));
    if (path.size() > kDevicePathMax || network) {
        return false;
    }
    for (size_t start = 0; start < path.size();) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        if (end > start) {
            PushComponent(path.substr(start, end - start), out, length);
        }
        start = end + 1;
    }
    /* The canonical "\..." must fit MAX_PATH with its NUL, and a root-level
     * name of five characters ending in ':' goes to the device manager
     * (IsLegacyDeviceName), which has no device here. */
    return length + 1 <= kDevicePathMax && !(length == 5 && out[4] == u':');
}

PathBuilder::PathBuilder(char *data, size_t capacity) : data_(data), capacity_(capacity)
{
    data_[0] = '\0';
}

void PathBuilder::Truncate(size_t length)
{
    length_ = length;
    data_[length_] = '\0';
}

bool PathBuilder::AppendComponent(const char *name)
{
    size_t name_length = std::strlen(name);
    size_t separator = length_ > 0 ? 1 : 0;
    if (length_ + separator + name_length + 1 > capacity_) {
        return false;
    }
    if (separator != 0) {
        data_[length_++] = '/';
    }
    std::memcpy(data_ + length_, name, name_length + 1);
    length_ += name_length;
    return true;
}

bool PathBuilder::Assign(std::u16string_view components)
{
    return Utf16ToUtf8(components, data_, capacity_, length_);
}

namespace {

/* What a look-up of a name in a directory's listing found. */
enum class Lookup { Found, Missing, Unreadable };

/* The first entry of the directory `dir_fd` (any fd of it, O_PATH included)
 * whose name equals `name` ignoring case, copied NUL-terminated into `out`
 * (left as it was otherwise); Unreadable when the listing cannot be read to
 * its end. */
Lookup FindEntryIgnoringCase(int dir_fd, std::u16string_view name, char *out, size_t capacity)
{
    alignas(8) char buffer[8192];
    int fd = OpenInRoot(dir_fd, "", O_RDONLY | O_DIRECTORY); /* dir_fd itself, readable. */
    if (fd < 0) {
        return Lookup::Unreadable;
    }
    bool found = false;
    long got = 0;
    while (!found && (got = Sys().getdents64(fd, buffer, sizeof(buffer))) > 0) {
        DirectoryBlock block;
        block.bytes = buffer;
        block.filled = static_cast<size_t>(got);
        for (const char *entry = block.NextName(); entry != nullptr && !found;
             entry = block.NextName()) {
            size_t length = std::strlen(entry);
            if (!IsDotEntry(entry) && length < capacity &&
                Utf8NameEqualsIgnoringCase(std::string_view(entry, length), name)) {
                std::memcpy(out, entry, length + 1);
                found = true;
            }
        }
    }
    Sys().close(fd);
    return found ? Lookup::Found : got < 0 ? Lookup::Unreadable : Lookup::Missing;
}

/* Appends the on-disk name of `component` inside the directory `path` names:
 * the exact name when it exists, else the first equal to it ignoring case,
 * else the exact name (the final open then fails). */
bool AppendMatchedComponent(int root_fd, PathBuilder &path, std::u16string_view component)
{
    char name[kNameBytes];
    size_t length; /* set by the conversion */
    size_t base = path.size();
    if (!Utf16ToUtf8(component, name, sizeof(name), length) || !path.AppendComponent(name)) {
        return false;
    }
    int fd = OpenInRoot(root_fd, path.c_str(), O_PATH | O_NOFOLLOW);
    CloseResolvedDirectory(fd);
    if (fd >= 0 || errno != ENOENT) {
        return true; /* Exists in some form; the final open decides. */
    }
    path.Truncate(base);
    /* A directory that cannot be listed leaves the given spelling, and the
     * final open fails. */
    int dir_fd = OpenInRoot(root_fd, path.c_str(), O_PATH | O_DIRECTORY);
    FindEntryIgnoringCase(dir_fd, component, name, sizeof(name));
    CloseResolvedDirectory(dir_fd);
    return path.AppendComponent(name);
}

/* Opens the directory that the normalised components `parent` name (O_PATH)
 * and writes its on-disk path to `path`; -1 when it is missing. */
int OpenParent(int root_fd, std::u16string_view parent, PathBuilder &path)
{
    if (!path.Assign(parent)) {
        return -1;
    }
    int fd = OpenInRoot(root_fd, path.c_str(), O_PATH | O_DIRECTORY);
    if (fd >= 0 || errno != ENOENT) {
        return fd;
    }
    /* Some component is spelt otherwise on disk: match them one by one. */
    path.Truncate(0);
    for (size_t start = 0; start < parent.size();) {
        size_t end = parent.find(u'/', start);
        end = end == std::u16string_view::npos ? parent.size() : end;
        if (!AppendMatchedComponent(root_fd, path, parent.substr(start, end - start))) {
            return -1;
        }
        start = end + 1;
    }
    return OpenInRoot(root_fd, path.c_str(), O_PATH | O_DIRECTORY);
}

/* Fills out.name (and out.exists, out.st) with the entry of out.dir_fd that
 * `last` names.  False when whether it exists cannot be told: a name taken
 * as missing would be created beside its other spelling. */
bool MatchLastComponent(std::u16string_view last, ResolvedEntry &out)
{
    size_t length; /* set by the conversion */
    if (!Utf16ToUtf8(last, out.name, sizeof(out.name), length)) {
        return false;
    }
    if (Sys().fstatat(out.dir_fd, out.name, &out.st, AT_SYMLINK_NOFOLLOW) == 0) {
        out.exists = true;
        return true;
    }
    Lookup found = errno == ENOENT
                       ? FindEntryIgnoringCase(out.dir_fd, last, out.name, sizeof(out.name))
                       : Lookup::Unreadable;
    if (found != Lookup::Found) {
        return found == Lookup::Missing;
    }
    out.exists = Sys().fstatat(out.dir_fd, out.name, &out.st, AT_SYMLINK_NOFOLLOW) == 0;
    return out.exists;
}

} // namespace

size_t DevicePathLength(const char16_t *path)
{
    size_t length = 0;
    while (length < kDevicePathLimit && path[length] != 0) {
        ++length;
    }
    return length;
}

bool ResolveDeviceEntry(int root_fd, std::u16string_view device_path, ResolvedEntry &out)
{
    char16_t normalized[kDevicePathLimit + 1];
    size_t length; /* set by CanonicalDevicePath */
    if (!CanonicalDevicePath(device_path, normalized, length)) {
        return false;
    }
    std::u16string_view path(normalized, length);
    if (HoldsInvalidCharacter(path)) {
        return false;
    }
    PathBuilder on_disk(out.path, sizeof(out.path));
    if (path.empty()) {
        out.dir_fd = OpenInRoot(root_fd, "", O_PATH | O_DIRECTORY);
        std::memcpy(out.name, ".", 2);
        return out.dir_fd >= 0;
    }
    size_t slash = path.rfind(u'/');
    std::u16string_view last = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    out.dir_fd = slash == std::u16string_view::npos
                     ? OpenInRoot(root_fd, "", O_PATH | O_DIRECTORY)
                     : OpenParent(root_fd, path.substr(0, slash), on_disk);
    if (out.dir_fd < 0 || !MatchLastComponent(last, out) || !on_disk.AppendComponent(out.name)) {
        CloseResolvedDirectory(out.dir_fd);
        out.dir_fd = -1;
        out.exists = false;
        return false;
    }
    return true;
}

} // namespace coredll
