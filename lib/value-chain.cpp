// Chains of value blocks in an arena of huge pages.
#include "value-chain.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "xt.h"
#include "xt-prefault.h"

struct tally_value_block_t {
    tally_value_block_t *next;
    uint64_t capacity; // values that follow the header
    double *values() { return reinterpret_cast<double *>(this + 1); }
};

namespace {

// A chain's first block holds 4 values, each next one twice as many as the
// one before, up to 1,024 (8 KiB): a group of two values costs 48 bytes, a
// large group at most 8 KiB of room it has not used.
constexpr uint64_t kFirstBlock = 4;
constexpr uint64_t kLargestBlock = 1024;

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kChunkBytes = 16 * kHugePage;
constexpr size_t kFaultAhead = 4 * kHugePage;

} // namespace

tally_value_arena_t::~tally_value_arena_t() { clear(); }

void tally_value_arena_t::clear()
{
    for (void *chunk : chunks_) {
        xt_prefault_forget(chunk, kChunkBytes);
        std::free(chunk);
    }
    chunks_.clear();
    next_ = limit_ = faulted_ = nullptr;
}

void *tally_value_arena_t::take(size_t bytes)
{
    if (static_cast<size_t>(limit_ - next_) < bytes) {
        void *chunk = std::aligned_alloc(kHugePage, kChunkBytes);
        if (chunk == nullptr)
            chunk = xt_malloc(kChunkBytes, 1); // or throws: no memory
#if defined(MADV_HUGEPAGE)
        madvise(chunk, kChunkBytes, MADV_HUGEPAGE); // advice only
#endif
        chunks_.push_back(chunk);
        next_ = static_cast<char *>(chunk);
        limit_ = next_ + kChunkBytes;
        // (The first chunk's first pages fault as they are written: a
        // small run never asks for the thread.)
        faulted_ = chunks_.size() == 1 ? next_ + kFaultAhead : next_;
    }
    // The pages of the next 8 MiB are faulted in ahead, on a second thread
    // where there is one, while the values fill those before them.
    if (faulted_ < limit_ &&
        faulted_ - next_ < static_cast<ptrdiff_t>(kFaultAhead / 2)) {
        const size_t ahead =
            std::min<size_t>(kFaultAhead, static_cast<size_t>(limit_ - next_));
        xt_prefault(next_, ahead);
        faulted_ = next_ + ahead;
    }
    void *p = next_;
    next_ += bytes;
    return p;
}

void tally_value_arena_t::grow(tally_value_chain_t *c)
{
    const uint64_t capacity =
        c->last == nullptr ? kFirstBlock
                           : std::min(2 * c->last->capacity, kLargestBlock);
    auto *b = static_cast<tally_value_block_t *>(
        take(sizeof(tally_value_block_t) + capacity * sizeof(double)));
    b->next = nullptr;
    b->capacity = capacity;
    if (c->last != nullptr)
        c->last->next = b;
    else
        c->first = b;
    c->last = b;
    c->at = b->values();
    c->end = c->at + capacity;
}

void tally_value_arena_t::gather(const tally_value_chain_t &c, uint64_t count,
                                 double *out)
{
    for (tally_value_block_t *b = c.first; b != nullptr && count != 0;
         b = b->next) {
        const uint64_t n = std::min(count, b->capacity);
        std::memcpy(out, b->values(), n * sizeof(double));
        out += n;
        count -= n;
    }
}
