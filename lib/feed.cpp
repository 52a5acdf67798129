// The feeders, one per kind of record, built with and without FMA.
#include "feed.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include <sys/mman.h>

#include "error-free.h"
#include "xt.h"

namespace {

using error_free::add_first;
using error_free::square_error;
using error_free::sum_error;

// The temporary file keeps each value's exact bits, so the listing computes
// from the value that was read, not from a rounded copy.
inline void keep_value(FILE *f, double x)
{
    if (f == nullptr)
        return; // the report notices the missing values
#if defined(__GLIBC__)
    fwrite_unlocked(&x, sizeof x, 1, f);
#else
    std::fwrite(&x, sizeof x, 1, f);
#endif
}

// Every 4 MiB of a value array, the pages of the next 4 MiB (or of what
// is left of the array) are faulted in with one call, where page faults
// taken one store at a time are dear (a virtual machine's cost about as
// much as reading the values).  Only advice: refused, nothing changes.
constexpr uint64_t kPrefaultValues = uint64_t{1} << 19;

[[gnu::noinline, gnu::cold]] void prefault(double *from, uint64_t room)
{
#if defined(MADV_POPULATE_WRITE)
    constexpr uintptr_t kPage = 4096;
    const uint64_t values = room < kPrefaultValues ? room : kPrefaultValues;
    const uintptr_t start =
        (reinterpret_cast<uintptr_t>(from) + kPage - 1) & ~(kPage - 1);
    const uintptr_t end =
        reinterpret_cast<uintptr_t>(from + values) & ~(kPage - 1);
    if (end > start)
        madvise(reinterpret_cast<void *>(start), end - start,
                MADV_POPULATE_WRITE);
#else
    static_cast<void>(from);
    static_cast<void>(room);
#endif
}

// The lowest and highest value so far in the sorted order (NaN last).  Most
// values fall strictly between the two and cost two plain comparisons.
inline void track_extremes(tallyf_t *tf, double x)
{
    if (tf->num_count == 0) {
        tf->low = tf->high = x;
        return;
    }
    if (!(x > tf->low) && xt_double_less(x, tf->low))
        tf->low = x;
    if (!(x < tf->high) && xt_double_less(tf->high, x))
        tf->high = x;
}

// The exact sum of the values alone needs no shift (shift stays 0): the
// plain sum is the high part of the exact sum, and only the rounding errors
// of its additions are collected beside it.
template <bool Fma>
[[gnu::always_inline]] inline void add_sum(tallyf_t *tf, double x)
{
    const double old_sum = tf->sum;
    tf->sum = add_first<Fma>(old_sum, x);
    tf->sum_d_lo += sum_error(old_sum, x, tf->sum);
    tf->sum_d = tf->sum;
}

// The plain sums of the variance family, then the exact sums of the
// deviations from the first value and of their squares.
template <bool Fma>
[[gnu::always_inline]] inline void add_squares(tallyf_t *tf, double x)
{
    tf->sum = add_first<Fma>(tf->sum, x);
    tf->sum_x = add_first<Fma>(x, tf->sum_x);
    const double square = x * x; // rounded before the addition: no FMA
    tf->sum_x_2 = add_first<Fma>(square, tf->sum_x_2);

    // The deviation from the first value, d + d_error exactly.  Since the
    // first value is one of the data, the sum of the squared deviations is
    // at most n + 1 times the sum of squares about the mean: the
    // cancellation left for the end is bounded whatever the offset.
    if (tf->shift_count == 0)
        tf->shift = x;
    const double d = x - tf->shift;
    const double d_error = sum_error(x, -tf->shift, d);
    // Sums in the manner of Ogita, Rump and Oishi's Sum2: the high part adds
    // plainly, the low part collects every rounding error.
    const double s = tf->sum_d + d;
    tf->sum_d_lo += sum_error(tf->sum_d, d, s) + d_error;
    tf->sum_d = s;
    // (d + d_error)^2, leaving out d_error^2 (below 2^-106 of d^2).
    const double p = d * d;
    double p_error;
    if constexpr (Fma)
        p_error = __builtin_fma(d, d, -p);
    else
        p_error = square_error(d, p);
    p_error += 2 * d * d_error;
    const double q = tf->sum_d_2 + p;
    tf->sum_d_2_lo += sum_error(tf->sum_d_2, p, q) + p_error;
    tf->sum_d_2 = q;
}

[[gnu::always_inline]] inline void count(tallyf_t *tf)
{
    ++tf->shift_count;
    ++tf->num_count;
}

template <bool Fma>
[[gnu::always_inline]] inline void feed_sum(tallyf_t *tf, double x)
{
    add_sum<Fma>(tf, x);
    count(tf);
}

template <bool Fma>
[[gnu::always_inline]] inline void feed_squares(tallyf_t *tf, double x)
{
    add_squares<Fma>(tf, x);
    count(tf);
}

template <bool Fma>
[[gnu::always_inline]] inline void feed_squares_listed(tallyf_t *tf, double x)
{
    keep_value(tf->tmp_file, x);
    add_squares<Fma>(tf, x);
    count(tf);
}

template <bool Fma>
[[gnu::always_inline]] inline void feed_squares_bounds(tallyf_t *tf, double x)
{
    track_extremes(tf, x); // for the check of the counts
    add_squares<Fma>(tf, x);
    count(tf);
}

template <bool Fma>
[[gnu::always_inline]] inline void feed_bounds(tallyf_t *tf, double x)
{
    add_sum<Fma>(tf, x);
    track_extremes(tf, x);
    count(tf);
}

template <bool Fma>
[[gnu::always_inline]] inline void feed_values(tallyf_t *tf, double x)
{
    add_sum<Fma>(tf, x);
    if (tf->num_count == tf->array_size) {
        tf->array_size = 2 * tf->num_count;
        tf->nums = static_cast<double *>(
            xt_realloc(tf->nums, tf->array_size, sizeof(double)));
    }
    if ((tf->num_count & (kPrefaultValues - 1)) == 0)
        prefault(tf->nums + tf->num_count, tf->array_size - tf->num_count);
    tf->nums[tf->num_count] = x;
    count(tf);
}

// Both builds of every feeder, in the order of tally_feed_t.
#define TALLY_FEEDERS(ATTR, FMA, TABLE)                                      \
    ATTR void TABLE##_sum(tallyf_t *tf, double x) { feed_sum<FMA>(tf, x); }   \
    ATTR void TABLE##_squares(tallyf_t *tf, double x)                        \
    {                                                                        \
        feed_squares<FMA>(tf, x);                                            \
    }                                                                        \
    ATTR void TABLE##_listed(tallyf_t *tf, double x)                         \
    {                                                                        \
        feed_squares_listed<FMA>(tf, x);                                     \
    }                                                                        \
    ATTR void TABLE##_sq_bounds(tallyf_t *tf, double x)                      \
    {                                                                        \
        feed_squares_bounds<FMA>(tf, x);                                     \
    }                                                                        \
    ATTR void TABLE##_bounds(tallyf_t *tf, double x)                         \
    {                                                                        \
        feed_bounds<FMA>(tf, x);                                             \
    }                                                                        \
    ATTR void TABLE##_values(tallyf_t *tf, double x)                         \
    {                                                                        \
        feed_values<FMA>(tf, x);                                             \
    }                                                                        \
    const tally_feeder_t TABLE[TALLY_FEED_KINDS] = {                         \
        TABLE##_sum,    TABLE##_squares, TABLE##_listed,                     \
        TABLE##_sq_bounds, TABLE##_bounds, TABLE##_values,                   \
        TABLE##_sum,    TABLE##_sum};

TALLY_FEEDERS(, false, plain)

// -DTALLYF_NO_FMA_DISPATCH builds the plain feeders alone, so that their
// sums can be tested on any machine; so do sanitizer builds.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(TALLYF_NO_FMA_DISPATCH)
TALLY_FEEDERS([[gnu::target("fma")]], true, fused)

const tally_feeder_t *choose_feeders()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma") ? fused : plain;
}
#else
const tally_feeder_t *choose_feeders()
{
    return plain;
}
#endif

} // namespace

const tally_feeder_t *tally_feeders()
{
    static const tally_feeder_t *const chosen = choose_feeders();
    return chosen;
}

void tally_feed_pair(tallyf_t *tf, tally_feed_t kind, const double *x,
                     const double *y)
{
    using error_free::add_first;
    if (kind == tally_feed_t::pairs) {
        if (x == nullptr || y == nullptr)
            return;
        tallyf_sums2_add(&tf->pairs, *x, *y);
        tf->sum_x_y = add_first(*x * *y, tf->sum_x_y);
    } else {
        if (y != nullptr)
            tallyf_sums1_add(&tf->pairs.y, *y);
        if (x == nullptr)
            return;
        tallyf_sums1_add(&tf->pairs.x, *x);
    }
    if (y != nullptr) {
        tf->sum_y = add_first(*y, tf->sum_y);
        tf->sum_y_2 = add_first(*y * *y, tf->sum_y_2);
    }
    tf->sum = add_first(tf->sum, *x);
    tf->sum_x = add_first(*x, tf->sum_x);
    tf->sum_x_2 = add_first(*x * *x, tf->sum_x_2);
    ++tf->num_count;
}
