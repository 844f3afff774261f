/*
 * directory_records.h - walking the records that getdents64 returns.
 *
 * A block from getdents64 is a run of variable-length linux_dirent64
 * records: inode (8 bytes), offset (8), record length (2), type (1), then
 * the NUL-terminated name.  DirectoryBlock reads them out by those named
 * offsets, never past the bytes the kernel filled.
 */
#ifndef COREDLL_HOST_DIRECTORY_RECORDS_H
#define COREDLL_HOST_DIRECTORY_RECORDS_H

#include <cstddef>
#include <cstring>

namespace coredll {

constexpr size_t kRecordLengthOffset = 16; /* unsigned short d_reclen */
constexpr size_t kRecordNameOffset = 19;   /* char d_name[] */

/* A block of records: `filled` bytes of `bytes`, read from `next` on. */
struct DirectoryBlock {
    const char *bytes = nullptr;
    size_t filled = 0;
    size_t next = 0;

    /* The next record's name (NUL-terminated inside the block), or nullptr
     * at the block's end or at a malformed record. */
    const char *NextName()
    {
        if (next + kRecordNameOffset >= filled) {
            return nullptr;
        }
        unsigned short length = 0;
        std::memcpy(&length, bytes + next + kRecordLengthOffset, sizeof(length));
        if (length <= kRecordNameOffset || length > filled - next ||
            std::memchr(bytes + next + kRecordNameOffset, '\0', length - kRecordNameOffset) ==
                nullptr) {
            return nullptr;
        }
        const char *name = bytes + next + kRecordNameOffset;
        next += length;
        return name;
    }
};

/* Whether `name` is "." or "..". */
inline bool IsDotEntry(const char *name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace coredll

#endif /* COREDLL_HOST_DIRECTORY_RECORDS_H */
