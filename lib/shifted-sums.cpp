// Shifted sums without lost rounding errors.
#include "shifted-sums.h"

#include <cmath>

#include "double-double.h"

namespace {

// x - shift exactly, as d + e; the first value becomes the shift.
inline void deviation(tallyf_sums1_t *s, double x, double *d, double *e)
{
    if (s->n == 0)
        s->shift = x;
    *d = x - s->shift;
    *e = error_free::sum_error(x, -s->shift, *d);
}

// Adds p + p_err to the pair (hi, lo), the manner of Sum2.
inline void accumulate(double *hi, double *lo, double p, double p_err)
{
    const double t = *hi + p;
    *lo += error_free::sum_error(*hi, p, t) + p_err;
    *hi = t;
}

// Adds the deviation d + e to the sums of s.  The first value is one of the
// data, so the sum of squared deviations from it is at most n + 1 times the
// one about the mean: what cancels at the end is bounded.
inline void add_deviation(tallyf_sums1_t *s, double d, double e)
{
    accumulate(&s->d, &s->d_lo, d, e);
    const double p = d * d;
    // (d + e)^2 leaving out e^2, below 2^-106 of d^2.
    accumulate(&s->d2, &s->d2_lo, p, error_free::square_error(d, p) + 2 * d * e);
    ++s->n;
}

dd_t mean_of(const tallyf_sums1_t *s, dd_t *sum)
{
    *sum = dd_norm(s->d, s->d_lo);
    return dd_div(*sum, dd(static_cast<double>(s->n)));
}

} // namespace

void tallyf_sums1_init(tallyf_sums1_t *s)
{
    *s = {};
}

void tallyf_sums2_init(tallyf_sums2_t *s)
{
    *s = {};
}

void tallyf_sums1_add(tallyf_sums1_t *s, double x)
{
    double d, e;
    deviation(s, x, &d, &e);
    add_deviation(s, d, e);
}

void tallyf_sums2_add(tallyf_sums2_t *s, double x, double y)
{
    double dx, ex, dy, ey;
    deviation(&s->x, x, &dx, &ex);
    deviation(&s->y, y, &dy, &ey);
    add_deviation(&s->x, dx, ex);
    add_deviation(&s->y, dy, ey);
    const double p = dx * dy;
    accumulate(&s->dxy, &s->dxy_lo, p,
               error_free::product_error(dx, dy, p) + (dx * ey + ex * dy));
}

tallyf_centred_t tallyf_sums1_centred(const tallyf_sums1_t *s)
{
    tallyf_centred_t c;
    c.n = s->n;
    if (s->n == 0) {
        c.mean = c.ss = NAN;
        c.mean_lo = c.ss_lo = 0;
        return c;
    }
    dd_t sum;
    const dd_t q = mean_of(s, &sum); // mean of the deviations
    const dd_t mean = dd_add(dd(s->shift), q);
    // Q - S * S / n = Q - S * q.
    dd_t ss = dd_sub(dd_norm(s->d2, s->d2_lo), dd_mul(sum, q));
    if (ss.hi < 0)
        ss = {0, 0}; // the exact value is never below 0
    c.mean = mean.hi;
    c.mean_lo = mean.lo;
    c.ss = ss.hi;
    c.ss_lo = ss.lo;
    return c;
}

void tallyf_sums2_cross(const tallyf_sums2_t *s, double *cxy, double *cxy_lo)
{
    if (s->x.n == 0) {
        *cxy = NAN;
        *cxy_lo = 0;
        return;
    }
    dd_t sx, sy;
    mean_of(&s->x, &sx);
    const dd_t qy = mean_of(&s->y, &sy);
    const dd_t c = dd_sub(dd_norm(s->dxy, s->dxy_lo), dd_mul(sx, qy));
    *cxy = c.hi;
    *cxy_lo = c.lo;
}
