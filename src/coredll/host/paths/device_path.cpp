/*
 * device_path.cpp - resolving device paths inside the device root.
 *
 * The path is first normalised lexically, as the device does; two leading
 * separators name a network path and a final one a directory.  Its parent
 * is then opened in one openat2 as spelt; only when that finds no such entry
 * are the components matched one by one against the disk.
 */
#include "paths/device_path.h"

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

/* Whether `component` holds a character that no name may hold. */
bool HoldsInvalidCharacter(std::u16string_view component)
{
    for (char16_t c : component) {
        if (c < 0x80 && (c == u'\0' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
                         c == u'>' || c == u'|')) {
            return true;
        }
    }
    return false;
}

/* Whether `component` names a DOS device (CON, PRN, AUX, NUL, COM1-9,
 * LPT1-9, with or without an extension, in any case) rather than a file. */
bool IsDosDeviceName(std::u16string_view component)
{
    std::u16string_view stem = component.substr(0, component.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') {
        stem.remove_suffix(1);
    }
    if (stem.size() != 3 && stem.size() != 4) {
        return false;
    }
    char16_t name[4] = {};
    for (size_t i = 0; i < stem.size(); ++i) {
        char16_t c = stem[i];
        name[i] = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
    }
    std::u16string_view word(name, 3);
    if (stem.size() == 3) {
        return word == u"CON" || word == u"PRN" || word == u"AUX" || word == u"NUL";
    }
    return (word == u"COM" || word == u"LPT") && name[3] >= u'1' && name[3] <= u'9';
}

/* The path's components after lexical normalisation, joined by "/", into
 * `out` (room for kDevicePathLimit characters).  False when the path names
 * no file. */
bool Normalize(std::u16string_view path, char16_t *out, size_t &length)
{
    length = 0;
    /* Two leading separators begin a network name, never a local file. */
    if (path.size() > kDevicePathLimit ||
        (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))) {
        return false;
    }
    for (size_t start = 0; start <= path.size();) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        std::u16string_view component = path.substr(start, end - start);
        if (HoldsInvalidCharacter(component)) {
            return false;
        }
        if (end == path.size() && component != u"." && component != u"..") {
            component = WithoutTrailingDotsAndSpaces(component);
            if (IsDosDeviceName(component)) {
                return false;
            }
        }
        /* A directory's name loses one trailing dot: "a.\b" is "a\b". */
        if (end < path.size() && component.size() > 1 && component.back() == u'.' &&
            component != u"..") {
            component.remove_suffix(1);
            if (component == u"." || component == u"..") {
                return false;
            }
            if (length > 0) {
                out[length++] = u'/';
            }
            std::memcpy(out + length, component.data(), component.size() * sizeof(char16_t));
            length += component.size();
        } else if (component == u"..") {
            while (length > 0 && out[length - 1] != u'/') {
                --length;
            }
            length -= length > 0 ? 1 : 0;
        } else if (!component.empty() && component != u".") {
            if (length > 0) {
                out[length++] = u'/';
            }
            std::memcpy(out + length, component.data(), component.size() * sizeof(char16_t));
            length += component.size();
        }
        start = end + 1;
    }
    return true;
}

/* A NUL-terminated on-disk path built in a caller's fixed buffer. */
class PathBuilder {
  public:
    PathBuilder(char *data, size_t capacity) : data_(data), capacity_(capacity)
    {
        data_[0] = '\0';
    }
    const char *c_str() const
    {
        return data_;
    }
    size_t size() const
    {
        return length_;
    }
    void Truncate(size_t length)
    {
        length_ = length;
        data_[length_] = '\0';
    }
    /* Appends "/" (unless empty) and `name`; false when it does not fit. */
    bool AppendComponent(const char *name)
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

    /* Appends "/" (unless empty) and `name` in UTF-8; false when the name is
     * not valid UTF-16 or does not fit. */
    bool AppendComponent(std::u16string_view name)
    {
        size_t base = length_;
        size_t start = base + (base > 0 ? 1 : 0);
        size_t written = 0;
        if (start >= capacity_) {
            return false;
        }
        data_[base] = '/';
        if (!Utf16ToUtf8(name, data_ + start, capacity_ - start, written)) {
            Truncate(base);
            return false;
        }
        length_ = start + written;
        return true;
    }

  private:
    char *data_;
    size_t capacity_;
    size_t length_ = 0;
};

/* Appends the on-disk name of `component` inside the directory `path` names:
 * the exact name when it exists, else the first equal to it ignoring case,
 * else the exact name (the final open then fails). */
