/*
 * device_path.cpp - resolving device paths inside the device root.
 *
 * Components are first normalised lexically, as the device does: empty and
 * "." components vanish and ".." drops the component before it (never
 * anything above the root); two leading separators name a network path and
 * a final one a directory.  The remaining components are then matched one by
 * one against the disk, but every open is a whole path from the root under
 * RESOLVE_IN_ROOT, so that a symbolic link's absolute target still means the
 * device root and nothing can lead outside it.
 */
#include "device_path.h"

#include "device_root.h"
#include "utf16.h"
#include "case_fold.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace coredll {

namespace {

bool IsSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

/* Whether `component` holds a character that no file name may hold: the
 * wildcards and quoting characters * ? " < > |. */
bool HoldsInvalidCharacter(std::u16string_view component)
{
    return component.find_first_of(u"*?\"<>|") != std::u16string_view::npos;
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

/* Splits `path` into its components after lexical normalisation.  False
 * when a component holds a NUL or a character no name may hold, or when the
 * last component is a DOS device name. */
bool NormalizeComponents(std::u16string_view path, std::vector<std::u16string_view> &components)
{
    /* Two leading separators begin a network name, never a local file. */
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        std::u16string_view component = path.substr(start, end - start);
        if (component.find(u'\0') != std::u16string_view::npos ||
            HoldsInvalidCharacter(component)) {
            return false;
        }
        /* The platform drops trailing dots and spaces from a path's last
         * component, and a device name there names no file. */
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
            components.push_back(component);
            start = end + 1;
            continue;
        }
        if (component == u"..") {
            if (!components.empty()) {
                components.pop_back();
            }
        } else if (!component.empty() && component != u".") {
            components.push_back(component);
        }
        start = end + 1;
    }
    return true;
}

/* Appends the on-disk name of `component` inside the directory `relative`
 * (already on-disk) to `relative`: the exact name when it exists, else the
 * first entry equal to it ignoring case, else the exact name.  False when the
 * name is invalid or the directory cannot be opened. */
bool AppendMatchedComponent(int root_fd, std::string &relative, std::u16string_view component)
{
    size_t base = relative.size();
    if (!relative.empty()) {
        relative.push_back('/');
    }
    if (!AppendUtf16AsUtf8(component, relative)) {
        relative.resize(base);
        return false;
    }
    int fd = OpenInRoot(root_fd, relative.c_str(), O_PATH | O_NOFOLLOW);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    if (errno != ENOENT) {
        return true; /* Exists in some form (a link, say); the kernel decides later. */
    }
    char matched[NAME_MAX + 1];
    std::string directory = relative.substr(0, base);
    int dir_fd = OpenInRoot(root_fd, directory.c_str(), O_PATH | O_DIRECTORY);
    if (dir_fd < 0) {
        relative.resize(base);
        return false;
    }
    bool found = FindEntryIgnoringCase(dir_fd, component, matched, sizeof(matched));
    close(dir_fd);
    if (found) {
        relative.resize(base);
        if (!relative.empty()) {
            relative.push_back('/');
        }
        relative.append(matched);
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

bool FindEntryIgnoringCase(int dir_fd, std::u16string_view name, char *out, size_t capacity)
{
    alignas(8) char buffer[8192];
    int fd = openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool found = false;
    if (fd < 0) {
        return false;
    }
    while (!found) {
        long got = syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
        if (got <= 0) {
            break;
        }
        for (long offset = 0; offset < got && !found;) {
            const char *record = buffer + offset;
            unsigned short length = 0;
            std::memcpy(&length, record + 16, sizeof(length));
            const char *entry = record + 19;
            std::string_view entry_name(entry, strnlen(entry, length - 19));
            if (entry_name != "." && entry_name != ".." &&
                Utf8NameEqualsIgnoringCase(entry_name, name) && entry_name.size() < capacity) {
                std::memcpy(out, entry_name.data(), entry_name.size());
                out[entry_name.size()] = '\0';
                found = true;
            }
            offset += length;
        }
    }
    close(fd);
    return found;
}

bool SplitLastComponent(std::u16string_view device_path, std::u16string_view &parent,
                        std::u16string_view &last)
{
    size_t cut = device_path.size();
    while (cut > 0 && !IsSeparator(device_path[cut - 1])) {
        --cut;
    }
    if (cut == 0) {
        return false;
    }
    parent = device_path.substr(0, cut - 1);
    last = device_path.substr(cut);
    /* Names the platform would change or refuse take the full resolution. */
    return !last.empty() && last != u"." && last != u".." &&
           WithoutTrailingDotsAndSpaces(last).size() == last.size() &&
           !HoldsInvalidCharacter(last) && !IsDosDeviceName(last);
}

bool ResolveDevicePath(int root_fd, std::u16string_view device_path, std::string &relative)
{
    std::vector<std::u16string_view> components;
    relative.clear();
    if (root_fd < 0 || !NormalizeComponents(device_path, components)) {
        return false;
    }
    for (size_t i = 0; i < components.size(); ++i) {
        if (!AppendMatchedComponent(root_fd, relative, components[i])) {
            return false;
        }
        /* Every component but the last must be an existing directory. */
        if (i + 1 < components.size()) {
            int fd = OpenInRoot(root_fd, relative.c_str(), O_PATH | O_DIRECTORY);
            if (fd < 0) {
                return false;
            }
            close(fd);
        }
    }
    /* A final separator says the last component is a directory. */
    if (!components.empty() && IsSeparator(device_path.back())) {
        int fd = OpenInRoot(root_fd, relative.c_str(), O_PATH | O_DIRECTORY);
        if (fd < 0 && errno == ENOTDIR) {
            return false;
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    return true;
}

bool ResolveDeviceEntry(int root_fd, std::u16string_view device_path, ResolvedEntry &out)
{
    std::string relative;
    out.dir_fd = -1;
    out.name.clear();
    if (!ResolveDevicePath(root_fd, device_path, relative)) {
        return false;
    }
    size_t slash = relative.rfind('/');
    std::string parent = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    out.name = relative.empty() ? std::string(".")
                                : relative.substr(slash == std::string::npos ? 0 : slash + 1);
    out.dir_fd = OpenInRoot(root_fd, parent.c_str(), O_PATH | O_DIRECTORY);
    if (out.dir_fd < 0) {
        out.name.clear();
        return false;
    }
    return true;
}

} // namespace coredll
