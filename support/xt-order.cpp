// A total order over every double bit pattern, NaNs last, and an in-place
// radix sort in that order.
#include "xt.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr uint64_t kSign = uint64_t{1} << 63;
// The classic flip makes the integer order follow the numeric order, but
// leaves negative NaNs below -inf; rotating by their count moves them up
// past the positive NaNs, to the very top.
constexpr uint64_t kNegativeNans = (uint64_t{1} << 52) - 1;

// Maps a double to an unsigned key whose integer order is the sort order:
// -inf .. -0, +0 .. +inf, then NaNs with the sign bit clear, then NaNs with it
// set.  The map is one-to-one, so equal keys mean identical bits.
inline uint64_t order_key(double x)
{
    const uint64_t b = std::bit_cast<uint64_t>(x);
    const uint64_t flipped = (b & kSign) ? ~b : (b | kSign);
    return flipped - kNegativeNans;
}

// The inverse of order_key.
inline double from_order_key(uint64_t k)
{
    const uint64_t flipped = k + kNegativeNans;
    return std::bit_cast<double>((flipped & kSign) ? (flipped & ~kSign)
                                                   : ~flipped);
}

// The sort works on the keys, stored over the doubles they replace; the
// array is only ever touched bytewise, so no object changes its type.
inline uint64_t key_at(const unsigned char *a, size_t i)
{
    uint64_t k;
    std::memcpy(&k, a + 8 * i, 8);
    return k;
}

inline void set_key(unsigned char *a, size_t i, uint64_t k)
{
    std::memcpy(a + 8 * i, &k, 8);
}

void insertion_sort(unsigned char *a, size_t n)
{
    for (size_t i = 1; i < n; ++i) {
        const uint64_t k = key_at(a, i);
        size_t j = i;
        for (; j > 0 && key_at(a, j - 1) > k; --j)
            set_key(a, j, key_at(a, j - 1));
        set_key(a, j, k);
    }
}

constexpr size_t kSmall = 48; // below this many keys, insertion sort

// Most significant digit first, one byte at a time, in place (American flag
// sort): count the bytes at shift, move every key into its bucket by
// following cycles, then sort each bucket by the next byte down.  Only
// stack space: a few counters per level, eight levels at most.
void radix_sort(unsigned char *a, size_t n, int shift)
{
    for (;;) {
        if (n < kSmall) {
            insertion_sort(a, n);
            return;
        }
        size_t count[256] = {};
        for (size_t i = 0; i < n; ++i)
            ++count[(key_at(a, i) >> shift) & 0xFF];
        // One bucket holding everything: this byte is the same in every key.
        const size_t first = (key_at(a, 0) >> shift) & 0xFF;
        if (count[first] == n) {
            if (shift == 0)
                return;
            shift -= 8;
            continue;
        }
        size_t head[256], tail[256];
        size_t at = 0;
        for (int b = 0; b < 256; ++b) {
            head[b] = at;
            at += count[b];
            tail[b] = at;
        }
        for (int b = 0; b < 256; ++b) {
            while (head[b] < tail[b]) {
                uint64_t k = key_at(a, head[b]);
                size_t d = (k >> shift) & 0xFF;
                // Carry k to its bucket, picking up what stood there, until
                // a key that belongs to bucket b turns up.
                while (d != static_cast<size_t>(b)) {
                    const size_t to = head[d]++;
                    const uint64_t displaced = key_at(a, to);
                    set_key(a, to, k);
                    k = displaced;
                    d = (k >> shift) & 0xFF;
                }
                set_key(a, head[b]++, k);
            }
        }
        if (shift == 0)
            return;
        size_t start = 0;
        for (int b = 0; b < 256; ++b) {
            if (count[b] > 1)
                radix_sort(a + 8 * start, count[b], shift - 8);
            start += count[b];
        }
        return;
    }
}

// Moves the values of v[lo, hi) whose keys pass keep to the front, in
// place, without a branch on the comparison (data in random order would
// mispredict half of them); returns where the others begin.
template <class Keep>
size_t partition(double *v, size_t lo, size_t hi, Keep keep)
{
    size_t store = lo;
    for (size_t i = lo; i < hi; ++i) {
        const double x = v[i];
        const bool k = keep(order_key(x));
        v[i] = v[store];
        v[store] = x;
        store += k;
    }
    return store;
}

