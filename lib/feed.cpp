// The feeders as functions, in both builds.
#include "feed.h"

#include "xt-prefault.h"

#include <cstdint>

namespace {

template <tally_feed_t Kind>
void plain(tally_state_t *tf, double x)
{
    tally_feed<false, false>(Kind, tf, x);
}

constexpr tally_feeder_t plain_table[TALLY_FEED_KINDS] = {
    plain<tally_feed_t::sum>,            plain<tally_feed_t::squares>,
    plain<tally_feed_t::squares_listed>, plain<tally_feed_t::squares_bounds>,
    plain<tally_feed_t::bounds>,         plain<tally_feed_t::values>,
    plain<tally_feed_t::pairs>,          plain<tally_feed_t::samples>,
};

#if defined(TALLY_FMA_DISPATCH)
template <tally_feed_t Kind>
[[gnu::target("fma")]] void fused(tally_state_t *tf, double x)
{
    tally_feed<true, false>(Kind, tf, x);
}

constexpr tally_feeder_t fused_table[TALLY_FEED_KINDS] = {
    fused<tally_feed_t::sum>,            fused<tally_feed_t::squares>,
    fused<tally_feed_t::squares_listed>, fused<tally_feed_t::squares_bounds>,
    fused<tally_feed_t::bounds>,         fused<tally_feed_t::values>,
    fused<tally_feed_t::pairs>,          fused<tally_feed_t::samples>,
};
#else
constexpr const tally_feeder_t *fused_table = plain_table;
#endif

bool choose_fma()
{
#if defined(TALLY_FMA_DISPATCH)
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

} // namespace

// The exact-sum update of one value where the fast path cannot take it: a
// sum about to overflow, a record already scaled, or a value or sum that is
// not finite (added as it is: the plain sums then take over).  old_sum is
// the plain sum before this value.
void tally_add_exact_slow(tally_state_t *tf, double x, double old_sum, bool squares)
{
    using error_free::sum_error;
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
        tf->sum_d = std::ldexp(tf->sum_d, -kExactLinearExp);
        tf->sum_d_lo = std::ldexp(tf->sum_d_lo, -kExactLinearExp);
        tf->sum_d_2 = std::ldexp(tf->sum_d_2, -2 * kExactSquareExp);
        tf->sum_d_2_lo = std::ldexp(tf->sum_d_2_lo, -2 * kExactSquareExp);
        tf->scaled_lo = marked;
        marked = NAN;
    }
    double &s_lo = squares ? tf->sum_d_lo : tf->scaled_lo;
    const double xs = std::ldexp(x, -kExactLinearExp);
    const double ss = std::ldexp(tf->shift, -kExactLinearExp);
    const double d = xs - ss;
    const double d_error = sum_error(xs, -ss, d);
    const double s = tf->sum_d + d;
    s_lo += sum_error(tf->sum_d, d, s) + d_error;
    tf->sum_d = s;
    if (squares) {
        const double dq = std::ldexp(d, kExactLinearExp - kExactSquareExp);
        const double dq_error = std::ldexp(d_error, kExactLinearExp - kExactSquareExp);
        const double p = dq * dq;
        const double p_error = std::fma(dq, dq, -p) + 2 * dq * dq_error;
        const double q = tf->sum_d_2 + p;
        tf->scaled_lo += sum_error(tf->sum_d_2, p, q) + p_error;
        tf->sum_d_2 = q;
    }
    ++tf->shift_count;
    ++tf->num_count;
}


bool tally_use_fma()
{
    static const bool fma = choose_fma();
    return fma;
}

const tally_feeder_t *tally_feeders()
{
    static const tally_feeder_t *const chosen =
        tally_use_fma() ? fused_table : plain_table;
    return chosen;
}

void tally_finish_pairs(tally_state_t *tf, tally_feed_t kind)
{
    const tallyf_sums2_t *s = &tf->pairs;
    tf->num_count = s->n[0];
    tf->sum = tf->sum_x = tallyf_sums2_total(s, 0);
    tf->sum_x_2 = tallyf_sums2_total_squares(s, 0);
    tf->sum_y = tallyf_sums2_total(s, 1);
    tf->sum_y_2 = tallyf_sums2_total_squares(s, 1);
    if (kind == tally_feed_t::pairs)
        tf->sum_x_y = tallyf_sums2_total_products(s);
}

namespace tally_feed_body {

void prefault(double *from, uint64_t room)
{
    // This block and the next: the thread that faults them in keeps a
    // block ahead of the values written.
    const uint64_t values =
        room < 2 * kPrefaultValues ? room : 2 * kPrefaultValues;
    xt_prefault(from, values * sizeof(double));
}

} // namespace tally_feed_body
