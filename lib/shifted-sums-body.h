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

// One variable's sums, wherever they stand: a tallyf_sums1_t or one lane
// of a tallyf_sums2_t.
struct lane_t {
    uint64_t *n;
    double *shift, *d, *d_lo, *d2, *d2_lo;
};

// Adds p + p_err to the pair (hi, lo), in the manner of Sum2.
[[gnu::always_inline]] inline void accumulate(double *hi, double *lo, double p,
                                              double p_err)
{
    const double t = *hi + p;
    *lo += error_free::sum_error(*hi, p, t) + p_err;
    *hi = t;
}

// Adds x: its deviation from the shift (the first value) exactly, as
// d + e, then d + e and (d + e)^2.  The first value is one of the data, so
// the sum of squared deviations from it is at most n + 1 times the one
// about the mean: what cancels at the end is bounded.  (d + e)^2 leaves
// out e^2, below 2^-106 of d^2.
template <bool Fma>
[[gnu::always_inline]] inline void add1(lane_t s, double x)
{
    if (*s.n == 0)
        *s.shift = x;
    const double d = x - *s.shift;
    const double e = error_free::sum_error(x, -*s.shift, d);
    accumulate(s.d, s.d_lo, d, e);
    const double p = d * d;
    accumulate(s.d2, s.d2_lo, p, product_error<Fma>(d, d, p) + 2 * d * e);
    ++*s.n;
}

template <bool Fma>
[[gnu::always_inline]] inline void add1(tallyf_sums1_t *s, double x)
{
    add1<Fma>(lane_t{&s->n, &s->shift, &s->d, &s->d_lo, &s->d2, &s->d2_lo}, x);
}

template <bool Fma>
[[gnu::always_inline]] inline void add1(tallyf_sums2_t *s, int lane, double x)
{
    add1<Fma>(lane_t{&s->n[lane], &s->shift[lane], &s->d[lane],
                     &s->d_lo[lane], &s->d2[lane], &s->d2_lo[lane]},
              x);
}

// Both lanes of a pair: the same steps as add1's, side by side, with the
// same roundings.
typedef double pair_t __attribute__((vector_size(16)));

[[gnu::always_inline]] inline pair_t load(const double *lanes)
{
    pair_t v;
    __builtin_memcpy(&v, lanes, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store(double *lanes, pair_t v)
{
    __builtin_memcpy(lanes, &v, sizeof v);
}

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
[[gnu::always_inline]] inline void accumulate2(double *hi, double *lo,
                                               pair_t p, pair_t p_err)
{
    const pair_t h = load(hi);
    const pair_t t = h + p;
    store(lo, load(lo) + (error_free::sum_error(h, p, t) + p_err));
    store(hi, t);
}

template <bool Fma>
[[gnu::always_inline]] inline void add2(tallyf_sums2_t *s, double x, double y)
{
    if (__builtin_expect(s->n[0] == 0 || s->n[1] == 0, 0)) {
        // The first pair, off the common path: were the shifts stored on
        // every pair, the vector load of both would wait on two stores.
        if (s->n[0] == 0)
            s->shift[0] = x;
        if (s->n[1] == 0)
            s->shift[1] = y;
    }
    const pair_t v = {x, y};
    const pair_t shift = load(s->shift);
    const pair_t d = v - shift;
    const pair_t e = error_free::sum_error(v, -shift, d);
    accumulate2(s->d, s->d_lo, d, e);
    const pair_t q = d * d;
    accumulate2(s->d2, s->d2_lo, q, product_error<Fma>(d, d, q) + 2 * d * e);
    ++s->n[0];
    ++s->n[1];
    const double dx = d[0], dy = d[1], ex = e[0], ey = e[1];
    const double p = dx * dy;
    accumulate(&s->dxy, &s->dxy_lo, p,
               product_error<Fma>(dx, dy, p) + (dx * ey + ex * dy));
}

} // namespace tallyf_sums_body

#endif
