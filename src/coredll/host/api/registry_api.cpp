/*
 * registry_api.cpp - RegOpenKeyExW, RegQueryValueExW and RegCloseKey.
 *
 * The registry is the export file "registry.reg" at the device root (its
 * name matched ignoring case, as every name), read inside the root and
 * imported each time a key is opened; an open key keeps what it read.  A
 * registry.reg that is not a regular file is no registry, as a missing one.
 * The registry is never written.
 */
#include "coredll.h"
#include "platform_names.h"

#include "api/platform_call.h"
#include "handles/registry_table.h"
#include "kernel/device_root.h"
#include "kernel/system_calls.h"
#include "paths/device_path.h"
#include "registry/registry_export.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace coredll {

namespace {

/* A registry file larger than this is taken as empty. */
constexpr off_t kRegistryFileLimit = off_t{64} * 1024 * 1024;

/* Reads and imports the root's registry file; empty when missing,
 * unreadable or not a regular file (a FIFO, a socket, a device, a
 * directory), which is never read nor waited on.  May throw std::bad_alloc. */
RegistryExport LoadRegistry()
{
    std::vector<uint8_t> bytes;
    struct stat st = {};
    ResolvedEntry entry;
    if (!ResolveDeviceEntry(DeviceRootFd(), u"\\registry.reg", entry)) {
        return RegistryExport{};
    }
    Sys().close(entry.dir_fd);
    if (!entry.exists || !(S_ISREG(entry.st.st_mode) || S_ISLNK(entry.st.st_mode))) {
        return RegistryExport{};
    }
    /* Non-blocking: what is there now may have been swapped for a FIFO. */
    int fd = OpenInRoot(DeviceRootFd(), entry.path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return RegistryExport{};
    }
    struct Closing { /* On every way out, running out of memory included. */
        int fd;
        ~Closing()
        {
            Sys().close(fd);
        }
    } closing{fd};
    if (Sys().fstatat(fd, "", &st, AT_EMPTY_PATH) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > kRegistryFileLimit) {
        return RegistryExport{};
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    ssize_t got = 1;
    while (done < bytes.size() && got != 0) {
        got = Sys().read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno != EINTR) {
            break; /* A file that cannot be read whole is no registry. */
        }
        done += got > 0 ? static_cast<size_t>(got) : 0;
    }
    return got < 0 ? RegistryExport{} : ParseRegistryExport(bytes.data(), done);
}

LONG OpenKeyImpl(HKEY root, LPCWSTR sub_key, PHKEY result)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::u16string path;
    if (root == HKEY_LOCAL_MACHINE) {
        path = u"HKEY_LOCAL_MACHINE";
    } else if (const RegistryKey *parent = RegistryKeyOfHandle(root)) {
        path = parent->name; /* an open key's name is its path */
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (sub_key != nullptr && sub_key[0] != 0) {
        path += u"\\";
        path += sub_key;
    }
    RegistryExport reg = LoadRegistry();
    const RegistryKey *key = FindRegistryKey(reg, path);
    if (key == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    HKEY handle = OpenRegistrySlot(RegistryKey{std::move(path), kNoParent, key->values});
    if (handle == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    *result = handle;
    return ERROR_SUCCESS;
}

LONG QueryValueImpl(HKEY handle, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                    LPDWORD size)
{
    const RegistryKey *key = RegistryKeyOfHandle(handle);
    if (key == nullptr) {
        return handle == HKEY_LOCAL_MACHINE ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    }
    if (reserved != nullptr || (data != nullptr && size == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    const RegistryValue *value = FindRegistryValue(*key, name == nullptr ? u"" : name);
    if (value == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto needed = static_cast<DWORD>(value->data.size());
    if (type != nullptr) {
        *type = value->type;
    }
    if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, value->data.data(), needed);
    }
    if (size != nullptr) {
        *size = needed;
    }
    return ERROR_SUCCESS;
}

} // namespace

} // namespace coredll

using namespace coredll;

extern "C" LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                                     REGSAM samDesired, PHKEY phkResult)
{
    LONG result = Guarded<LONG>(ERROR_NOT_ENOUGH_MEMORY,
                                [&] { return OpenKeyImpl(hKey, lpSubKey, phkResult); });
    Trace("RegOpenKeyExW", Decimal(result),
          {HandleArg(hKey), Text(lpSubKey), Hex(ulOptions), Hex(samDesired),
           result == ERROR_SUCCESS ? HandleArg(*phkResult) : Unwritten()});
    return result;
}

extern "C" LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                        LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    LONG result = Guarded<LONG>(ERROR_NOT_ENOUGH_MEMORY, [&] {
        return QueryValueImpl(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
    });
    bool written = result == ERROR_SUCCESS;
    /* A value found writes its type, even when its data does not fit. */
    bool typed = (written || result == ERROR_MORE_DATA) && lpType != nullptr;
    bool text = written && lpType != nullptr && lpData != nullptr &&
                (*lpType == REG_SZ || *lpType == REG_EXPAND_SZ);
    /* String data is shown up to its first NUL, within the bytes returned. */
    TraceValue data =
        text ? Text(reinterpret_cast<const char16_t *>(lpData), *lpcbData / 2) : Unwritten();
    Trace(
        "RegQueryValueExW", Decimal(result),
        {HandleArg(hKey), Text(lpValueName), HandleArg(lpReserved),
         typed ? Decimal(*lpType) : Unwritten(), data,
         lpcbData != nullptr && result != ERROR_INVALID_HANDLE ? Decimal(*lpcbData) : Unwritten()});
    return result;
}

extern "C" LONG WINAPI RegCloseKey(HKEY hKey)
{
    ClearFailureNote();
    LONG result = hKey == HKEY_LOCAL_MACHINE || CloseRegistrySlot(hKey) ? ERROR_SUCCESS
                                                                        : ERROR_INVALID_HANDLE;
    Trace("RegCloseKey", Decimal(result), {HandleArg(hKey)});
    return result;
}
