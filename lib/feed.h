// Feeding values to records: one feeder per kind of record (what it keeps,
// lib/functions.h), each with the exact-sum body inlined, in two builds: with
// the fused multiply-add for the error of a square and without it (Dekker's
// product).  Both give the same exact error, so sums never depend on the
// machine.  A pass decides once which build it runs (tally_use_fma) and
// inlines the feeders into its loop; tally_feeders() has them as functions.
// Internal to the library.
#ifndef NUMTALLY_LIB_FEED_H
#define NUMTALLY_LIB_FEED_H

#include <cmath>
#include <cstdio>

#include "error-free.h"
#include "exact-sums.h"
#include "fma-dispatch.h"
#include "feed-kind.h"
#include "shifted-sums-body.h"
#include "tally-state.h"
#include "value-chain.h"
#include "xt.h"


// Adds one value to what the record keeps, as tallyf_process_val does for a
// record of that kind.  A value-keeping record without an array gets one.
using tally_feeder_t = void (*)(tally_state_t *tf, double x);

// The feeders of every kind as functions, indexed by tally_feed_t, in the
// build tally_use_fma() chose.
const tally_feeder_t *tally_feeders();

// The feeder for records of this kind.
inline tally_feeder_t tally_feeder(tally_feed_t kind)
{
    return tally_feeders()[static_cast<int>(kind)];
}

// Scales of the exact sums once a record has scaled them (its field
// scaled_lo is not NaN): deviations times 2^-66, their squares times 2^-1120
// (deviations times 2^-560 before squaring).  No sum of 2^64 values can
// overflow so; only parts of a deviation below about 2^-956 are lost, and
// those lie far below the last place of sums that had to be scaled.
inline constexpr int kExactLinearExp = 66;
inline constexpr int kExactSquareExp = 560;

// The exact-sum update of one value where the inline path cannot take it: a
// sum about to overflow, a record already scaled, or a value or sum that is
// not finite (added as it is: the plain sums then take over).  old_sum is
// the plain sum before this value; squares says whether the record keeps
// the sums of squares.  Counts the value, as the inline path does, so that
// a feeder can end with this call.
[[gnu::noinline, gnu::cold]] void tally_add_exact_slow(tally_state_t *tf, double x,
                                                       double old_sum,
                                                       bool squares);

// A value array that is full: grown, or, past the memory limit, written out
// as a run (lib/value-spill.cpp), leaving room for the next value.
[[gnu::noinline, gnu::cold]] void tally_values_full(tally_state_t *tf);

