// The key table.
#include "key-table.h"

#include <cstring>

namespace {

constexpr uint64_t K1 = 0x9e3779b97f4a7c15ull;
constexpr uint64_t K2 = 0xbf58476d1ce4e5b9ull;

inline uint64_t load64(const char *p)
{
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

__extension__ typedef unsigned __int128 u128;

// The full 128-bit product of a and b, folded to 64 bits.
inline uint64_t mix(uint64_t a, uint64_t b)
{
    const u128 r = static_cast<u128>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

} // namespace

uint64_t tally_hash_bytes(const char *p, size_t len)
{
    uint64_t h = K1 ^ (len * K2);
    while (len >= 16) {
        h = mix(load64(p) ^ K1, load64(p + 8) ^ h);
        p += 16;
        len -= 16;
    }
    if (len >= 8) {
        h = mix(load64(p) ^ K2, h ^ K1);
        p += 8;
        len -= 8;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, len);
    return mix(tail ^ K1, h ^ K2);
}

tally_key_table_t::tally_key_table_t() : slots_(64, 0), mask_(63) {}

void tally_key_table_t::grow()
{
    std::vector<uint32_t> slots(slots_.size() * 2, 0);
    const uint64_t mask = slots.size() - 1;
    for (uint32_t g = 0; g < entries_.size(); ++g) {
        uint64_t i = entries_[g].hash & mask;
        while (slots[i] != 0)
            i = (i + 1) & mask;
        slots[i] = g + 1;
    }
    slots_.swap(slots);
    mask_ = mask;
}

uint32_t tally_key_table_t::find_or_add(const char *key, size_t len,
                                        bool *added)
{
    const uint64_t h = tally_hash_bytes(key, len);
    uint64_t i = h & mask_;
    for (;;) {
        const uint32_t s = slots_[i];
        if (s == 0)
            break;
        const entry_t &e = entries_[s - 1];
        if (e.hash == h && e.len == len &&
            std::memcmp(bytes_.data() + e.offset, key, len) == 0) {
            *added = false;
            return s - 1;
        }
        i = (i + 1) & mask_;
    }
    const uint32_t g = static_cast<uint32_t>(entries_.size());
    entries_.push_back({h, bytes_.size(), len});
    bytes_.insert(bytes_.end(), key, key + len);
    slots_[i] = g + 1;
    if (entries_.size() * 2 > slots_.size())
        grow();
    *added = true;
    return g;
}
