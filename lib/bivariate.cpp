// Covariance, correlation and regression from shifted sums.
#include "bivariate.h"

#include <cmath>

#include "distributions.h"
#include "double-double.h"

namespace {

// The centred sums of a pair: both means, and Cxx, Cyy and Cxy, each times
// a power of 2 (2^-xexp, 2^-yexp, 2^-cexp; 0 as a rule) where the sums keep
// it beyond or below the range of doubles (e2 and exy in shifted-sums.h).
struct centred2_t {
    double n;
    dd_t mx, my, cxx, cyy, cxy;
    int xexp, yexp, cexp;
};

centred2_t centre(const tallyf_sums2_t *s)
{
    const tallyf_centred_t x = tallyf_sums2_centred_scaled(s, 0);
    const tallyf_centred_t y = tallyf_sums2_centred_scaled(s, 1);
    centred2_t c;
    c.n = static_cast<double>(s->n[0]);
    c.mx = {x.mean, x.mean_lo};
    c.my = {y.mean, y.mean_lo};
    c.cxx = {x.ss, x.ss_lo};
    c.cyy = {y.ss, y.ss_lo};
    c.xexp = 2 * static_cast<int>(s->e2[0]);
    c.yexp = 2 * static_cast<int>(s->e2[1]);
    c.cexp = tallyf_sums2_cross_scaled(s, &c.cxy.hi, &c.cxy.lo);
    return c;
}

} // namespace

tallyf_covariance_t tallyf_covariance(const tallyf_sums2_t *s)
{
    const centred2_t c = centre(s);
    return {std::ldexp(dd_round(dd_div(c.cxy, dd(c.n))), c.cexp),
            std::ldexp(dd_round(dd_div(c.cxy, dd(c.n - 1))), c.cexp)};
}

tallyf_correlation_t tallyf_correlation(const tallyf_sums2_t *s)
{
    const centred2_t c = centre(s);
    tallyf_correlation_t k;
    k.n = s->n[0];
    // r = Cxy / sqrt(Cxx Cyy); 0 / 0 without spread.  Cxx and Cyy are
    // first brought near 1 by even powers of 2 (Cxy by half of both, and
    // to the sums' own powers), so that their product neither overflows
    // nor underflows: r is the same.
    const int ex = dd_even_exp(c.cxx), ey = dd_even_exp(c.cyy);
    const int by = c.cexp - (c.xexp + c.yexp + ex + ey) / 2;
    const dd_t r = dd_div(dd_ldexp(c.cxy, by),
                          dd_sqrt(dd_mul(dd_ldexp(c.cxx, -ex),
                                         dd_ldexp(c.cyy, -ey))));
    k.r = dd_round(r);
    if (k.n < 3 || std::isnan(k.r)) {
        k.p = NAN;
        return k;
    }
    // t = r sqrt((n - 2) / (1 - r^2)); |r| = 1 gives an infinite t, p 0.
    const dd_t one_minus = dd_sub(dd(1), dd_mul(r, r));
    const double t =
        dd_round(dd_mul(r, dd_sqrt(dd_div(dd(c.n - 2), one_minus))));
    // t_cdf takes a sample size: n - 1 of it gives n - 2 degrees of freedom.
    const uint32_t size = k.n - 1 > UINT32_MAX ? UINT32_MAX
                                               : static_cast<uint32_t>(k.n - 1);
    k.p = one_minus.hi <= 0 ? 0.0 : 2 * t_cdf(size, -std::fabs(t));
    return k;
}

tallyf_regression_t tallyf_regression(const tallyf_sums2_t *s)
{
    const centred2_t c = centre(s);
    tallyf_regression_t g;
    // Sums of x's scale are divided at Cxx's scale, those of y's at Cyy's
    // (times 2^-ex and 2^-ey, even), so that no product or quotient of
    // them leaves the normal range: the residual SD scales back by
    // 2^(ey / 2).  Sums kept at powers of 2 of their own (xexp, yexp,
    // cexp) are divided as they are kept, the quotients brought back.
    const int ex = dd_even_exp(c.cxx), ey = dd_even_exp(c.cyy);
    const dd_t slope = dd_div(dd_ldexp(c.cxy, -ex), dd_ldexp(c.cxx, -ex));
    const int slope_exp = c.cexp - c.xexp; // the slope is slope * 2^slope_exp
    g.slope = std::ldexp(dd_round(slope), slope_exp);
    dd_t fitted = dd_mul(slope, c.mx); // the slope times the mean of x
    if ((slope_exp != 0 || !std::isfinite(fitted.hi)) && c.mx.hi != 0 &&
        std::isfinite(c.mx.hi) && std::isfinite(slope.hi)) {
        const int m = std::ilogb(c.mx.hi); // the product near 1, then scaled
        fitted = dd_ldexp(dd_mul(slope, dd_ldexp(c.mx, -m)), slope_exp + m);
    }
    g.intercept = dd_round_add(c.my, dd_neg(fitted));
    // Cxy^2 / Cxx at Cyy's scale.
    const dd_t explained =
        dd_mul(slope, dd_ldexp(c.cxy, 2 * c.cexp - c.xexp - c.yexp - ey));
    const dd_t cyy = dd_ldexp(c.cyy, -ey);
    g.r_squared = dd_round(dd_div(explained, cyy));
    dd_t residual = dd_sub(cyy, explained);
    if (residual.hi < 0)
        residual = {0, 0};
    g.residual_sd = std::ldexp(
        dd_round(dd_sqrt(dd_div(residual, dd(c.n - 2)))), (c.yexp + ey) / 2);
    return g;
}
