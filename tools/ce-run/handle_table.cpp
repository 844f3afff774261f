/*
 * handle_table.cpp - the program's 32-bit handles for host handles.
 */
#include "handle_table.h"

namespace cerun {

namespace {

/* Its address is the invalid host handle: no layer call returns it. */
char invalid_handle_target;

} // namespace

void *HandleTable::Invalid()
{
    return &invalid_handle_target;
}

uint32_t HandleTable::Add(HandleKind kind, void *host)
{
    for (size_t i = 0; i < kSlots; ++i) {
        if (!entries_[i].used) {
            entries_[i].used = true;
            entries_[i].kind = kind;
            entries_[i].host = host;
            return kFirstValue + static_cast<uint32_t>(4 * i);
        }
    }
    return 0;
}

void *HandleTable::Find(HandleKind kind, uint32_t guest) const
{
    if (guest < kFirstValue || (guest - kFirstValue) % 4 != 0 ||
        (guest - kFirstValue) / 4 >= kSlots) {
        return Invalid();
    }
    const Entry &entry = entries_[(guest - kFirstValue) / 4];
    return entry.used && entry.kind == kind ? entry.host : Invalid();
}

void HandleTable::Remove(uint32_t guest)
{
    if (guest >= kFirstValue && (guest - kFirstValue) % 4 == 0 &&
        (guest - kFirstValue) / 4 < kSlots) {
        entries_[(guest - kFirstValue) / 4] = Entry{};
    }
}

} // namespace cerun