// Multiple selection over v[lo, hi): puts the values of the wanted ranks
// (absolute indexes, ascending, each within [lo, hi)) in their sorted
// places, with nothing above a rank's value before it and nothing below
// after it.  Quickselect with a median-of-three pivot, each step splitting
// the range three ways (below, equal to, above the pivot) so that equal
// values cannot stall it; a range that recurses too deep is sorted
// instead, so the time stays O(n log n) at worst.
void select_ranks(double *v, size_t lo, size_t hi, const size_t *ranks,
                  size_t count, int depth)
{
    while (count != 0) {
        const size_t n = hi - lo;
        if (n < kSmall || depth-- == 0) {
            xt_double_sort(v + lo, n);
            return;
        }
        const uint64_t a = order_key(v[lo]), b = order_key(v[lo + n / 2]),
                       c = order_key(v[hi - 1]);
        const uint64_t pivot = a < b ? (b < c ? b : (a < c ? c : a))
                                     : (a < c ? a : (b < c ? c : b));
        const size_t below =
            partition(v, lo, hi, [pivot](uint64_t k) { return k < pivot; });
        const size_t above = partition(
            v, below, hi, [pivot](uint64_t k) { return k == pivot; });
        // [lo, below) < pivot, [below, above) == pivot, [above, hi) > pivot.
        size_t left = 0;
        while (left < count && ranks[left] < below)
            ++left;
        size_t right = left;
        while (right < count && ranks[right] < above)
            ++right; // ranks among the pivot's copies are in place
        // The smaller side by recursion, the larger by the loop.
        if (below - lo <= hi - above) {
            select_ranks(v, lo, below, ranks, left, depth);
            lo = above;
            ranks += right;
            count -= right;
        } else {
            select_ranks(v, above, hi, ranks + right, count - right, depth);
            hi = below;
            count = left;
        }
    }
}

} // namespace

bool xt_double_less(double a, double b)
{
    return order_key(a) < order_key(b);
}

int xt_double_cmp(const void *a, const void *b)
{
    const uint64_t ka = order_key(*static_cast<const double *>(a));
    const uint64_t kb = order_key(*static_cast<const double *>(b));
    return (ka > kb) - (ka < kb);
}

void xt_double_sort(double *values, size_t count)
{
    unsigned char *a = reinterpret_cast<unsigned char *>(values);
    for (size_t i = 0; i < count; ++i)
        set_key(a, i, order_key(values[i]));
    radix_sort(a, count, 56);
    for (size_t i = 0; i < count; ++i)
        values[i] = from_order_key(key_at(a, i));
}

