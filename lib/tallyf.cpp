// The function record: what it collects as values are fed, and the exact
// mean and sum of squares it gives back.
#include "tallyf.h"

#include <cmath>
#include <cstdio>

#include "error-free.h"
#include "exact-fixed.h"
#include "xt.h"

void tallyf_init(tallyf_t *tf)
{
    tf->rows = nullptr; // clears all of row's storage
    tf->cols = nullptr;
    tf->sum = 0;
    tf->nums = nullptr;
    tf->num_count = 0;
    tf->array_size = 0;
    tf->partitions = 0;
    tf->sum_x = 0;
    tf->sum_x_2 = 0;
    tf->row_sums = nullptr;
    tf->col_sums = nullptr;
    tf->tmp_file = tallyf_tmpfile_lazy();
    tf->shift = 0;
    tf->shift_count = 0;
    tf->sum_d = 0;
    tf->sum_d_lo = 0;
    tf->sum_d_2 = 0;
    tf->sum_d_2_lo = 0;
    tf->low = NAN;
    tf->high = NAN;
    tf->scaled_lo = NAN;
}

bool tallyf_keeps_values(tallyf_code_t code)
{
    return code == TALLYF_QUANTILE || code == TALLYF_MODE ||
           code == TALLYF_IQ_RANGE || code == TALLYF_BOX_PLOT;
}

