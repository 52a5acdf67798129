// Values kept in arrival order as chains of blocks cut from one arena, for
// runs that keep the values of many records at once (one per group): a
// record's values cost 8 bytes each plus at most one partly filled block,
// nothing is ever copied while values arrive, and the arena lies in huge
// pages where the system lends them, so that a million small arrays do not
// take a page fault each.
#ifndef NUMTALLY_LIB_VALUE_CHAIN_H
#define NUMTALLY_LIB_VALUE_CHAIN_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct tally_value_block_t;

// One record's values.  Zero-initialised: no values.
struct tally_value_chain_t {
    double *at;                  // the free room of the last block: [at, end)
    double *end;
    tally_value_block_t *first;  // the blocks, in order; null: none yet
    tally_value_block_t *last;
};

class tally_value_arena_t {
public:
    tally_value_arena_t() = default;
    tally_value_arena_t(const tally_value_arena_t &) = delete;
    tally_value_arena_t &operator=(const tally_value_arena_t &) = delete;
    ~tally_value_arena_t();

    // Appends x to the chain (its blocks come from this arena).
    [[gnu::always_inline]] void push(tally_value_chain_t *c, double x)
    {
        if (c->at == c->end)
            grow(c);
        *c->at++ = x;
    }

    // Copies the first count values of the chain, in order, to out; count
    // is at most the number pushed.
    static void gather(const tally_value_chain_t &c, uint64_t count,
                       double *out);

    // Gives back every block: every chain cut from the arena must be made
    // empty (zeroed) again before it takes values.
    void clear();

private:
    [[gnu::noinline]] void grow(tally_value_chain_t *c);
    void *take(size_t bytes);

    char *next_ = nullptr; // the free room of the newest chunk
    char *limit_ = nullptr;
    char *faulted_ = nullptr; // asked to be faulted in up to here
    std::vector<void *> chunks_;
};

#endif