namespace {

// Selection by buckets of keys first: one pass finds the keys' range, one
// counts the values in each of 65,536 equal slices of it, and where the
// slices that hold a wanted rank hold too many values (data packed in a
// few slices of a wide range), one more counts those slices' values in
// 4,096 finer slices each.  A last pass copies out only the values of the
// slices that hold a wanted rank, and those small sets are selected in
// turn.  Streaming passes without data-dependent branches cost far less
// than partitioning the whole array; data that stays concentrated goes to
// the in-place selection instead.  False when it did not run.
bool select_by_buckets(const double *v, size_t n, const size_t *ranks,
                       size_t nranks, double *out)
{
    constexpr size_t kBuckets = size_t{1} << 16;
    constexpr int kFineBits = 12;
    constexpr size_t kFine = size_t{1} << kFineBits;
    constexpr uint32_t kNone = UINT32_MAX;
    uint64_t low = UINT64_MAX, high = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint64_t k = order_key(v[i]);
        low = k < low ? k : low;
        high = k > high ? k : high;
    }
    // The fewest bits that leave at most kBuckets slices of the range.
    const uint64_t span = high - low;
    const int shift = span >> 16 == 0 ? 0 : 64 - __builtin_clzll(span >> 16);
    const int fine_shift = shift > kFineBits ? shift - kFineBits : 0;
    const uint64_t in_slice = shift == 0 ? 0 : (uint64_t{1} << shift) - 1;
    const auto bucket_of = [low, shift](uint64_t k) { return (k - low) >> shift; };
    const auto fine_of = [low, in_slice, fine_shift](uint64_t k) {
        return ((k - low) & in_slice) >> fine_shift;
    };
    // Counts (and later places) by slice, from xt_malloc so that running
    // out of memory reaches the caller as everywhere else.
    using table_t = std::unique_ptr<uint32_t, decltype(&std::free)>;
    const auto table = [](size_t size, uint32_t fill) {
        table_t t(static_cast<uint32_t *>(xt_malloc(size, sizeof(uint32_t))),
                  std::free);
        std::fill(t.get(), t.get() + size, fill);
        return t;
    };
    table_t count = table(kBuckets, 0);
    for (size_t i = 0; i < n; ++i)
        ++count.get()[bucket_of(order_key(v[i]))];
    // Each rank's slice (bucket[r], an index into the counts) and where
    // its slice starts in the sorted order (first[r]), found in counts from
    // the slice base(r) on with below(r) values before it; returns the
    // values of the distinct wanted slices.
    size_t bucket[64], first[64];
    const auto place = [&](const uint32_t *counts, auto base, auto below) {
        size_t wanted = 0;
        for (size_t r = 0; r < nranks; ++r) {
            size_t b = base(r), before = below(r);
            while (before + counts[b] <= ranks[r])
                before += counts[b++];
            bucket[r] = b;
            first[r] = before;
            if (r == 0 || bucket[r - 1] != b)
                wanted += counts[b];
        }
        return wanted;
    };
    const auto zero = [](size_t) { return size_t{0}; };
    size_t wanted = place(count.get(), zero, zero);
    // The finer slices: table t of fine holds the counts of the t-th
    // distinct wanted slice, and fine_table maps a slice to its table.
    // fine_of_key is a value's index into the finer counts (kNoSlice: in
    // no wanted slice).
    constexpr size_t kNoSlice = SIZE_MAX;
    table_t fine(nullptr, std::free), fine_table(nullptr, std::free);
    const auto fine_of_key = [&](uint64_t k) -> size_t {
        const uint32_t t = fine_table.get()[bucket_of(k)];
        return t == kNone ? kNoSlice : size_t{t} * kFine + fine_of(k);
    };
    size_t slices = kBuckets;
    uint32_t *counts = count.get();
    if (wanted > n / 8 && shift != 0) {
        fine_table = table(kBuckets, kNone);
        uint32_t tables = 0;
        for (size_t r = 0; r < nranks; ++r)
            if (fine_table.get()[bucket[r]] == kNone)
                fine_table.get()[bucket[r]] = tables++;
        slices = size_t{tables} * kFine;
        fine = table(slices, 0);
        counts = fine.get();
        for (size_t i = 0; i < n; ++i)
            if (const size_t j = fine_of_key(order_key(v[i])); j != kNoSlice)
                ++counts[j];
        wanted = place(
            counts, [&](size_t r) { return fine_table.get()[bucket[r]] * kFine; },
            [&](size_t r) { return first[r]; });
    }
    if (wanted > n / 8)
        return false;
    // The wanted slices' values, each slice in a part of its own; the
    // counts become each slice's next free place (kNone: not wanted).
    double *kept = static_cast<double *>(xt_malloc(wanted, sizeof(double)));
    size_t start[64];
    size_t at = 0;
    for (size_t r = 0; r < nranks; ++r) {
        if (r != 0 && bucket[r - 1] == bucket[r]) {
            start[r] = start[r - 1];
            continue;
        }
        start[r] = at;
        at += counts[bucket[r]];
    }
    std::fill(counts, counts + slices, kNone);
    for (size_t r = 0; r < nranks; ++r)
        counts[bucket[r]] = static_cast<uint32_t>(start[r]);
    // The copy pass, with the slice lookup of the counts in use chosen once.
    const auto copy_out = [&](auto slice_of) {
        for (size_t i = 0; i < n; ++i)
            if (const size_t j = slice_of(order_key(v[i])); j != kNoSlice)
                if (counts[j] != kNone)
                    kept[counts[j]++] = v[i];
    };
    if (fine != nullptr)
        copy_out(fine_of_key);
    else
        copy_out([&](uint64_t k) -> size_t { return bucket_of(k); });
    // Each wanted slice's ranks, relative to its part, selected there.
    for (size_t r = 0; r < nranks;) {
        size_t e = r;
        size_t local[64];
        while (e < nranks && bucket[e] == bucket[r]) {
            local[e - r] = start[r] + (ranks[e] - first[e]);
            ++e;
        }
        const size_t size = e < nranks ? start[e] - start[r] : at - start[r];
        int depth = 2;
        for (size_t m = size; m > 1; m >>= 1)
            depth += 2;
        select_ranks(kept, start[r], start[r] + size, local, e - r, depth);
        for (size_t k = r; k < e; ++k)
            out[k] = kept[local[k - r]];
        r = e;
    }
    std::free(kept);
    return true;
}

} // namespace

void xt_double_select(double *values, size_t count, const size_t *ranks,
                      size_t nranks, double *out)
{
    if (count >= (size_t{1} << 16) && count < UINT32_MAX && nranks <= 64 &&
        select_by_buckets(values, count, ranks, nranks, out))
        return;
    int depth = 2;
    for (size_t n = count; n > 1; n >>= 1)
        depth += 2;
    select_ranks(values, 0, count, ranks, nranks, depth);
    for (size_t r = 0; r < nranks; ++r)
        out[r] = values[ranks[r]];
}
