/*
 * find_calls.cpp - searches: FindFirstFileW, FindNextFileW, FindClose.
 *
 * The find record crosses in the device's layout (560 bytes): the
 * attributes, three FILETIMEs, the size's high and low words, dwOID at 36
 * and cFileName (MAX_PATH characters) at 40.  The program's record is read
 * first, so whatever the layer leaves alone keeps the program's bytes.
 */
#include "coredll.h"
#include "platform_functions.h"

#include <cstring>

namespace cerun {

namespace {

constexpr size_t kFindDataSize = 560;
constexpr size_t kFileNameOffset = 40;
constexpr size_t kObjectIdOffset = 36;
constexpr uint32_t kInvalidHandle = 0xFFFFFFFF;

uint32_t Word(const uint8_t *bytes)
{
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void PutWord(uint8_t *bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

/* The words of the record before cFileName, in the device's order. */
DWORD *RecordWords(WIN32_FIND_DATAW &record, size_t index)
{
    DWORD *words[] = {&record.dwFileAttributes,
                      &record.ftCreationTime.dwLowDateTime,
                      &record.ftCreationTime.dwHighDateTime,
                      &record.ftLastAccessTime.dwLowDateTime,
                      &record.ftLastAccessTime.dwHighDateTime,
                      &record.ftLastWriteTime.dwLowDateTime,
                      &record.ftLastWriteTime.dwHighDateTime,
                      &record.nFileSizeHigh,
                      &record.nFileSizeLow,
                      &record.dwOID};
    static_assert(sizeof(words) / sizeof(words[0]) * 4 == kFileNameOffset, "device layout");
    return words[index];
}

void FromDevice(const uint8_t (&bytes)[kFindDataSize], WIN32_FIND_DATAW &record)
{
    static_assert(kObjectIdOffset == kFileNameOffset - 4, "dwOID precedes cFileName");
    for (size_t i = 0; i < kFileNameOffset / 4; ++i) {
        *RecordWords(record, i) = Word(bytes + 4 * i);
    }
    for (size_t i = 0; i < MAX_PATH; ++i) {
        const uint8_t *unit = bytes + kFileNameOffset + 2 * i;
        record.cFileName[i] = static_cast<char16_t>(unit[0] | (unit[1] << 8));
    }
}

void ToDevice(WIN32_FIND_DATAW &record, uint8_t (&bytes)[kFindDataSize])
{
    for (size_t i = 0; i < kFileNameOffset / 4; ++i) {
        PutWord(bytes + 4 * i, *RecordWords(record, i));
    }
    for (size_t i = 0; i < MAX_PATH; ++i) {
        bytes[kFileNameOffset + 2 * i] = static_cast<uint8_t>(record.cFileName[i]);
        bytes[kFileNameOffset + 2 * i + 1] = static_cast<uint8_t>(record.cFileName[i] >> 8);
    }
}
static_assert(kFileNameOffset + size_t{2} * MAX_PATH == kFindDataSize, "device layout");

/* Reads the program's record at `address` (none when 0) into `record`. */
bool ReadRecord(PlatformCall &call, uint32_t address, WIN32_FIND_DATAW &record,
                LPWIN32_FIND_DATAW &pointer)
{
    pointer = nullptr;
    if (address == 0) {
        return true;
    }
    uint8_t bytes[kFindDataSize];
    if (!call.Memory().Read(address, bytes, sizeof(bytes))) {
        return false;
    }
    FromDevice(bytes, record);
    pointer = &record;
    return true;
}

bool WriteRecord(PlatformCall &call, uint32_t address, WIN32_FIND_DATAW &record)
{
    uint8_t bytes[kFindDataSize];
    ToDevice(record, bytes);
    return address == 0 || call.Memory().Write(address, bytes, sizeof(bytes));
}

} // namespace

bool CallFindFirstFileW(PlatformCall &call)
{
    uint32_t pattern_address = 0, record_address = 0;
    std::u16string pattern;
    const char16_t *pattern_pointer = nullptr;
    WIN32_FIND_DATAW record = {};
    LPWIN32_FIND_DATAW record_pointer = nullptr;
    if (!call.Argument(0, pattern_address) || !call.Argument(1, record_address) ||
        !StringArgument(call, pattern_address, pattern, pattern_pointer) ||
        !ReadRecord(call, record_address, record, record_pointer)) {
        return false;
    }
    HANDLE search = FindFirstFileW(pattern_pointer, record_pointer);
    if (search == INVALID_HANDLE_VALUE) {
        call.Return(kInvalidHandle);
        return true;
    }
    uint32_t handle = call.Handles().Add(HandleKind::Search, search);
    if (handle == 0) {
        FindClose(search);
        call.Return(kInvalidHandle);
        return true;
    }
    call.Return(handle);
    return WriteRecord(call, record_address, record);
}

bool CallFindNextFileW(PlatformCall &call)
{
    uint32_t handle = 0, record_address = 0;
    WIN32_FIND_DATAW record = {};
    LPWIN32_FIND_DATAW record_pointer = nullptr;
    if (!call.Argument(0, handle) || !call.Argument(1, record_address) ||
        !ReadRecord(call, record_address, record, record_pointer)) {
        return false;
    }
    BOOL found = FindNextFileW(call.Handles().Find(HandleKind::Search, handle), record_pointer);
    call.Return(static_cast<uint32_t>(found));
    return !found || WriteRecord(call, record_address, record);
}

bool CallFindClose(PlatformCall &call)
{
    uint32_t handle = 0;
    if (!call.Argument(0, handle)) {
        return false;
    }
    BOOL closed = FindClose(call.Handles().Find(HandleKind::Search, handle));
    if (closed) {
        call.Handles().Remove(handle);
    }
    call.Return(static_cast<uint32_t>(closed));
    return true;
}

} // namespace cerun
