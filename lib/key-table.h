// Distinct keys in first-appearance order: each key (any bytes, any length)
// gets the next group number the first time it is seen.  Hashing with open
// addressing; memory grows with the keys' bytes and a few dozen bytes per
// key, and no operation is worse than linear in the keys' total length.
// The hash is keyed by random words that each table draws from the system
// when it is made: no input, however it was made, can send its keys to a
// few slots (which would make grouping quadratic) except by chance.
#ifndef NUMTALLY_LIB_KEY_TABLE_H
#define NUMTALLY_LIB_KEY_TABLE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tally_key_detail {

__extension__ typedef unsigned __int128 u128;

// Spreads a key's length over the word (an odd constant).
inline constexpr uint64_t LEN_SPREAD = 0x94d049bb133111ebull;

// The words that key a table's hash: random, one set per table.
struct hash_key_t {
    uint64_t k0, k1, k2;
};

// Draws a hash key from the system (getrandom, else the random bytes the
// kernel gave the process at its start, stirred with the clock).
hash_key_t random_hash_key();

// The full 128-bit product of a and b, folded to 64 bits.
inline uint64_t mix(uint64_t a, uint64_t b)
{
    const u128 r = static_cast<u128>(a) * b;
    return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

inline uint64_t load64(const char *p)
{
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

inline uint64_t load32(const char *p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

// Two words that together hold every byte of a key of at most 16 bytes
// (overlapping where it is shorter), read without touching a byte past it.
inline void short_words(const char *p, size_t len, uint64_t *a, uint64_t *b)
{
    if (len >= 8) {
        *a = load64(p);
        *b = load64(p + len - 8);
    } else if (len >= 4) {
        *a = load32(p);
        *b = load32(p + len - 4);
    } else if (len > 0) {
        const auto u = [p](size_t i) {
            return static_cast<uint64_t>(static_cast<unsigned char>(p[i]));
        };
        *a = u(0) << 16 | u(len >> 1) << 8 | u(len - 1);
        *b = 0;
    } else {
        *a = *b = 0;
    }
}

// The last step of every hash: the two halves of the product of a and b
// multiplied in turn, with the key's length, so that each bit of the hash
// depends on every bit of both (one product alone leaves its low bits
// alike for words alike in their low bits).
inline uint64_t finish(const hash_key_t &k, uint64_t a, uint64_t b,
                       size_t len)
{
    const u128 r = static_cast<u128>(a) * b;
    return mix(static_cast<uint64_t>(r) ^ k.k2,
               static_cast<uint64_t>(r >> 64) ^ (len * LEN_SPREAD));
}

// The hash of a key of at most 16 bytes, from its two words (short_words):
// every byte of it is in one of them.
inline uint64_t hash_short(const hash_key_t &k, uint64_t a, uint64_t b,
                           size_t len)
{
    return finish(k, a ^ k.k0, b ^ k.k1, len);
}

// The hash of a key of more than 16 bytes: sixteen of them a step, each
// step's product carried into the next, the last sixteen through finish.
uint64_t hash_long(const hash_key_t &k, const char *p, size_t len);

} // namespace tally_key_detail

class tally_key_table_t {
public:
    tally_key_table_t();

    // The group of the key's bytes: the existing one, or the next number
    // (then *added is true).
    uint32_t find_or_add(const char *key, size_t len, bool *added)
    {
        using namespace tally_key_detail;
        // A short key is told apart by its two words alone, so that finding
        // it reads the slot and the entry and no key bytes.
        uint64_t a = 0, b = 0, h;
        if (len <= 16) {
            short_words(key, len, &a, &b);
            h = hash_short(hash_key_, a, b, len);
        } else {
            h = hash_long(hash_key_, key, len);
        }
        const uint64_t tag = h >> 32;
        uint64_t i = h & mask_;
        for (;;) {
            const uint64_t s = slots_[i];
            if (s == 0)
                break;
            if (s >> 32 == tag) {
                const uint32_t g = static_cast<uint32_t>(s) - 1;
                const entry_t &e = entries_[g];
                if (((e.a ^ a) | (e.b ^ b) | (e.len ^ len)) == 0 &&
                    (len <= 16 ||
                     std::memcmp(bytes_.data() + e.offset, key, len) == 0)) {
                    *added = false;
                    return g;
                }
            }
            i = (i + 1) & mask_;
        }
        *added = true;
        return add(key, len, a, b, h, i);
    }

    // Number of distinct keys so far.
    uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }

    // The bytes of group g's key.
    std::string_view key(uint32_t g) const
    {
        const entry_t &e = entries_[g];
        return {bytes_.data() + e.offset, e.len};
    }

private:
    // 32 bytes, so that an entry never straddles two cache lines.
    struct alignas(32) entry_t {
        uint64_t a, b;      // a key of at most 16 bytes: its two words; else 0
        uint64_t offset;    // in bytes_
        uint64_t len;
    };
    uint32_t add(const char *key, size_t len, uint64_t a, uint64_t b,
                 uint64_t hash, uint64_t slot);
    void grow();

    std::vector<char> bytes_;       // every key, one after the other
    std::vector<entry_t> entries_;  // by group
    // The high half of a key's hash, then its group + 1; 0: an empty slot.
    std::vector<uint64_t> slots_;
    uint64_t mask_;                 // slots_.size() - 1 (a power of two)
    tally_key_detail::hash_key_t hash_key_; // this table's, drawn at its start
};

// A group's key of several key fields: each field as its length (4 bytes,
// the machine's order) and then its bytes; a key of one field is the field
// itself.  Appends one field of a key of several to key.
inline void tally_key_append_field(std::string *key, std::string_view field)
{
    const uint32_t len = static_cast<uint32_t>(field.size());
    key->append(reinterpret_cast<const char *>(&len), sizeof len);
    key->append(field);
}

// Calls each(field) for every field of a key of nkeys fields.
template <class Each>
void tally_each_key_field(std::string_view key, int nkeys, Each each)
{
    if (nkeys == 1) {
        each(key);
        return;
    }
    size_t at = 0;
    for (int s = 0; s < nkeys; ++s) {
        uint32_t len;
        std::memcpy(&len, key.data() + at, sizeof len);
        at += sizeof len;
        each(key.substr(at, len));
        at += len;
    }
}

#endif
