#pragma once
// A hash table over integer keys by open addressing (linear probing), for walks over an
// index that must remember something per record number in a few bytes: a slot is the key
// and its value (nothing more for a set), and the table is kept between a quarter and half
// full. The one key that marks a free slot (every bit set) is kept beside the slots.
// No windows.h: the store's core and the native tests share it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

// The value of a table that is a set.
struct NoValue {};

template <typename Key, typename Value>
class KeyTable {
    static_assert(std::is_unsigned_v<Key>);

public:
    // The value of key, added value-initialised when missing; added tells whether it was.
    Value& Get(Key key, bool& added)
    {
        added = false;
        if (key == kFree) {
            added = !holdsFreeKey_;
            holdsFreeKey_ = true;
            return freeKeyValue_;
        }
        if ((used_ + 1) * 2 > slots_.size())
            Grow();
        Slot& slot = slots_[Probe(key)];
        if (slot.key == kFree) {
            slot = {key, Value{}};
            ++used_;
            added = true;
        }
        return slot.value;
    }
    // The value of key, or null.
    Value* Find(Key key)
    {
        if (key == kFree)
            return holdsFreeKey_ ? &freeKeyValue_ : nullptr;
        if (slots_.empty())
            return nullptr;
        Slot& slot = slots_[Probe(key)];
        return slot.key == key ? &slot.value : nullptr;
    }
    // Takes key out, when it is there.
    void Erase(Key key)
    {
        if (key == kFree) {
            holdsFreeKey_ = false;
            return;
        }
        if (slots_.empty() || slots_[Probe(key)].key != key)
            return;
        // Moves back every later entry of the run that the free slot would cut off from
        // its home slot.
        const size_t mask = slots_.size() - 1;
        size_t hole = Probe(key);
        for (size_t next = (hole + 1) & mask; slots_[next].key != kFree; next = (next + 1) & mask) {
            size_t home = Home(slots_[next].key);
            if (((next - home) & mask) >= ((next - hole) & mask)) {
                slots_[hole] = slots_[next];
                hole = next;
            }
        }
        slots_[hole].key = kFree;
        --used_;
    }
    // Calls visit(key, value) for every entry, in no particular order.
    template <typename Visit>
    void ForEach(Visit visit) const
    {
        for (const Slot& slot : slots_)
            if (slot.key != kFree)
                visit(slot.key, slot.value);
        if (holdsFreeKey_)
            visit(kFree, freeKeyValue_);
    }

private:
    static constexpr Key kFree = Key(~Key(0));
    struct Slot {
        Key key;
        [[no_unique_address]] Value value;
    };

    size_t Home(Key key) const { return size_t((uint64_t(key) * 0x9E3779B97F4A7C15ull) >> shift_) & (slots_.size() - 1); }
    // The slot that holds key, or the free one where it would go.
    size_t Probe(Key key) const
    {
        size_t mask = slots_.size() - 1;
        size_t i = Home(key);
        while (slots_[i].key != key && slots_[i].key != kFree)
            i = (i + 1) & mask;
        return i;
    }
    void Grow()
    {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.assign(std::max<size_t>(1024, old.size() * 2), Slot{kFree, Value{}});
        shift_ = 64;
        for (size_t size = slots_.size(); size > 1; size >>= 1)
            --shift_;
        for (const Slot& slot : old)
            if (slot.key != kFree)
                slots_[Probe(slot.key)] = slot;
    }

    std::vector<Slot> slots_;
    size_t used_ = 0;
    unsigned shift_ = 64;
    bool holdsFreeKey_ = false;
    Value freeKeyValue_{};
};
