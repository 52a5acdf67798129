// The function record: what it collects as values are fed, and the exact
// mean and sum of squares it gives back.
#include "tallyf.h"

#include <cmath>
#include <cstdio>

#include "error-free.h"
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

// True when the exact sums hold every value fed and nothing overflowed or
// went NaN in them.
inline bool exact_sums_usable(const tallyf_t *tf)
{
    return tf->num_count != 0 && tf->shift_count == tf->num_count &&
           std::isfinite(tf->shift) && std::isfinite(tf->sum_d) &&
           std::isfinite(tf->sum_d_lo);
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
    } else {
        // The mean alone needs no shift (shift stays 0): the plain sum of
        // the values is the high part of its exact sum, and only the
        // rounding errors of its additions are collected beside it.
        tf->sum_d_lo += sum_error(old_sum, x, tf->sum);
        tf->sum_d = tf->sum;
        if (tf->code == TALLYF_RANGE) {
            track_extremes(tf, x);
        } else if (tallyf_keeps_values(tf->code)) {
            if (tf->num_count == tf->array_size) {
                tf->array_size = 2 * tf->num_count;
                tf->nums = static_cast<double *>(
                    xt_realloc(tf->nums, tf->array_size, sizeof(double)));
            }
            tf->nums[tf->num_count] = x;
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

double tallyf_mean(const tallyf_t *tf)
{
    const double n = static_cast<double>(tf->num_count);
    if (!exact_sums_usable(tf))
        return tf->sum / n; // 0 / 0 without values
    // (sum_d + sum_d_lo) / n = q + q_low, to about twice double precision:
    // q * n is exactly product + product_err, and sum_d - product is exact.
    const double q = tf->sum_d / n;
    const double product = q * n;
    const double remainder =
        (tf->sum_d - product) - product_error(q, n, product);
    const double q_low = (remainder + tf->sum_d_lo) / n;
    // shift + q + q_low, rounded once.
    const double m = tf->shift + q;
    return m + (sum_error(tf->shift, q, m) + q_low);
}

double tallyf_sum_squares(const tallyf_t *tf)
{
    const double n = static_cast<double>(tf->num_count);
    if (keeps_squares(tf->code) && exact_sums_usable(tf) &&
        std::isfinite(tf->sum_d_2) && std::isfinite(tf->sum_d_2_lo)) {
        // Q - S * S / n, with S = sum_d + sum_d_lo and Q = sum_d_2 +
        // sum_d_2_lo, in double-double arithmetic.  Q is at most n + 1 times
        // the result, so its 106 bits leave the result's 53 intact.
        const double s = tf->sum_d;
        const double s2 = s * s;
        const double s2_low = square_error(s, s2) + 2 * s * tf->sum_d_lo;
        const double t = s2 / n;
        const double tn = t * n;
        const double t_low = (((s2 - tn) - product_error(t, n, tn)) + s2_low) / n;
        const double h = tf->sum_d_2 - t;
        const double low = sum_error(tf->sum_d_2, -t, h) + (tf->sum_d_2_lo - t_low);
        const double ss = h + low;
        return ss <= 0 ? 0.0 : ss; // the exact value is never below 0
    }
    // The one-pass formula on the plain sums.
    const double ss = tf->sum_x_2 - (tf->sum_x * tf->sum_x) / n;
    // Cancellation can leave a tiny negative result; NaN stays NaN.
    return ss <= 0 ? 0.0 : ss;
}
