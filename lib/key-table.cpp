// The key table.
#include "key-table.h"

uint64_t tally_key_detail::hash_long(const char *p, size_t len)
{
    uint64_t h = K1 ^ (len * K3);
    const char *end = p + len;
    while (end - p > 16) {
        h = mix(load64(p) ^ K1, load64(p + 8) ^ h);
        p += 16;
    }
    // The last 16 bytes, overlapping what came before.
    return mix(load64(end - 16) ^ K2, load64(end - 8) ^ h);
}

tally_key_table_t::tally_key_table_t() : slots_(64, 0), mask_(63) {}

uint32_t tally_key_table_t::add(const char *key, size_t len, uint64_t a,
                                uint64_t b, uint64_t hash, uint64_t slot)
{
    const uint32_t g = static_cast<uint32_t>(entries_.size());
    entries_.push_back({a, b, bytes_.size(), len});
    bytes_.insert(bytes_.end(), key, key + len);
    slots_[slot] = (hash >> 32) << 32 | (uint64_t{g} + 1);
    if (entries_.size() * 8 > slots_.size() * 3) // at most 3/8 full
        grow();
    return g;
}

void tally_key_table_t::grow()
{
    std::vector<uint64_t> slots(slots_.size() * 2, 0);
    const uint64_t mask = slots.size() - 1;
    for (uint32_t g = 0; g < entries_.size(); ++g) {
        const uint64_t h = tally_hash_bytes(bytes_.data() + entries_[g].offset,
                                            entries_[g].len);
        uint64_t i = h & mask;
        while (slots[i] != 0)
            i = (i + 1) & mask;
        slots[i] = (h >> 32) << 32 | (uint64_t{g} + 1);
    }
    slots_.swap(slots);
    mask_ = mask;
}