namespace tally_feed_body {

using error_free::add_first;
using error_free::square_error;
using error_free::sum_error;

// The temporary file keeps each value's exact bits, so the listing computes
// from the value that was read, not from a rounded copy.
[[gnu::always_inline]] inline void keep_value(FILE *f, double x)
{
    if (f == nullptr)
        return; // the report notices the missing values
#if defined(__GLIBC__)
    fwrite_unlocked(&x, sizeof x, 1, f);
#else
    std::fwrite(&x, sizeof x, 1, f);
#endif
}

// The lowest and highest value so far in the sorted order (NaN last); once
// a NaN is fed, both are NaN for good, like every other statistic of the
// record.  Most values fall strictly between the two and cost two plain
// comparisons.
[[gnu::always_inline]] inline void track_extremes(tally_state_t *tf, double x)
{
    if (tf->num_count == 0) {
        tf->low = tf->high = x;
        return;
    }
    if (!(x > tf->low) && !std::isnan(tf->low) &&
        (std::isnan(x) || xt_double_less(x, tf->low)))
        tf->low = x;
    if (!(x < tf->high) && xt_double_less(tf->high, x))
        tf->high = x;
}

[[gnu::always_inline]] inline void count(tally_state_t *tf)
{
    ++tf->shift_count;
    ++tf->num_count;
}

// The plain sum first; the value's exact sums come last (end_sum,
// end_squares), so that only the counts wait on the slow call.
template <bool Fma>
[[gnu::always_inline]] inline double begin_sum(tally_state_t *tf, double x)
{
    const double old_sum = tf->sum;
    tf->sum = add_first<Fma>(old_sum, x);
    return old_sum;
}

// The exact sum of the values alone needs no shift (shift stays 0): the
// plain sum is the high part of the exact sum, and only the rounding errors
// of its additions are collected beside it.  lo is NaN when the sum
// overflowed, a value is not finite, or the record is scaled.
template <bool Fma>
[[gnu::always_inline]] inline void end_sum(tally_state_t *tf, double x,
                                           double old_sum)
{
    const double lo = tf->sum_d_lo + sum_error(old_sum, x, tf->sum);
    if (lo == lo) [[likely]] {
        tf->sum_d_lo = lo;
        tf->sum_d = tf->sum;
        count(tf);
    } else {
        tally_add_exact_slow(tf, x, old_sum, false);
    }
}

// The plain sums of the variance family, then the exact sums of the
// deviations from the first value and of their squares.
template <bool Fma>
[[gnu::always_inline]] inline void end_squares(tally_state_t *tf, double x,
                                               double old_sum)
{
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
    const double s_error = sum_error(tf->sum_d, d, s) + d_error;
    // (d + d_error)^2, leaving out d_error^2 (below 2^-106 of d^2).
    const double p = d * d;
    double p_error;
    if constexpr (Fma)
        p_error = __builtin_fma(d, d, -p);
    else
        p_error = square_error(d, p);
    p_error += 2 * d * d_error;
    const double q = tf->sum_d_2 + p;
    const double q_lo =
        tf->sum_d_2_lo + (sum_error(tf->sum_d_2, p, q) + p_error);
    // q_lo is NaN when the sum of squares overflowed (the error of an
    // infinite sum is NaN), when a value or sum is not finite, and in a
    // scaled record (NaN there).  A finite sum of squares bounds the sum of
    // deviations far below overflow (|sum_d| <= sqrt(n sum_d_2)), so this
    // one test covers both sums.
    if (q_lo == q_lo) [[likely]] {
        tf->sum_d_lo += s_error;
        tf->sum_d = s;
        tf->sum_d_2_lo = q_lo;
        tf->sum_d_2 = q;
        count(tf);
    } else {
        tally_add_exact_slow(tf, x, old_sum, true);
    }
}

// True when a + b == r exactly, r being a + b rounded: r - a gives b back
// where |a| >= |b| and r - b gives a back where |b| >= |a| (both exact
// there, as in Fast2Sum), and neither where r was rounded.  False for a
// NaN anywhere.  Cheaper than the error itself.
[[gnu::always_inline]] inline unsigned added_exactly(double a, double b, double r)
{
    // Both tests at once, in the two lanes of a vector.
    using v2 = double __attribute__((vector_size(16)));
    const v2 rr = {r, r};
    const v2 ab = {a, b};
    const v2 ba = {b, a};
    const auto same = (rr - ab) == ba;
    return (same[0] & same[1]) != 0;
}

using pair_v = double __attribute__((vector_size(16)));

[[gnu::always_inline]] inline pair_v load2(const double *lanes)
{
    pair_v v;
    __builtin_memcpy(&v, lanes, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store2(double *lanes, pair_v v)
{
    __builtin_memcpy(lanes, &v, sizeof v);
}

using mask_v = long long __attribute__((vector_size(16)));

// The error of a + b = r for a and b at or above 0 (squares and their
// sums): Fast2Sum with the larger first.
[[gnu::always_inline]] inline double fast_error(double a, double b, double r)
{
    return (a < b ? a : b) - (r - (a < b ? b : a));
}

[[gnu::always_inline]] inline pair_v fast_error2(pair_v a, pair_v b, pair_v r)
{
    const pair_v big = a > b ? a : b, small = a > b ? b : a;
    return small - (r - big);
}

// added_exactly lane by lane: all ones in a lane where it was.
[[gnu::always_inline]] inline mask_v added_exactly2(pair_v a, pair_v b, pair_v r)
{
    return ((r - a) == b) & ((r - b) == a);
}

[[gnu::always_inline]] inline unsigned both(mask_v m)
{
    return (m[0] & m[1]) != 0;
}

template <bool Fma>
[[gnu::always_inline]] inline double times_error(double a, double b, double p)
{
    if constexpr (Fma)
        return __builtin_fma(a, b, -p);
    else
        return error_free::product_error(a, b, p);
}

// A product's error is a double where the product is far enough above the
// subnormals (a product that underflowed to 0 included).
[[gnu::always_inline]] inline unsigned product_exact(double a, double b, double p)
{
    return (std::fabs(p) >= 0x1p-969) | (a == 0) | (b == 0);
}

// The engine's exact sums (lib/exact-sums.h): the value added to the pair
// sum_d + sum_d_lo, the pair kept only where both additions were exact;
// else the value goes to the record's rest.  A NaN, an infinity or an
// overflow makes an error NaN, and so takes the slow path too.
template <bool Fma>
[[gnu::always_inline]] inline void exact_sum(tally_state_t *tf, double x)
{
    const double s = tf->sum_d + x;
    const double e = sum_error(tf->sum_d, x, s);
    const double l = tf->sum_d_lo + e;
    if (added_exactly(tf->sum_d_lo, e, l)) [[likely]] {
        tf->sum_d = s;
        tf->sum_d_lo = l;
    } else {
        tally_rest_add(tf, x, false);
    }
    ++tf->num_count; // shift_count is set when the pass ends
}

// The same with the square, x * x = p + p_error exactly (where the square
// is far enough above the subnormals for its error to be a double), in the
// record's two-lane sums (tf->pairs, free in a one-column record): the
// values in lane 0 of d + d_lo and the squares' errors in lane 1, added
// with vector operations, and the squares rounded in lane 0 of d2 + d2_lo,
// by Fast2Sum (both at or above 0, the larger first).
// Three sums, not one: the squares of values with many digits span twice
// their bits, more than one pair of doubles holds.
template <bool Fma>
[[gnu::always_inline]] inline void exact_squares(tally_state_t *tf, double x)
{
    tallyf_sums2_t *t = &tf->pairs;
    const double p = x * x;
    const pair_v v = {x, times_error<Fma>(x, x, p)};
    const pair_v s0 = load2(t->d), l0 = load2(t->d_lo);
    const pair_v s = s0 + v;
    const pair_v e = error_free::sum_error(s0, v, s);
    const pair_v l = l0 + e;
    const double q0 = t->d2[0], ql0 = t->d2_lo[0];
    const double q = q0 + p;
    const double qe = fast_error(q0, p, q);
    const double ql = ql0 + qe;
    const bool exact = both(added_exactly2(l0, e, l)) &
                       added_exactly(ql0, qe, ql) &
                       ((p >= 0x1p-969) | (x == 0));
    if (exact) [[likely]] {
        store2(t->d, s);
        store2(t->d_lo, l);
        t->d2[0] = q;
        t->d2_lo[0] = ql;
    } else {
        tally_rest_add(tf, x, true);
    }
    ++tf->num_count;
}

// Each feeder in two flavours: the engine's exact sums (Engine), or the
// record's own shifted sums beside the plain ones (tallyf_process_val, for
// callers of the library who read the record as it fills).
template <bool Fma, bool Engine>
[[gnu::always_inline]] inline void feed_sum(tally_state_t *tf, double x)
{
    if constexpr (Engine)
        exact_sum<Fma>(tf, x);
    else
        end_sum<Fma>(tf, x, begin_sum<Fma>(tf, x));
}

template <bool Fma, bool Engine>
[[gnu::always_inline]] inline void feed_squares(tally_state_t *tf, double x)
{
    if constexpr (Engine)
        exact_squares<Fma>(tf, x);
    else
        end_squares<Fma>(tf, x, begin_sum<Fma>(tf, x));
}

template <bool Fma, bool Engine>
[[gnu::always_inline]] inline void feed_squares_listed(tally_state_t *tf, double x)
{
    if constexpr (Engine) {
        keep_value(tf->tmp_file, x);
        exact_squares<Fma>(tf, x);
    } else {
        const double old_sum = begin_sum<Fma>(tf, x);
        keep_value(tf->tmp_file, x);
        end_squares<Fma>(tf, x, old_sum);
    }
}

template <bool Fma, bool Engine>
[[gnu::always_inline]] inline void feed_squares_bounds(tally_state_t *tf, double x)
{
    if constexpr (Engine) {
        track_extremes(tf, x); // for the check of the counts
        exact_squares<Fma>(tf, x);
    } else {
        const double old_sum = begin_sum<Fma>(tf, x);
        track_extremes(tf, x);
        end_squares<Fma>(tf, x, old_sum);
    }
}

template <bool Fma, bool Engine>
[[gnu::always_inline]] inline void feed_bounds(tally_state_t *tf, double x)
{
    if constexpr (Engine) {
        track_extremes(tf, x);
        exact_sum<Fma>(tf, x);
    } else {
        const double old_sum = begin_sum<Fma>(tf, x);
        track_extremes(tf, x);
        end_sum<Fma>(tf, x, old_sum);
    }
}

// Every 4 MiB of a value array, the pages of the next 8 MiB (or of what
// is left of the array) are asked to be faulted in (xt_prefault: on a
// second thread, a block ahead of the values), where page faults taken one
// store at a time are dear (a virtual machine's cost about as much as
// reading the values).  Only advice: refused, nothing changes.
inline constexpr uint64_t kPrefaultValues = uint64_t{1} << 19;
[[gnu::noinline, gnu::cold]] void prefault(double *from, uint64_t room);

template <bool Fma, bool Engine>
[[gnu::always_inline]] inline void feed_values(tally_state_t *tf, double x)
{
    double old_sum = 0;
    if constexpr (!Engine)
        old_sum = begin_sum<Fma>(tf, x);
    // The value's place in the array: the values before it that went out
    // to runs are not in it.
    uint64_t at = tf->num_count - tf->spilled;
    if (at == tf->array_size) [[unlikely]] {
        tally_values_full(tf);
        at = tf->num_count - tf->spilled;
    }
    if ((tf->num_count & (kPrefaultValues - 1)) == 0)
        prefault(tf->nums + at, tf->array_size - at);
    tf->nums[at] = x;
    if constexpr (Engine)
        exact_sum<Fma>(tf, x);
    else
        end_sum<Fma>(tf, x, old_sum);
}

} // namespace tally_feed_body

// Feeds x to a record of the given kind, inlined: the body a pass compiled
// for one build (Fma) runs for each value.
template <bool Fma, bool Engine = true>
[[gnu::always_inline]] inline void tally_feed(tally_feed_t kind, tally_state_t *tf,
                                              double x)
{
    using namespace tally_feed_body;
    switch (kind) {
    case tally_feed_t::sum:
        feed_sum<Fma, Engine>(tf, x);
        break;
    case tally_feed_t::squares:
        feed_squares<Fma, Engine>(tf, x);
        break;
    case tally_feed_t::squares_listed:
        feed_squares_listed<Fma, Engine>(tf, x);
        break;
    case tally_feed_t::squares_bounds:
        feed_squares_bounds<Fma, Engine>(tf, x);
        break;
    case tally_feed_t::bounds:
        feed_bounds<Fma, Engine>(tf, x);
        break;
    case tally_feed_t::values:
        feed_values<Fma, Engine>(tf, x);
        break;
    case tally_feed_t::pairs:   // one value at a time: the sum alone; the
    case tally_feed_t::samples: // pass feeds pairs with tally_feed_pair
        feed_sum<Fma, Engine>(tf, x);
        break;
    }
}

// Feeds a value-keeping record whose values go to a chain of the arena
// (value-chain.h) rather than to its array.
template <bool Fma>
[[gnu::always_inline]] inline void
tally_feed_chained(tally_state_t *tf, tally_value_arena_t *arena,
                   tally_value_chain_t *chain, double x)
{
    using namespace tally_feed_body;
    arena->push(chain, x);
    exact_sum<Fma>(tf, x);
}

namespace tally_feed_body {

// The engine's exact sums of a pair of one line, x and y side by side in
// the lanes of a vector (tallyf_sums2_t: values, squares and their errors;
// with Products, the pair's product and its error too, as covariance and
// the like need, not the two samples of welch-t); where an addition would
// round, the pair goes to the record's rest.
template <bool Fma, bool Products>
[[gnu::always_inline]] inline void exact_lanes(tally_state_t *tf, double x, double y)
{
    tallyf_sums2_t *t = &tf->pairs;
    const pair_v v = {x, y};
    const pair_v s0 = load2(t->d), l0 = load2(t->d_lo);
    const pair_v s = s0 + v;
    const pair_v e = error_free::sum_error(s0, v, s);
    const pair_v l = l0 + e;
    const pair_v p = v * v;
    const pair_v pe = {times_error<Fma>(x, x, p[0]), times_error<Fma>(y, y, p[1])};
    const pair_v q0 = load2(t->d2), ql0 = load2(t->d2_lo);
    const pair_v q = q0 + p;
    const pair_v qe = fast_error2(q0, p, q);
    const pair_v ql = ql0 + qe;
    const pair_v r0 = load2(t->e2), rl0 = load2(t->e2_lo);
    const pair_v r = r0 + pe;
    const pair_v re = error_free::sum_error(r0, pe, r);
    const pair_v rl = rl0 + re;
    mask_v ok = added_exactly2(l0, e, l) & added_exactly2(ql0, qe, ql) &
                added_exactly2(rl0, re, rl);
    bool products_ok = true;
    pair_v h, hl;
    if constexpr (Products) {
        const double c = x * y;
        // The product and its error, side by side.
        const pair_v cc = {c, times_error<Fma>(x, y, c)};
        const pair_v h0 = load2(&t->dxy), hl0 = load2(&t->dxy_lo);
        h = h0 + cc;
        const pair_v he = error_free::sum_error(h0, cc, h);
        hl = hl0 + he;
        ok &= added_exactly2(hl0, he, hl);
        products_ok = product_exact(x, y, c);
    }
    const bool exact = both(ok) & product_exact(x, x, p[0]) &
                       product_exact(y, y, p[1]) & products_ok;
    if (exact) [[likely]] {
        store2(t->d, s);
        store2(t->d_lo, l);
        store2(t->d2, q);
        store2(t->d2_lo, ql);
        store2(t->e2, r);
        store2(t->e2_lo, rl);
        if constexpr (Products) {
            store2(&t->dxy, h);
            store2(&t->dxy_lo, hl);
        }
    } else if constexpr (Products) {
        tally_rest_pair(tf, x, y);
    } else {
        tally_rest_sample(tf, 0, x);
        tally_rest_sample(tf, 1, y);
    }
    ++t->n[0];
    ++t->n[1];
}

// The same for one value of one lane's sample (welch-t): no products.
template <bool Fma>
[[gnu::always_inline]] inline void exact_sample(tally_state_t *tf, int lane,
                                                double x)
{
    tallyf_sums2_t *t = &tf->pairs;
    const double s = t->d[lane] + x;
    const double e = sum_error(t->d[lane], x, s);
    const double l = t->d_lo[lane] + e;
    const double p = x * x;
    const double pe = times_error<Fma>(x, x, p);
    const double q = t->d2[lane] + p;
    const double qe = sum_error(t->d2[lane], p, q);
    const double ql = t->d2_lo[lane] + qe;
    const double r = t->e2[lane] + pe;
    const double re = sum_error(t->e2[lane], pe, r);
    const double rl = t->e2_lo[lane] + re;
    const bool exact = added_exactly(t->d_lo[lane], e, l) &
                       added_exactly(t->d2_lo[lane], qe, ql) &
                       added_exactly(t->e2_lo[lane], re, rl) &
                       product_exact(x, x, p);
    if (exact) [[likely]] {
        t->d[lane] = s;
        t->d_lo[lane] = l;
        t->d2[lane] = q;
        t->d2_lo[lane] = ql;
        t->e2[lane] = r;
        t->e2_lo[lane] = rl;
    } else {
        tally_rest_sample(tf, lane, x);
    }
    ++t->n[lane];
}

} // namespace tally_feed_body

// Feeds a two-column record (tally_feeds_pairs) the fields of one line: x
// and y point to the values of its first and second column, null where the
// line has no such field.  pairs takes a line only when both are there;
// samples takes each value into its own column's sample.  Only the exact
// sums (tf->pairs) are kept per line: they are settled, and the count and
// plain sums come from them, when the pass ends (tally_settle,
// tally_finish_pairs).
template <bool Fma>
[[gnu::always_inline]] inline void tally_feed_pair(tally_state_t *tf,
                                                   tally_feed_t kind,
                                                   const double *x,
                                                   const double *y)
{
    using namespace tally_feed_body;
    if (kind == tally_feed_t::pairs) {
        if (x != nullptr && y != nullptr)
            exact_lanes<Fma, true>(tf, *x, *y);
        return;
    }
    if (x != nullptr && y != nullptr) [[likely]] {
        exact_lanes<Fma, false>(tf, *x, *y);
        return;
    }
    if (y != nullptr)
        exact_sample<Fma>(tf, 1, *y);
    if (x != nullptr)
        exact_sample<Fma>(tf, 0, *x);
}

// After the pass: a two-column record's count and plain sums (sum, sum_x,
// sum_x_2, sum_y, sum_y_2 and, for pairs, sum_x_y), from its shifted sums.
void tally_finish_pairs(tally_state_t *tf, tally_feed_t kind);

#endif
