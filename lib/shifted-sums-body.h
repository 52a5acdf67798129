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

// Two lanes, x's and y's: both variables of a pair take the same steps as
// add1's, side by side, with the same roundings.
typedef double pair_t __attribute__((vector_size(16)));

template <bool Fma>
[[gnu::always_inline]] inline pair_t product_error(pair_t a, pair_t b, pair_t p)
{
    if constexpr (Fma)
        return pair_t{__builtin_fma(a[0], b[0], -p[0]),
                      __builtin_fma(a[1], b[1], -p[1])};
    else
        return error_free::product_error(a, b, p);
}

// Adds p + p_err to both lanes of (hi, lo), as accumulate does.
[[gnu::always_inline]] inline void accumulate2(double *hi_x, double *lo_x,
                                               double *hi_y, double *lo_y,
                                               pair_t p, pair_t p_err)
{
    const pair_t hi = {*hi_x, *hi_y};
    const pair_t lo = {*lo_x, *lo_y};
    const pair_t t = hi + p;
    const pair_t l = lo + (error_free::sum_error(hi, p, t) + p_err);
    *hi_x = t[0];
    *hi_y = t[1];
    *lo_x = l[0];
    *lo_y = l[1];
}

template <bool Fma>
[[gnu::always_inline]] inline void add2(tallyf_sums2_t *s, double x, double y)
{
    if (s->x.n == 0)
        s->x.shift = x;
    if (s->y.n == 0)
        s->y.shift = y;
    const pair_t v = {x, y};
    const pair_t shift = {s->x.shift, s->y.shift};
    const pair_t d = v - shift;
    const pair_t e = error_free::sum_error(v, -shift, d);
    accumulate2(&s->x.d, &s->x.d_lo, &s->y.d, &s->y.d_lo, d, e);
    const pair_t q = d * d;
    accumulate2(&s->x.d2, &s->x.d2_lo, &s->y.d2, &s->y.d2_lo, q,
                product_error<Fma>(d, d, q) + 2 * d * e);
    ++s->x.n;
    ++s->y.n;
    const double dx = d[0], dy = d[1], ex = e[0], ey = e[1];
    const double p = dx * dy;
    accumulate(&s->dxy, &s->dxy_lo, p,
               product_error<Fma>(dx, dy, p) + (dx * ey + ex * dy));
}

} // namespace tallyf_sums_body

#endif