namespace {

// The codes whose records keep the sums of squares (the variance family).
// This is the one place that says so.
constexpr uint32_t kSquareCodes =
    1u << TALLYF_POP_VAR | 1u << TALLYF_POP_SD | 1u << TALLYF_POP_Z_SCORES |
    1u << TALLYF_SAMPLE_VAR | 1u << TALLYF_SAMPLE_SD |
    1u << TALLYF_SAMPLE_Z_SCORES | 1u << TALLYF_SAMPLE_SE |
    1u << TALLYF_SAMPLE_T_SCORE | 1u << TALLYF_CHI_SQ_FIT;

inline bool keeps_squares(tallyf_code_t code)
{
    return code < 32 && (kSquareCodes >> code & 1u) != 0;
}

using error_free::add_first;
using error_free::product_error;
using error_free::square_error;
using error_free::sum_error;

// The plain sums of the variance family.
template <bool Vex>
inline void add_square(tallyf_t *tf, double x)
{
    tf->sum_x = add_first<Vex>(x, tf->sum_x);
    const double square = x * x; // rounded before the addition: no FMA
    tf->sum_x_2 = add_first<Vex>(square, tf->sum_x_2);
}

// The temporary file keeps each value's exact bits, so the listing computes
// from the value that was read, not from a rounded copy.
inline void keep_value(FILE *f, double x)
{
    if (f == nullptr)
        return; // the list notices the missing values at report time
#if defined(__GLIBC__)
    fwrite_unlocked(&x, sizeof x, 1, f);
#else
    std::fwrite(&x, sizeof x, 1, f);
#endif
}

// The exact sums as they stand, scaled or not (see scaled_lo).
struct exact_sums_t {
    double s, s_lo, q, q_lo;
    bool scaled;
};

inline exact_sums_t exact_sums_of(const tallyf_t *tf)
{
    exact_sums_t e{tf->sum_d, tf->sum_d_lo, tf->sum_d_2, tf->sum_d_2_lo,
                   !std::isnan(tf->scaled_lo)};
    if (e.scaled)
        (keeps_squares(tf->code) ? e.q_lo : e.s_lo) = tf->scaled_lo;
    return e;
}

// True when the exact sums hold every value fed and nothing overflowed or
// went NaN in them.
inline bool exact_sums_usable(const tallyf_t *tf)
{
    const exact_sums_t e = exact_sums_of(tf);
    return tf->num_count != 0 && tf->shift_count == tf->num_count &&
           std::isfinite(tf->shift) && std::isfinite(e.s) &&
           std::isfinite(e.s_lo);
}

// The lowest and highest value so far in the sorted order (NaN last); once
// a NaN is fed, both are NaN for good, like every other statistic of the
// record.  Most values fall strictly between the two and cost two plain
// comparisons.
inline void track_extremes(tallyf_t *tf, double x)
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

// Scales of the exact sums once a record has scaled them (scaled_lo):
// deviations times 2^-66, their squares times 2^-1120 (deviations times
// 2^-560 before squaring).  No sum of 2^64 values can overflow so; only
// parts of a deviation below about 2^-956 are lost, and those lie far below
// the last place of sums that had to be scaled.
constexpr int kLinearExp = 66;
constexpr int kSquareExp = 560;

// The exact-sum update of one value where the fast path cannot take it: a
// sum about to overflow, a record already scaled, or a value or sum that is
// not finite (added as it is: the plain sums then take over).  old_sum is
// the plain sum before this value.  Counts the value, as the fast path does,
// so that the feed can end with this call.
[[gnu::noinline, gnu::cold]] void add_exact_slow(tallyf_t *tf, double x,
                                                  double old_sum, bool squares)
{
    // The field whose NaN marks a scaled record: the last low part the
    // fast path adds to.
    double &marked = squares ? tf->sum_d_2_lo : tf->sum_d_lo;
    if (std::isnan(tf->scaled_lo)) {
        const bool finite = std::isfinite(x) && std::isfinite(tf->shift) &&
                            std::isfinite(tf->sum_d) &&
                            std::isfinite(tf->sum_d_lo) &&
                            std::isfinite(tf->sum_d_2) &&
                            std::isfinite(tf->sum_d_2_lo);
        if (!finite && !squares) {
            tf->sum_d_lo += sum_error(old_sum, x, tf->sum);
            tf->sum_d = tf->sum;
        } else if (!finite) {
            const double d = x - tf->shift;
            const double s = tf->sum_d + d;
            tf->sum_d_lo += sum_error(tf->sum_d, d, s);
            tf->sum_d = s;
            const double p = d * d;
            const double q = tf->sum_d_2 + p;
            tf->sum_d_2_lo += sum_error(tf->sum_d_2, p, q);
            tf->sum_d_2 = q;
        }
        if (!finite) {
            ++tf->shift_count;
            ++tf->num_count;
            return;
        }
        tf->sum_d = std::ldexp(tf->sum_d, -kLinearExp);
        tf->sum_d_lo = std::ldexp(tf->sum_d_lo, -kLinearExp);
        tf->sum_d_2 = std::ldexp(tf->sum_d_2, -2 * kSquareExp);
        tf->sum_d_2_lo = std::ldexp(tf->sum_d_2_lo, -2 * kSquareExp);
        tf->scaled_lo = marked;
        marked = NAN;
    }
    double &s_lo = squares ? tf->sum_d_lo : tf->scaled_lo;
    const double xs = std::ldexp(x, -kLinearExp);
    const double ss = std::ldexp(tf->shift, -kLinearExp);
    const double d = xs - ss;
    const double d_error = sum_error(xs, -ss, d);
    const double s = tf->sum_d + d;
    s_lo += sum_error(tf->sum_d, d, s) + d_error;
    tf->sum_d = s;
    if (squares) {
        const double dq = std::ldexp(d, kLinearExp - kSquareExp);
        const double dq_error = std::ldexp(d_error, kLinearExp - kSquareExp);
        const double p = dq * dq;
        const double p_error = std::fma(dq, dq, -p) + 2 * dq * dq_error;
        const double q = tf->sum_d_2 + p;
        tf->scaled_lo += sum_error(tf->sum_d_2, p, q) + p_error;
        tf->sum_d_2 = q;
    }
    ++tf->shift_count;
    ++tf->num_count;
}

} // namespace

