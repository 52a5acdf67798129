// Welch's and the paired t-test.
#include "two-sample.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "distributions.h"
#include "double-double.h"

namespace {

dd_t dd_of(long double x)
{
    const double hi = static_cast<double>(x);
    return {hi, static_cast<double>(x - hi)};
}

// A sample: its mean, its SD and the variance of its mean (s^2 / n), the
// last times 2^-scale (scale even), so that sums of any size divide and
// multiply inside the normal range; c.ss times 2^-by is the sum of squares
// times 2^-scale.
struct sample_t {
    dd_t mean, var_of_mean;
    double sd;
};

sample_t sample_of(const tallyf_centred_t &c, int by, int scale)
{
    const double n = static_cast<double>(c.n);
    const dd_t ss = dd_ldexp({c.ss, c.ss_lo}, -by);
    const dd_t var = dd_div(ss, dd(n - 1)); // n - 1 is exact below 2^53
    return {{c.mean, c.mean_lo},
            dd_div(var, dd(n)),
            std::ldexp(dd_round(dd_sqrt(var)), scale / 2)};
}

// The difference of two means, or its half (*half 1) where the difference
// passes the largest double.
dd_t difference(dd_t a, dd_t b, int *half)
{
    const dd_t d = dd_sub(a, b);
    *half = !std::isfinite(d.hi) && std::isfinite(a.hi) && std::isfinite(b.hi);
    return *half ? dd_sub(dd_ldexp(a, -1), dd_ldexp(b, -1)) : d;
}

// t, p and the interval of a difference of means with its standard error's
// square times 2^-scale (scale even).
void finish(tallyf_t_test_t *r, dd_t mean1, dd_t mean2, dd_t var_of_diff,
            int scale)
{
    int half; // diff is the difference times 2^-half
    const dd_t diff = difference(mean1, mean2, &half);
    r->diff = std::ldexp(dd_round(diff), half);
    const dd_t se = dd_sqrt(var_of_diff); // times 2^(-scale / 2)
    const int t_exp = half - scale / 2; // t is diff / se times 2^t_exp
    const dd_t scaled = dd_ldexp(diff, t_exp);
    r->t = std::isinf(scaled.hi) // a t beyond the doubles
               ? std::ldexp(dd_round(dd_div(diff, se)), t_exp)
               : dd_round(dd_div(scaled, se));
    if (!(r->df > 0) || std::isnan(r->t)) {
        r->p = r->ci_low = r->ci_high = NAN;
        return;
    }
    r->p = static_cast<double>(2 * student_t_cdf(r->df, -std::fabs(r->t)));
    // The half width at diff's scale; bounds beyond the doubles infinite.
    const dd_t width = dd_ldexp(
        dd_mul(dd_of(student_t_quantile(r->df, 0.975)), se), scale / 2 - half);
    r->ci_low = std::ldexp(dd_round_add(diff, dd_neg(width)), half);
    r->ci_high = std::ldexp(dd_round_add(diff, width), half);
}

// The test with each sample's own numbers filled in.
tallyf_t_test_t described(const tallyf_centred_t &ca, const sample_t &sa,
                          const tallyf_centred_t &cb, const sample_t &sb)
{
    tallyf_t_test_t r;
    r.n1 = ca.n;
    r.n2 = cb.n;
    r.mean1 = dd_round(sa.mean);
    r.mean2 = dd_round(sb.mean);
    r.sd1 = sa.sd;
    r.sd2 = sb.sd;
    r.sd_diff = NAN;
    return r;
}

// A sample's centred sums, the sum of squares kept times 2^-exp (exp even).
struct scaled_t {
    tallyf_centred_t c;
    int exp;
};

// The centred sums of sums kept at 2^-e (the deviations; their squares at
// 2^-2e): the mean the shift plus the deviations' mean at its scale.
scaled_t scaled_of(tallyf_sums1_t s, int e)
{
    const double shift = s.shift;
    s.shift = 0;
    scaled_t r{tallyf_sums1_centred(&s), 2 * e};
    const dd_t mean = dd_add(dd(shift), dd_ldexp({r.c.mean, r.c.mean_lo}, e));
    r.c.mean = mean.hi;
    r.c.mean_lo = mean.lo;
    return r;
}

// The binary exponent of a sample's sum of squares, INT_MIN for none.
int ss_exp(const scaled_t &s)
{
    return s.c.ss > 0 && std::isfinite(s.c.ss) ? std::ilogb(s.c.ss) + s.exp
                                               : INT_MIN;
}

tallyf_t_test_t welch(const scaled_t &xa, const scaled_t &xb)
{
    const tallyf_centred_t &ca = xa.c, &cb = xb.c;
    // Both variances at the scale of the larger sum of squares: the
    // Welch-Satterthwaite df squares them.
    int scale;
    if (xa.exp == 0 && xb.exp == 0)
        scale = dd_even_exp(ca.ss > cb.ss ? dd_t{ca.ss, ca.ss_lo}
                                          : dd_t{cb.ss, cb.ss_lo});
    else {
        const scaled_t &big = ss_exp(xa) > ss_exp(xb) ? xa : xb;
        scale = big.exp + dd_even_exp({big.c.ss, big.c.ss_lo});
    }
    const sample_t sa = sample_of(ca, scale - xa.exp, scale);
    const sample_t sb = sample_of(cb, scale - xb.exp, scale);
    tallyf_t_test_t r = described(ca, sa, cb, sb);
    const dd_t v = dd_add(sa.var_of_mean, sb.var_of_mean);
    // Welch-Satterthwaite: v^2 / (va^2 / (na - 1) + vb^2 / (nb - 1)).
    const dd_t wa = dd_div(dd_mul(sa.var_of_mean, sa.var_of_mean),
                           dd(static_cast<double>(ca.n) - 1));
    const dd_t wb = dd_div(dd_mul(sb.var_of_mean, sb.var_of_mean),
                           dd(static_cast<double>(cb.n) - 1));
    r.df = dd_round(dd_div(dd_mul(v, v), dd_add(wa, wb)));
    if (ca.n < 2 || cb.n < 2)
        r.df = NAN;
    finish(&r, sa.mean, sb.mean, v, scale);
    return r;
}

} // namespace

