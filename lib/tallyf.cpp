// The function record: what it collects as values are fed, and the exact
// mean and sum of squares it gives back.
#include "tallyf.h"

#include <cmath>
#include <cstdio>

#include "error-free.h"
#include "feed.h"
#include "functions.h"
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
    tf->col2 = 0;
    tallyf_sums2_init(&tf->pairs);
    tf->percentiles = nullptr;
}

bool tallyf_keeps_values(tallyf_code_t code)
{
    return tally_feed_of(code) == tally_feed_t::values;
}

namespace {

using error_free::product_error;
using error_free::square_error;
using error_free::sum_error;

// True when the exact sums hold every value fed and nothing overflowed or
// went NaN in them.
inline bool exact_sums_usable(const tallyf_t *tf)
{
    return tf->num_count != 0 && tf->shift_count == tf->num_count &&
           std::isfinite(tf->shift) && std::isfinite(tf->sum_d) &&
           std::isfinite(tf->sum_d_lo);
}

inline bool keeps_squares(tallyf_code_t code)
{
    const tally_feed_t kind = tally_feed_of(code);
    return kind == tally_feed_t::squares ||
           kind == tally_feed_t::squares_listed ||
           kind == tally_feed_t::squares_bounds;
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