namespace {

// The body of tallyf_process_val, with the rounding error of a square by a
// fused multiply-add where the processor has one, by Dekker's product
// otherwise: the same exact error either way, so the sums do not depend on
// the machine.
template <bool Fma>
[[gnu::always_inline]] inline void feed(tallyf_t *tf, double x)
{
    const double old_sum = tf->sum;
    tf->sum = add_first<Fma>(old_sum, x);

    if (keeps_squares(tf->code)) {
        if (tf->code == TALLYF_POP_Z_SCORES ||
            tf->code == TALLYF_SAMPLE_Z_SCORES)
            keep_value(tf->tmp_file, x);
        else if (tf->code == TALLYF_CHI_SQ_FIT)
            track_extremes(tf, x); // for the check of the counts
        add_square<Fma>(tf, x);

        // The deviation from the first value, d + d_error exactly.  Since
        // the first value is one of the data, the sum of the squared
        // deviations is at most n + 1 times the sum of squares about the
        // mean: the cancellation left for the end is bounded whatever the
        // offset of the data.
        if (tf->shift_count == 0)
            tf->shift = x;
        const double d = x - tf->shift;
        const double d_error = sum_error(x, -tf->shift, d);
        // Sums in the manner of Ogita, Rump and Oishi's Sum2: the high part
        // adds plainly, the low part collects every rounding error.
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
        const double q_lo = tf->sum_d_2_lo + (sum_error(tf->sum_d_2, p, q) + p_error);
        // q_lo is NaN when the sum of squares overflowed (the error of an
        // infinite sum is NaN), when a value or sum is not finite, and in a
        // scaled record (NaN there).  A finite sum of squares bounds the sum
        // of deviations far below overflow (|sum_d| <= sqrt(n sum_d_2)), so
        // this one test covers both sums.
        if (q_lo == q_lo) [[likely]] {
            tf->sum_d_lo += s_error;
            tf->sum_d = s;
            tf->sum_d_2_lo = q_lo;
            tf->sum_d_2 = q;
        } else {
            return add_exact_slow(tf, x, old_sum, true);
        }
    } else {
        if (tf->code == TALLYF_RANGE) {
            track_extremes(tf, x);
        } else if (tallyf_keeps_values(tf->code)) {
            if (tf->num_count == tf->array_size) {
                tf->array_size = tf->num_count < 8 ? 8 : 2 * tf->num_count;
                tf->nums = static_cast<double *>(
                    xt_realloc(tf->nums, tf->array_size, sizeof(double)));
            }
            tf->nums[tf->num_count] = x;
        }
        // The mean alone needs no shift (shift stays 0): the plain sum of
        // the values is the high part of its exact sum, and only the
        // rounding errors of its additions are collected beside it.  lo is
        // NaN when the sum overflowed, a value is not finite, or the record
        // is scaled (as q_lo above).  Last, so that only the counts wait on
        // the slow call.
        const double lo = tf->sum_d_lo + sum_error(old_sum, x, tf->sum);
        if (lo == lo) [[likely]] {
            tf->sum_d_lo = lo;
            tf->sum_d = tf->sum;
        } else {
            return add_exact_slow(tf, x, old_sum, false);
        }
    }
    ++tf->shift_count;
    ++tf->num_count;
}

} // namespace

// Chosen once, when the program is loaded, by the processor it runs on
// (an ELF indirect function).  -DTALLYF_NO_FMA_DISPATCH builds the plain
// version alone, so that its sums can be tested on any machine.
// Not under AddressSanitizer: a resolver runs while the program is being
// relocated, before the sanitizer's runtime is ready for instrumented code.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__) && \
    !defined(TALLYF_NO_FMA_DISPATCH)
namespace {

[[gnu::target("fma")]] void feed_with_fma(tallyf_t *tf, double x)
{
    feed<true>(tf, x);
}

void feed_without_fma(tallyf_t *tf, double x)
{
    feed<false>(tf, x);
}

} // namespace

// The resolver has external linkage (hidden outside the library's objects):
// clang resolves an ifunc's name only among such functions.
using tallyf_feed_fn = void (*)(tallyf_t *, double);
extern "C" [[gnu::visibility("hidden")]] tallyf_feed_fn
tallyf_resolve_process_val(void);

extern "C" {
tallyf_feed_fn tallyf_resolve_process_val(void)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma") ? feed_with_fma : feed_without_fma;
}
}

