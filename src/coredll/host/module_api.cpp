/*
 * module_api.cpp - GetModuleFileNameW.
 *
 * The running executable has a device path only when its file lies inside
 * the device root.  That is decided by the kernel, not by comparing strings:
 * the candidate relative path (the executable's real path less the root's
 * real path) is opened inside the root and must be the very file that is
 * running (see running_executable.h).  A program started from outside the root therefore has
 * no device path, and the call fails.
 */
#include "coredll.h"

#include "device_root.h"
#include "running_executable.h"
#include "trace.h"
#include "utf16.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace coredll {

namespace {

/* Longest device path handed out, in characters with the NUL. */
constexpr size_t kModulePathCapacity = PATH_MAX + 2;

/* Real path of the root fd into `out`; false on failure. */
bool RootRealPath(char (&out)[PATH_MAX])
{
    char link[64];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", DeviceRootFd());
    return DeviceRootFd() >= 0 && realpath(link, out) != nullptr;
}

/* The executable's device path (UTF-16, NUL-terminated) into `out`; its
 * length into `length`.  False when it does not lie inside the root. */
bool ExecutableDevicePath(char16_t (&out)[kModulePathCapacity], size_t &length)
{
    char root[PATH_MAX];
    char exe[PATH_MAX];
    struct stat expected = {};
    struct stat found = {};
    if (!RootRealPath(root) || !RunningExecutableRealPath(exe, sizeof(exe)) ||
        !RunningExecutableStat(expected)) {
        return false;
    }
    size_t root_length = std::strlen(root);
    if (root_length == 1) {
        root_length = 0; /* The root is "/". */
    }
    if (std::strncmp(exe, root, root_length) != 0 || exe[root_length] != '/') {
        return false;
    }
    const char *relative = exe + root_length + 1;
    int fd = OpenInRoot(DeviceRootFd(), relative, O_PATH | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    bool same = fstat(fd, &found) == 0 && found.st_dev == expected.st_dev &&
                found.st_ino == expected.st_ino;
    close(fd);
    if (!same) {
        return false;
    }
    /* "/" + relative, with the device's separators. */
    char device[PATH_MAX + 1];
    std::snprintf(device, sizeof(device), "/%s", relative);
    for (char *c = device; *c != '\0'; ++c) {
        if (*c == '/') {
            *c = '\\';
        }
    }
    return Utf8ToUtf16(device, out, kModulePathCapacity, length);
}

DWORD GetModuleFileNameImpl(HMODULE module, LPWSTR buffer, DWORD size)
{
    char16_t path[kModulePathCapacity];
    size_t length = 0;
    if (module != nullptr || buffer == nullptr || size == 0 ||
        !ExecutableDevicePath(path, length)) {
        return 0;
    }
    if (length + 1 > size) {
        /* Cut short, as the platform does: size - 1 characters and a NUL. */
        std::memcpy(buffer, path, (size - 1) * sizeof(char16_t));
        buffer[size - 1] = 0;
        return size;
    }
    std::memcpy(buffer, path, (length + 1) * sizeof(char16_t));
    return static_cast<DWORD>(length);
}

} // namespace

} // namespace coredll

extern "C" DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    DWORD result = coredll::GetModuleFileNameImpl(hModule, lpFilename, nSize);
    if (coredll::TraceEnabled()) {
        coredll::TraceLine line("GetModuleFileNameW");
        line.Pointer(hModule);
        if (result != 0) {
            line.Text(lpFilename, nSize);
        } else {
            line.Pointer(lpFilename);
        }
        line.Number(nSize);
        line.Finish(result);
    }
    return result;
}
