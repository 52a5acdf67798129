// The key table.
#include "key-table.h"

#include <cerrno>
#include <ctime>

#if defined(__linux__)
#include <sys/auxv.h>
#include <sys/random.h>
#endif

tally_key_detail::hash_key_t tally_key_detail::random_hash_key()
{
    uint64_t w[3] = {};
    size_t got = 0;
#if defined(__linux__)
    while (got < sizeof w) {
        const ssize_t n = getrandom(reinterpret_cast<char *>(w) + got,
                                    sizeof w - got, GRND_NONBLOCK);
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            break;
    }
#endif
    if (got < sizeof w) {
        // No entropy to be had yet (early at boot, or an old kernel): the
        // kernel's random bytes of the process start, the clock and an
        // address, stirred (splitmix64) into the three words.
        uint64_t seed[2] = {};
#if defined(__linux__)
        if (const auto *at = reinterpret_cast<const unsigned char *>(
                getauxval(AT_RANDOM)))
            std::memcpy(seed, at, sizeof seed);
#endif
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t x = seed[0] ^ static_cast<uint64_t>(now.tv_nsec) ^
                     (static_cast<uint64_t>(now.tv_sec) << 32) ^
                     reinterpret_cast<uintptr_t>(&now);
        for (uint64_t &word : w) {
            x += 0x9e3779b97f4a7c15ull ^ seed[1];
            uint64_t z = x;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
            word ^= z ^ (z >> 31);
        }
    }
    // Equal first words would let a key and its halves swapped collide.
    if (w[0] == w[1])
        w[1] = ~w[0];
    return {w[0], w[1], w[2]};
}

uint64_t tally_key_detail::hash_long(const hash_key_t &k, const char *p,
                                     size_t len)
{
    uint64_t h = k.k2;
    const char *end = p + len;
    while (end - p > 16) {
        h = mix(load64(p) ^ k.k0, load64(p + 8) ^ h);
        p += 16;
    }
    // The last 16 bytes, overlapping what came before.
    return finish(k, load64(end - 16) ^ k.k0, load64(end - 8) ^ k.k1 ^ h, len);
}

tally_key_table_t::tally_key_table_t()
    : slots_(64, 0), mask_(63), hash_key_(tally_key_detail::random_hash_key())
{
}

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
    using namespace tally_key_detail;
    std::vector<uint64_t> slots(slots_.size() * 2, 0);
    const uint64_t mask = slots.size() - 1;
    for (uint32_t g = 0; g < entries_.size(); ++g) {
        // A short key's words are in its entry.
        const entry_t &e = entries_[g];
        const uint64_t h =
            e.len <= 16 ? hash_short(hash_key_, e.a, e.b, e.len)
                        : hash_long(hash_key_, bytes_.data() + e.offset, e.len);
        uint64_t i = h & mask;
        while (slots[i] != 0)
            i = (i + 1) & mask;
        slots[i] = (h >> 32) << 32 | (uint64_t{g} + 1);
    }
    slots_.swap(slots);
    mask_ = mask;
}
