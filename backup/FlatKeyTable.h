// Open-addressing hash tables for the backup step: triangle keys seen while selecting, and the
// parity of mesh edges. Entries are never removed, so no tombstones are needed; the table grows
// by doubling when it is half full. One flat allocation for any number of keys.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvUI {

// A key of up to three 32-bit values (an edge uses the first two).
struct TripleKey {
    std::uint32_t a = 0, b = 0, c = 0;
    bool operator==(const TripleKey& o) const { return a == o.a && b == o.b && c == o.c; }
};

inline std::uint64_t hashTriple(const TripleKey& k)
{
    // Three rounds of a 64-bit mix (splitmix64 finaliser) over the packed values.
    auto mix = [](std::uint64_t x) {
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return x;
    };
    return mix((std::uint64_t(k.a) << 32 | k.b) + mix(std::uint64_t(k.c) + 0x9e3779b97f4a7c15ULL));
}

// Maps keys to a small value (V), inserting on first use.
template <class V>
class FlatKeyTable {
public:
    explicit FlatKeyTable(std::size_t expected = 0) { rehash(capacityFor(expected)); }

    // The slot of key; inserted with value `init` when absent (*inserted tells which).
    V& findOrInsert(const TripleKey& key, const V& init, bool* inserted = nullptr)
    {
        if ((m_size + 1) * 2 > m_slots.size()) rehash(m_slots.size() * 2);
        std::size_t i = std::size_t(hashTriple(key)) & m_mask;
        while (m_slots[i].used) {
            if (m_slots[i].key == key) {
                if (inserted) *inserted = false;
                return m_slots[i].value;
            }
            i = (i + 1) & m_mask;
        }
        m_slots[i] = {key, init, true};
        ++m_size;
        if (inserted) *inserted = true;
        return m_slots[i].value;
    }
    const V* find(const TripleKey& key) const
    {
        std::size_t i = std::size_t(hashTriple(key)) & m_mask;
        while (m_slots[i].used) {
            if (m_slots[i].key == key) return &m_slots[i].value;
            i = (i + 1) & m_mask;
        }
        return nullptr;
    }
    bool contains(const TripleKey& key) const { return find(key) != nullptr; }
    std::size_t size() const { return m_size; }
    void clear()
    {
        for (Slot& slot : m_slots) slot.used = false;
        m_size = 0;
    }
    // fn(key, value) for every entry, in no particular order.
    template <class Fn>
    void forEach(Fn fn) const
    {
        for (const Slot& slot : m_slots)
            if (slot.used) fn(slot.key, slot.value);
    }

private:
    // The key, its value and whether the slot is taken, in one place: one cache line a probe.
    struct Slot {
        TripleKey key;
        V value;
        bool used;
    };
    static std::size_t capacityFor(std::size_t expected)
    {
        std::size_t c = 16;
        while (c < expected * 2) c *= 2;
        return c;
    }
    void rehash(std::size_t capacity)
    {
        std::vector<Slot> table(capacity, Slot{TripleKey{}, V{}, false});
        const std::size_t mask = capacity - 1;
        for (const Slot& slot : m_slots) {
            if (!slot.used) continue;
            std::size_t j = std::size_t(hashTriple(slot.key)) & mask;
            while (table[j].used) j = (j + 1) & mask;
            table[j] = slot;
        }
        m_slots.swap(table);
        m_mask = mask;
    }

    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::size_t m_size = 0;
};

}  // namespace orvUI
