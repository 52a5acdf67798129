// Shifted sums without lost rounding errors.
#include "shifted-sums.h"

#include <cmath>

#include "double-double.h"
#include "shifted-sums-body.h"

namespace {

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
    tallyf_sums_body::add1<false>(s, x);
}

void tallyf_sums2_add(tallyf_sums2_t *s, double x, double y)
{
    tallyf_sums_body::add2<false>(s, x, y);
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
