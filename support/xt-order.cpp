// A total order over every double bit pattern, NaNs last, and an in-place
// radix sort in that order.
#include "xt.h"

#include <bit>
#include <cstdint>
#include <cstring>

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

// Multiple selection over v[lo, hi): puts the values of the wanted ranks
// (absolute indexes, ascending, each within [lo, hi)) in their sorted
// places, with nothing above a rank's value before it and nothing below
// after it.  Quickselect with a median-of-three pivot and Hoare's partition,
// on keys computed as the values are compared; a range that recurses too
// deep is sorted instead, so the time stays O(n log n) at worst.
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
        size_t i = lo, j = hi - 1;
        for (;;) {
            while (order_key(v[i]) < pivot)
                ++i;
            while (order_key(v[j]) > pivot)
                --j;
            if (i >= j)
                break;
            const double t = v[i];
            v[i++] = v[j];
            v[j--] = t;
        }
        // [lo, j] holds no key above the pivot, [j + 1, hi) none below.
        const size_t split = j + 1;
        size_t left = 0;
        while (left < count && ranks[left] < split)
            ++left;
        // The smaller side by recursion, the larger by the loop.
        if (split - lo <= hi - split) {
            select_ranks(v, lo, split, ranks, left, depth);
            lo = split;
            ranks += left;
            count -= left;
        } else {
            select_ranks(v, split, hi, ranks + left, count - left, depth);
            hi = split;
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

void xt_double_select(double *values, size_t count, const size_t *ranks,
                      size_t nranks)
{
    int depth = 2;
    for (size_t n = count; n > 1; n >>= 1)
        depth += 2;
    select_ranks(values, 0, count, ranks, nranks, depth);
}