void tallyf_process_val(tallyf_t *tf, double x)
    __attribute__((ifunc("tallyf_resolve_process_val")));
#else
void tallyf_process_val(tallyf_t *tf, double x)
{
    feed<false>(tf, x);
}
#endif

namespace {

// The exact mean plus offset (finite), rounded once: the exact sum of the
// deviations, divided by n in a fixed-point number, plus the shift and the
// offset, the remainder of the division deciding a tie.
double exact_mean_plus(const tallyf_t *tf, double offset)
{
    const exact_sums_t e = exact_sums_of(tf);
    const int scale = e.scaled ? kLinearExp : 0;
    exact_fixed_t v;
    exact_fixed_clear(&v);
    exact_fixed_add_scaled(&v, e.s, scale);
    exact_fixed_add_scaled(&v, e.s_lo, scale);
    const uint64_t remainder = exact_fixed_div(&v, tf->num_count);
    exact_fixed_add_scaled(&v, tf->shift, 0);
    exact_fixed_add_scaled(&v, offset, 0);
    return exact_fixed_round(&v, remainder != 0);
}

} // namespace

double tallyf_mean(const tallyf_t *tf)
{
    if (!exact_sums_usable(tf))
        return tf->sum / static_cast<double>(tf->num_count); // 0 / 0 without values
    return exact_mean_plus(tf, 0);
}

void tallyf_mean_interval(const tallyf_t *tf, double half_width, double *low,
                          double *high)
{
    if (!exact_sums_usable(tf) || !std::isfinite(half_width)) {
        const double mean = tallyf_mean(tf);
        *low = mean - half_width;
        *high = half_width + mean;
        return;
    }
    *low = exact_mean_plus(tf, -half_width);
    *high = exact_mean_plus(tf, half_width);
}

double tallyf_sum_squares(const tallyf_t *tf)
{
    const double n = static_cast<double>(tf->num_count);
    const exact_sums_t e = exact_sums_of(tf);
    if (keeps_squares(tf->code) && exact_sums_usable(tf) &&
        std::isfinite(e.q) && std::isfinite(e.q_lo)) {
        // Q - S * S / n, with S = sum_d + sum_d_lo and Q = sum_d_2 +
        // sum_d_2_lo, in double-double arithmetic.  Q is at most n + 1 times
        // the result, so its 106 bits leave the result's 53 intact.  Both
        // are first brought to one scale where nothing below overflows
        // (S * S / n is at most Q): the result is the formula's times
        // 2^result_exp.
        double s = e.s, s_lo = e.s_lo, q = e.q, q_lo = e.q_lo;
        int result_exp = 0;
        if (e.scaled) {
            s = std::ldexp(s, kLinearExp - kSquareExp);
            s_lo = std::ldexp(s_lo, kLinearExp - kSquareExp);
            result_exp = 2 * kSquareExp;
        }
        if (q > 0x1p900) {
            const int j = (std::ilogb(q) - 900) / 2 + 1;
            s = std::ldexp(s, -j);
            s_lo = std::ldexp(s_lo, -j);
            q = std::ldexp(q, -2 * j);
            q_lo = std::ldexp(q_lo, -2 * j);
            result_exp += 2 * j;
        }
        const double s2 = s * s;
        const double s2_low = square_error(s, s2) + 2 * s * s_lo;
        const double t = s2 / n;
        const double tn = t * n;
        const double t_low = (((s2 - tn) - product_error(t, n, tn)) + s2_low) / n;
        const double h = q - t;
        const double low = sum_error(q, -t, h) + (q_lo - t_low);
        const double ss = h + low;
        // The exact value is never below 0.
        return ss <= 0 ? 0.0 : std::ldexp(ss, result_exp);
    }
    // The one-pass formula on the plain sums.
    const double ss = tf->sum_x_2 - (tf->sum_x * tf->sum_x) / n;
    // Cancellation can leave a tiny negative result; NaN stays NaN.
    return ss <= 0 ? 0.0 : ss;
}
