// The function record: what it collects as values are fed, and the exact
// mean and sum of squares it gives back.
#include "tallyf.h"

#include <cmath>
#include <cstdio>

#include "error-free.h"
#include "exact-fixed.h"
#include "mean-interval.h"
#include "double-double.h"
#include "feed.h"
#include "functions.h"
#include "xt.h"

void tallyf_init(tallyf_t *tf)
{
    tally_clear_collected(tf);
    tf->rows = nullptr; // clears all of row's storage
    tf->cols = nullptr;
    tf->partitions = 0;
    tf->row_sums = nullptr;
    tf->col_sums = nullptr;
    tf->tmp_file = tallyf_tmpfile_lazy();
    tf->col2 = 0;
    tf->percentiles = nullptr;
    tf->by_row = false;
    tf->split = false;
}

bool tallyf_keeps_values(tallyf_code_t code)
{
    return tally_feed_of(code) == tally_feed_t::values;
}

namespace {

using error_free::product_error;
using error_free::square_error;
using error_free::sum_error;

inline bool keeps_squares(tallyf_code_t code)
{
    const tally_feed_t kind = tally_feed_of(code);
    return kind == tally_feed_t::squares ||
           kind == tally_feed_t::squares_listed ||
           kind == tally_feed_t::squares_bounds;
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

} // namespace

void tallyf_process_val(tallyf_t *tf, double x)
{
    // The kind of each code, looked up in the table once.
    static const tally_feed_t *const kinds = [] {
        static tally_feed_t k[TALLY_CODES_MAX];
        for (uint32_t c = 0; c < TALLY_CODES_MAX; ++c)
            k[c] = tally_feed_of(static_cast<tallyf_code_t>(c));
        return k;
    }();
    const tally_feed_t kind =
        tf->code < TALLY_CODES_MAX ? kinds[tf->code] : tally_feed_t::sum;
    tally_feeder(kind)(tf, x);
}

namespace {

// The exact mean plus offset (finite), rounded once: the exact sum of the
// deviations, divided by n in a fixed-point number, plus the shift and the
// offset, the remainder of the division deciding a tie.
// v = the exact sum of the deviations (of the values, when shift is 0).
void exact_sum_of(const tallyf_t *tf, exact_fixed_t *v)
{
    const exact_sums_t e = exact_sums_of(tf);
    const int scale = e.scaled ? kExactLinearExp : 0;
    exact_fixed_clear(v);
    exact_fixed_add_scaled(v, e.s, scale);
    exact_fixed_add_scaled(v, e.s_lo, scale);
}

double exact_mean_plus(const tallyf_t *tf, double offset)
{
    exact_fixed_t v;
    exact_sum_of(tf, &v);
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

double tallyf_sum(const tallyf_t *tf)
{
    if (!exact_sums_usable(tf) || tf->shift != 0)
        return tf->sum;
    exact_fixed_t v;
    exact_sum_of(tf, &v);
    return exact_fixed_round(&v, false);
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

namespace {

// The exact path of the sum of squares about the mean: true, with the
// double-double *ss times 2^*exp (exp even), where the record keeps exact
// sums of squares that can be used.
bool sum_squares_dd(const tallyf_t *tf, dd_t *ss, int *exp)
{
    const double n = static_cast<double>(tf->num_count);
    const exact_sums_t e = exact_sums_of(tf);
    if (!keeps_squares(tf->code) || !exact_sums_usable(tf) ||
        !std::isfinite(e.q) || !std::isfinite(e.q_lo))
        return false;
    // Q - S * S / n, with S = sum_d + sum_d_lo and Q = sum_d_2 +
    // sum_d_2_lo, in double-double arithmetic.  Q is at most n + 1 times
    // the result, so its 106 bits leave the result's 53 intact.  Both
    // are first brought to one scale where nothing below overflows
    // (S * S / n is at most Q): the result is the formula's times
    // 2^result_exp.
    double s = e.s, s_lo = e.s_lo, q = e.q, q_lo = e.q_lo;
    int result_exp = 0;
    if (tf->pairs.e2[0] != 0 && !e.scaled) {
        // Squared deviations far below 1, kept scaled by the settling.
        const tallyf_sums2_t &p = tf->pairs;
        s = p.d[0];
        s_lo = p.d_lo[0];
        q = p.d2[0];
        q_lo = p.d2_lo[0];
        result_exp = 2 * static_cast<int>(p.e2[0]);
    } else if (e.scaled) {
        s = std::ldexp(s, kExactLinearExp - kExactSquareExp);
        s_lo = std::ldexp(s_lo, kExactLinearExp - kExactSquareExp);
        result_exp = 2 * kExactSquareExp;
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
    *ss = dd_norm(h, low);
    *exp = result_exp;
    return true;
}

} // namespace

bool tally_spread(const tallyf_t *tf, double divisor, tally_spread_t *out)
{
    dd_t ss;
    int exp; // even
    if (tf->num_count == 0 || !(divisor > 0) || !exact_sums_usable(tf) ||
        !sum_squares_dd(tf, &ss, &exp))
        return false;
    if (!(ss.hi > 0))
        ss = {0, 0};
    else if (ss.hi < 0x1p-900)
        return false; // its low part would have lost bits
    const double n = static_cast<double>(tf->num_count);
    const dd_t var = dd_div(ss, dd(divisor));
    const dd_t sd = dd_sqrt(var);
    const dd_t se = dd_sqrt(dd_div(ss, dd_prod(divisor, n)));
    // Scaled back by whole powers of 2; a result that would leave the
    // normal range is left to the caller's doubles.
    const double v = dd_round(var), s = dd_round(sd), e = dd_round(se);
    const auto normal = [](double x) {
        return std::isfinite(x) && (x == 0 || std::fabs(x) >= 0x1p-1022)
                   ? x
                   : NAN;
    };
    *out = {normal(std::ldexp(v, exp)), normal(std::ldexp(s, exp / 2)),
            normal(std::ldexp(e, exp / 2))};
    return true;
}

void tally_mean_interval_2se(const tallyf_t *tf, double se, double *low,
                             double *high)
{
    dd_t ss;
    int exp;
    const uint64_t count = tf->num_count;
    if (count < 2 || count > (uint64_t{1} << 52) || !std::isfinite(se) ||
        !exact_sums_usable(tf) || !sum_squares_dd(tf, &ss, &exp)) {
        tallyf_mean_interval(tf, se + se, low, high);
        return;
    }
    // 2 SE = 2 sqrt(ss / (n (n - 1))), to about 100 bits, then added to the
    // exact mean: one rounding for each bound.
    const double n = static_cast<double>(count);
    dd_t r{0, 0};
    if (ss.hi > 0)
        r = dd_sqrt(dd_div(ss, dd_prod(n, n - 1)));
    const double hi = std::ldexp(2 * r.hi, exp / 2);
    const double lo = std::ldexp(2 * r.lo, exp / 2);
    if (!std::isfinite(hi) || !std::isfinite(lo)) {
        tallyf_mean_interval(tf, se + se, low, high);
        return;
    }
    for (int sign : {-1, 1}) {
        exact_fixed_t v;
        exact_sum_of(tf, &v);
        const uint64_t remainder = exact_fixed_div(&v, count);
        exact_fixed_add_scaled(&v, tf->shift, 0);
        exact_fixed_add_scaled(&v, sign * hi, 0);
        exact_fixed_add_scaled(&v, sign * lo, 0);
        (sign < 0 ? *low : *high) = exact_fixed_round(&v, remainder != 0);
    }
}

double tallyf_sum_squares(const tallyf_t *tf)
{
    int exp;
    const double ss = tallyf_sum_squares_scaled(tf, &exp);
    return std::ldexp(ss, exp);
}

double tallyf_sum_squares_scaled(const tallyf_t *tf, int *exp)
{
    *exp = 0;
    const double n = static_cast<double>(tf->num_count);
    dd_t dd;
    int dd_exp;
    if (sum_squares_dd(tf, &dd, &dd_exp)) {
        const double ss = dd.hi + dd.lo;
        // The exact value is never below 0.
        if (ss <= 0)
            return 0.0;
        *exp = dd_exp; // even: 2 kExactSquareExp plus 2 j
        return ss;
    }
    // The one-pass formula on the plain sums.
    const double ss = tf->sum_x_2 - (tf->sum_x * tf->sum_x) / n;
    // Cancellation can leave a tiny negative result; NaN stays NaN.
    return ss <= 0 ? 0.0 : ss;
}
