// Skewness and kurtosis from deviations about the mean.
#include "moments.h"

#include <cmath>

#include "double-double.h"

tallyf_moments_t tallyf_moments(const double *v, uint64_t n)
{
    constexpr tallyf_moments_t none = {NAN, NAN, NAN, NAN};
    if (n < 2)
        return none;
    dd_sum_t sum;
    for (uint64_t i = 0; i < n; ++i) {
        if (!std::isfinite(v[i]))
            return none;
        sum.add(v[i]);
    }
    const double count = static_cast<double>(n);
    // Deviations from m, the mean rounded to a double, are exact pairs
    // (d + e); the moments about the exact mean follow from those about m
    // through delta = mean - m = A1 / n, so that no error of the order of
    // the mean itself (only of the deviations) enters.
    const double m = dd_round(dd_div(sum.value(), dd(count)));
    // The moments do not change when every deviation is scaled by the same
    // power of 2, which keeps the fourth powers inside the double range.
    double largest = 0;
    for (uint64_t i = 0; i < n; ++i)
        largest = std::fmax(largest, std::fabs(v[i] - m));
    if (!(largest > 0))
        return none; // no spread
    const int shift = -std::ilogb(largest);
    dd_sum_t a1, a2, a3, a4;
    for (uint64_t i = 0; i < n; ++i) {
        const dd_t d0 = dd_sum(v[i], -m);
        const dd_t d = {std::ldexp(d0.hi, shift), std::ldexp(d0.lo, shift)};
        const dd_t d2 = dd_mul(d, d);
        a1.add(d);
        a2.add(d2);
        a3.add(dd_mul(d2, d));
        a4.add(dd_mul(d2, d2));
    }
    const dd_t nn = dd(count);
    const dd_t delta = dd_div(a1.value(), nn);
    const dd_t A2 = a2.value(), A3 = a3.value(), A4 = a4.value();
    const dd_t delta2 = dd_mul(delta, delta);
    // S2 = A2 - n delta^2, S3 = A3 - 3 delta A2 + 2 n delta^3,
    // S4 = A4 - 4 delta A3 + 6 delta^2 A2 - 3 n delta^4.
    const dd_t s2 = dd_sub(A2, dd_mul(nn, delta2));
    const dd_t s3 = dd_add(dd_sub(A3, dd_mul(dd(3), dd_mul(delta, A2))),
                           dd_mul(dd(2 * count), dd_mul(delta2, delta)));
    const dd_t s4 = dd_sub(
        dd_add(dd_sub(A4, dd_mul(dd(4), dd_mul(delta, A3))),
               dd_mul(dd(6), dd_mul(delta2, A2))),
        dd_mul(dd(3 * count), dd_mul(delta2, delta2)));
    // g1 = sqrt(n) S3 / S2^1.5, g2 = n S4 / S2^2 - 3.
    const dd_t g1 = dd_div(dd_mul(dd_sqrt(nn), s3), dd_mul(s2, dd_sqrt(s2)));
    const dd_t g2 = dd_sub(dd_div(dd_mul(nn, s4), dd_mul(s2, s2)), dd(3));
    tallyf_moments_t r;
    // Two values lie symmetrically about their mean: the skewness is exactly
    // 0, where the sums above leave a residue of about 2^-100 of either sign.
    r.g1 = n == 2 ? 0.0 : dd_round(g1);
    r.g2 = dd_round(g2);
    r.G1 = n < 3 ? NAN
                 : dd_round(dd_div(dd_mul(g1, dd_sqrt(dd_prod(count, count - 1))),
                                   dd(count - 2)));
    r.G2 = n < 4 ? NAN
                 : dd_round(dd_div(
                       dd_mul(dd_add(dd_mul(dd(count + 1), g2), dd(6)),
                              dd(count - 1)),
                       dd_prod(count - 2, count - 3)));
    return r;
}