bool AppendMatchedComponent(int root_fd, PathBuilder &path, std::u16string_view component)
{
    char name[kNameBytes];
    size_t length = 0;
    size_t base = path.size();
    if (!Utf16ToUtf8(component, name, sizeof(name), length) || !path.AppendComponent(name)) {
        return false;
    }
    int fd = OpenInRoot(root_fd, path.c_str(), O_PATH | O_NOFOLLOW);
    if (fd >= 0 || errno != ENOENT) {
        if (fd >= 0) {
            Sys().close(fd);
        }
        return true; /* Exists in some form; the final open decides. */
    }
    path.Truncate(base);
    int dir_fd = OpenInRoot(root_fd, path.c_str(), O_PATH | O_DIRECTORY);
    if (dir_fd < 0) {
        return false;
    }
    char matched[kNameBytes];
    bool found = FindEntryIgnoringCase(dir_fd, component, matched, sizeof(matched));
    Sys().close(dir_fd);
    return path.AppendComponent(found ? matched : name);
}

/* Opens the directory that the normalised components `parent` name (O_PATH)
 * and writes its on-disk path to `path`; -1 when it is missing. */
int OpenParent(int root_fd, std::u16string_view parent, PathBuilder &path)
{
    if (!path.AppendComponent(parent)) {
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

/* Whether the existing entry `out` is a directory, or a link to one inside
 * the root, as a path with a final separator must name. */
bool NamesDirectory(int root_fd, const ResolvedEntry &out)
{
    if (!S_ISLNK(out.st.st_mode)) {
        return S_ISDIR(out.st.st_mode);
    }
    int fd = OpenInRoot(root_fd, out.path, O_PATH | O_DIRECTORY);
    if (fd >= 0) {
        Sys().close(fd);
    }
    return fd >= 0 || errno != ENOTDIR;
}

/* Fills out.name (and out.exists, out.st) with the entry of out.dir_fd that
 * `last` names. */
bool MatchLastComponent(std::u16string_view last, ResolvedEntry &out)
{
    size_t length = 0;
    if (!Utf16ToUtf8(last, out.name, sizeof(out.name), length)) {
        return false;
    }
    if (Sys().fstatat(out.dir_fd, out.name, &out.st, AT_SYMLINK_NOFOLLOW) == 0) {
        out.exists = true;
    } else if (errno == ENOENT) {
        char matched[kNameBytes];
        if (FindEntryIgnoringCase(out.dir_fd, last, matched, sizeof(matched)) &&
            Sys().fstatat(out.dir_fd, matched, &out.st, AT_SYMLINK_NOFOLLOW) == 0) {
            std::memcpy(out.name, matched, std::strlen(matched) + 1);
            out.exists = true;
        }
    }
    return true;
}

} // namespace

std::u16string_view WithoutTrailingDotsAndSpaces(std::u16string_view component)
{
    while (!component.empty() && (component.back() == u'.' || component.back() == u' ')) {
        component.remove_suffix(1);
    }
    return component;
}

size_t DevicePathLength(const char16_t *path)
{
    size_t length = 0;
    while (length < kDevicePathLimit && path[length] != 0) {
        ++length;
    }
    return length;
}

bool FindEntryIgnoringCase(int dir_fd, std::u16string_view name, char *out, size_t capacity)
{
    alignas(8) char buffer[8192];
    int fd = Sys().openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool found = false;
    for (long got = 0; !found && (got = Sys().getdents64(fd, buffer, sizeof(buffer))) > 0;) {
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
    return found;
}

bool ResolveDeviceEntry(int root_fd, std::u16string_view device_path, ResolvedEntry &out)
{
    char16_t normalized[kDevicePathLimit + 1];
    size_t length = 0;
    out.dir_fd = -1;
    out.name[0] = '\0';
    out.path[0] = '\0';
    out.exists = false;
    out.ends_in_separator = !device_path.empty() && IsSeparator(device_path.back());
    if (root_fd < 0 || !Normalize(device_path, normalized, length)) {
        return false;
    }
    std::u16string_view path(normalized, length);
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
    if (out.dir_fd < 0 || !MatchLastComponent(last, out) || !on_disk.AppendComponent(out.name) ||
        (out.ends_in_separator && out.exists && !NamesDirectory(root_fd, out))) {
        if (out.dir_fd >= 0) {
            Sys().close(out.dir_fd);
        }
        out.dir_fd = -1;
        out.exists = false;
        return false;
    }
    return true;
}

} // namespace coredll
