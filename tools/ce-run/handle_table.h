/*
 * handle_table.h - the program's 32-bit handles for the layer's host handles.
 *
 * A search handle or registry key the layer returns is a host pointer; the
 * program gets a small 32-bit value naming a table entry instead, never the
 * pointer cut to 32 bits.  A value the table does not know (a stale, made-up
 * or wrong-kind handle) becomes a host handle the layer knows to be invalid,
 * so the layer's own error handling answers it.
 */
#ifndef CE_RUN_HANDLE_TABLE_H
#define CE_RUN_HANDLE_TABLE_H

#include <cstddef>
#include <cstdint>

namespace cerun {

enum class HandleKind { Search, Key };

class HandleTable {
  public:
    /* A new 32-bit value for `host`; 0 when the table is full. */
    uint32_t Add(HandleKind kind, void *host);
    /* The host handle `guest` names, or Invalid() when none of `kind`. */
    void *Find(HandleKind kind, uint32_t guest) const;
    /* Forgets `guest` (after the layer closed it). */
    void Remove(uint32_t guest);

    /* A host handle no layer call ever returned. */
    static void *Invalid();

  private:
    static constexpr size_t kSlots = 64;
    static constexpr uint32_t kFirstValue = 0x00C0FF00;

    struct Entry {
        bool used = false;
        HandleKind kind = HandleKind::Search;
        void *host = nullptr;
    };
    Entry entries_[kSlots];
};

} // namespace cerun

#endif /* CE_RUN_HANDLE_TABLE_H */
