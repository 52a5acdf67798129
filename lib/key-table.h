// Distinct keys in first-appearance order: each key (any bytes, any length)
// gets the next group number the first time it is seen.  Hashing with open
// addressing; memory grows with the keys' bytes and a few dozen bytes per
// key, and no operation is worse than linear in the keys' total length.
#ifndef NUMTALLY_LIB_KEY_TABLE_H
#define NUMTALLY_LIB_KEY_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class tally_key_table_t {
public:
    tally_key_table_t();

    // The group of the key's bytes: the existing one, or the next number
    // (then *added is true).
    uint32_t find_or_add(const char *key, size_t len, bool *added);

    // Number of distinct keys so far.
    uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }

    // The bytes of group g's key.
    std::string_view key(uint32_t g) const
    {
        const entry_t &e = entries_[g];
        return {bytes_.data() + e.offset, e.len};
    }

private:
    struct entry_t {
        uint64_t hash;
        uint64_t offset;    // in bytes_
        size_t len;
    };
    void grow();

    std::vector<char> bytes_;       // every key, one after the other
    std::vector<entry_t> entries_;  // by group
    std::vector<uint32_t> slots_;   // group + 1, 0 for an empty slot
    uint64_t mask_;                 // slots_.size() - 1 (a power of two)
};

// A 64-bit hash of len bytes at p.
uint64_t tally_hash_bytes(const char *p, size_t len);

#endif
