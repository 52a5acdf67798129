// welch-t --split KEY: the values of the key column in the order they first
// appear (the first names the first sample, the second the second), kept
// per record for the whole run, whatever the groups; the values of a third
// or later key are fed to no sample, and the run is refused when it ends.
// Internal to the library.
#ifndef NUMTALLY_LIB_SPLIT_KEYS_H
#define NUMTALLY_LIB_SPLIT_KEYS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tally-error.h"

struct tally_split_keys_t {
    static constexpr int kKept = 5; // the keys a refusal lists
    std::string keys[kKept];
    int count = 0;      // keys kept
    bool more = false;  // a key beyond the kept ones

    // The sample of the key k (0 or 1), or 2 for a third or later key.
    int lane(const char *k, size_t len)
    {
        for (int i = 0; i < count; ++i)
            if (keys[i].size() == len && std::memcmp(keys[i].data(), k, len) == 0)
                return i < 2 ? i : 2;
        return add(k, len);
    }

    // Adds the keys a pass over a later part of the input met, after these;
    // true where that part's samples stand the other way round (its first
    // key is this run's second, or its second this run's first).
    bool merge(const tally_split_keys_t &from)
    {
        int lanes[2] = {0, 1};
        for (int j = 0; j < from.count; ++j) {
            const int l = lane(from.keys[j].data(), from.keys[j].size());
            if (j < 2)
                lanes[j] = l;
        }
        more |= from.more;
        return (from.count > 0 && lanes[0] == 1) ||
               (from.count > 1 && lanes[1] == 0);
    }

    // Two keys, or a refusal (65) that lists those found.
    bool check(const char *column, tally_error_t *err) const;

private:
    // A key not met before (kept out of the pass's line).
    [[gnu::noinline, gnu::cold]] int add(const char *k, size_t len);
};

// The refusal of a line with a value for welch-t --split but no key (65).
[[gnu::cold, gnu::noinline]] bool tally_missing_split_key(uint64_t row, uint32_t col,
                                                     tally_error_t *err);

#endif
