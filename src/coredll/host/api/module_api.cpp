/*
 * module_api.cpp - GetModuleFileNameW.
 *
 * The running executable has a device path only when its file lies inside
 * the device root.  The kernel decides, not a comparison of strings: the
 * candidate relative path (the executable's real path less the root's) is
 * opened inside the root and must be the very file that is running.  A
 * program started from outside the root has no device path: the call fails.
 */
#include "coredll.h"

#include "api/platform_call.h"
#include "kernel/device_root.h"
#include "kernel/system_calls.h"
#include "names/utf16.h"
#include "paths/running_executable.h"

#include <climits>
#include <cstring>
#include <fcntl.h>

namespace coredll {

namespace {

/* Longest device path handed out, in characters with the NUL. */
constexpr size_t kModulePathCapacity = PATH_MAX + 2;

/* The executable's device path (UTF-16, NUL-terminated) into `out`. */
bool ExecutableDevicePath(char16_t (&out)[kModulePathCapacity], size_t &length)
{
    char exe[PATH_MAX];
    struct stat expected = {};
    struct stat found = {};
    const char *root = DeviceRootPath();
    if (root == nullptr || !RunningExecutableRealPath(exe, sizeof(exe)) ||
        !RunningExecutableStat(expected)) {
        return NoteFailure("the running executable cannot be found");
    }
    size_t root_length = std::strcmp(root, "/") == 0 ? 0 : std::strlen(root);
    if (std::strncmp(exe, root, root_length) != 0 || exe[root_length] != '/') {
        return NoteFailure("the executable lies outside the device root");
    }
    const char *relative = exe + root_length + 1;
    int fd = OpenInRoot(DeviceRootFd(), relative, O_PATH | O_NOFOLLOW);
    bool same = fd >= 0 && Sys().fstatat(fd, "", &found, AT_EMPTY_PATH) == 0 &&
                found.st_dev == expected.st_dev && found.st_ino == expected.st_ino;
    if (fd >= 0) {
        Sys().close(fd);
    }
    if (!same) {
        return NoteFailure("the executable's path inside the device root names another file");
    }
    /* "\" + relative, with the device's separators. */
    char device[PATH_MAX + 1];
    device[0] = '\\';
    size_t used = 1;
    for (const char *c = relative; *c != '\0' && used + 1 < sizeof(device); ++c) {
        device[used++] = *c == '/' ? '\\' : *c;
    }
    device[used] = '\0';
    return Utf8ToUtf16(std::string_view(device, used), out, kModulePathCapacity, length) ||
           NoteFailure("the executable's path is not valid UTF-8");
}

DWORD GetModuleFileNameImpl(HMODULE module, LPWSTR buffer, DWORD size)
{
    char16_t path[kModulePathCapacity];
    size_t length = 0;
    /* CE takes the size as a signed count: none above 0x7FFFFFFF. */
    if (module != nullptr || buffer == nullptr || size == 0 || size > 0x7FFFFFFFu ||
        !ExecutableDevicePath(path, length)) {
        return 0;
    }
    if (length + 1 > size) {
        /* As CE 6.0 and later (kernel process.c, DoGetFullPath): too short
         * a buffer fails and is left alone.  CE 5.0 cut the path to size - 1
         * characters and returned that count. */
        return 0;
    }
    std::memcpy(buffer, path, (length + 1) * sizeof(char16_t));
    return static_cast<DWORD>(length);
}

} // namespace

} // namespace coredll

extern "C" DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    using namespace coredll;
    DWORD result =
        Guarded<DWORD>(0, [&] { return GetModuleFileNameImpl(hModule, lpFilename, nSize); });
    Trace(
        "GetModuleFileNameW", Decimal(result),
        {HandleArg(hModule), result != 0 ? Text(lpFilename, nSize) : Unwritten(), Decimal(nSize)});
    return result;
}