tallyf_t_test_t tallyf_welch_t(const tallyf_sums1_t *a, const tallyf_sums1_t *b)
{
    return welch({tallyf_sums1_centred(a), 0}, {tallyf_sums1_centred(b), 0});
}

tallyf_t_test_t tallyf_welch_t_lanes(const tallyf_sums2_t *s)
{
    return welch(scaled_of(tallyf_sums2_lane(s, 0), static_cast<int>(s->e2[0])),
                 scaled_of(tallyf_sums2_lane(s, 1), static_cast<int>(s->e2[1])));
}

tallyf_t_test_t tallyf_paired_t(const tallyf_sums2_t *s)
{
    // Each sum of squares or products as kept, times 2^-its exp (shifted-
    // sums.h): 0 as a rule.
    const tallyf_centred_t cx = tallyf_sums2_centred_scaled(s, 0);
    const tallyf_centred_t cy = tallyf_sums2_centred_scaled(s, 1);
    const int xexp = 2 * static_cast<int>(s->e2[0]);
    const int yexp = 2 * static_cast<int>(s->e2[1]);
    const int ex = dd_even_exp({cx.ss, cx.ss_lo});
    const int ey = dd_even_exp({cy.ss, cy.ss_lo});
    const sample_t sx = sample_of(cx, ex, xexp + ex);
    const sample_t sy = sample_of(cy, ey, yexp + ey);
    tallyf_t_test_t r = described(cx, sx, cy, sy);
    // Differences: sum of squares Cxx + Cyy - 2 Cxy, at the largest power
    // of 2 of the three that are not 0 (top, even).
    dd_t cxy;
    const int cexp = tallyf_sums2_cross_scaled(s, &cxy.hi, &cxy.lo);
    int top = INT_MIN;
    for (const auto &[sum, exp] : {std::pair{cx.ss, xexp}, std::pair{cy.ss, yexp},
                                   std::pair{cxy.hi, cexp}})
        if (sum != 0)
            top = std::max(top, exp);
    top = top == INT_MIN ? 0 : top + (top & 1);
    const dd_t cxx = dd_ldexp({cx.ss, cx.ss_lo}, xexp - top);
    const dd_t cyy = dd_ldexp({cy.ss, cy.ss_lo}, yexp - top);
    cxy = dd_ldexp(cxy, cexp - top);
    dd_t ss = dd_sub(dd_add(cxx, cyy), dd_add(cxy, cxy));
    if (ss.hi < 0)
        ss = {0, 0};
    const double n = static_cast<double>(cx.n);
    const int by = dd_even_exp(ss);
    const int scale = top + by;
    const dd_t var = dd_div(dd_ldexp(ss, -by), dd(n - 1));
    r.sd_diff = std::ldexp(dd_round(dd_sqrt(var)), scale / 2);
    r.df = cx.n < 2 ? NAN : n - 1;
    finish(&r, sx.mean, sy.mean, dd_div(var, dd(n)), scale);
    return r;
}
