/* handles/ - the open handles: fixed tables of searches and registry keys. */
/*
 * slot_table.h - a fixed table of open objects named by handles.
 *
 * Open searches and open registry keys each live in one: at most N are open
 * at once, and the handle of slot i is the number Base + i, well clear of
 * NULL, INVALID_HANDLE_VALUE and the predefined keys.  A handle that names
 * no open slot finds nothing.
 */
#ifndef COREDLL_HOST_SLOT_TABLE_H
#define COREDLL_HOST_SLOT_TABLE_H

#include <cstddef>
#include <cstdint>

namespace coredll {

template <typename Item, size_t N, uintptr_t Base> class SlotTable {
  public:
    /* Claims a free slot (its item as the last Close left it); nullptr
     * when all are open. */
    Item *Open()
    {
        for (size_t i = 0; i < N; ++i) {
            if (!used_[i]) {
                used_[i] = true;
                return &items_[i];
            }
        }
        return nullptr;
    }

    /* The handle of the open slot `item`. */
    void *HandleOf(const Item *item) const
    {
        return reinterpret_cast<void *>(Base + static_cast<uintptr_t>(item - items_));
    }

    /* The open slot `handle` names, or nullptr. */
    Item *Find(const void *handle)
    {
        auto value = reinterpret_cast<uintptr_t>(handle);
        if (value < Base || value >= Base + N || !used_[value - Base]) {
            return nullptr;
        }
        return &items_[value - Base];
    }

    /* Frees the slot of `item`. */
    void Close(const Item *item)
    {
        used_[item - items_] = false;
    }

    /* Calls close(item) for every open slot and frees it. */
    template <typename Closer> void CloseAll(Closer close)
    {
        for (size_t i = 0; i < N; ++i) {
            if (used_[i]) {
                close(items_[i]);
                used_[i] = false;
            }
        }
    }

  private:
    Item items_[N] = {};
    bool used_[N] = {};
};

} // namespace coredll

#endif /* COREDLL_HOST_SLOT_TABLE_H */
