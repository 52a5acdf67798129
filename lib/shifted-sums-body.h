// The adds of the shifted sums as inline bodies, for the pass to inline
// into its per-build feeding.  Internal to the library.
#ifndef NUMTALLY_LIB_SHIFTED_SUMS_BODY_H
#define NUMTALLY_LIB_SHIFTED_SUMS_BODY_H

#include "error-free.h"
#include "shifted-sums.h"

// The bodies of the adds, inlined where a pass feeds pairs: the rounding
// error of a product by a fused multiply-add (Fma) or by Dekker's product,
// the same exact error either way.
namespace tallyf_sums_body {

template <bool Fma>
[[gnu::always_inline]] inline double product_error(double a, double b, double p)
{
    if constexpr (Fma)
        return __builtin_fma(a, b, -p);
    else
        return error_free::product_error(a, b, p);
}

// x - shift exactly, as d + e; the first value becomes the shift.
[[gnu::always_inline]] inline void deviation(tallyf_sums1_t *s, double x,
                                             double *d, double *e)
{
    if (s->n == 0)
        s->shift = x;
    *d = x - s->shift;
    *e = error_free::sum_error(x, -s->shift, *d);
}

// Adds p + p_err to the pair (hi, lo), in the manner of Sum2.
[[gnu::always_inline]] inline void accumulate(double *hi, double *lo, double p,
                                              double p_err)
{
    const double t = *hi + p;
    *lo += error_free::sum_error(*hi, p, t) + p_err;
    *hi = t;
}

// Adds the deviation d + e.  The first value is one of the data, so the
// sum of squared deviations from it is at most n + 1 times the one about
// the mean: what cancels at the end is bounded.  (d + e)^2 leaves out e^2,
// below 2^-106 of d^2.
template <bool Fma>
[[gnu::always_inline]] inline void add_deviation(tallyf_sums1_t *s, double d,
                                                 double e)
{
    accumulate(&s->d, &s->d_lo, d, e);
    const double p = d * d;
    accumulate(&s->d2, &s->d2_lo, p, product_error<Fma>(d, d, p) + 2 * d * e);
    ++s->n;
}

template <bool Fma>
[[gnu::always_inline]] inline void add1(tallyf_sums1_t *s, double x)
{
    double d, e;
    deviation(s, x, &d, &e);
    add_deviation<Fma>(s, d, e);
}

template <bool Fma>
[[gnu::always_inline]] inline void add2(tallyf_sums2_t *s, double x, double y)
{
    double dx, ex, dy, ey;
    deviation(&s->x, x, &dx, &ex);
    deviation(&s->y, y, &dy, &ey);
    add_deviation<Fma>(&s->x, dx, ex);
    add_deviation<Fma>(&s->y, dy, ey);
    const double p = dx * dy;
    accumulate(&s->dxy, &s->dxy_lo, p,
               product_error<Fma>(dx, dy, p) + (dx * ey + ex * dy));
}

} // namespace tallyf_sums_body

#endif
