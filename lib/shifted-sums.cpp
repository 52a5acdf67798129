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

tallyf_sums1_t tallyf_sums2_lane(const tallyf_sums2_t *s, int lane)
{
    return {s->n[lane],  s->shift[lane], s->d[lane],
            s->d_lo[lane], s->d2[lane],  s->d2_lo[lane]};
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

tallyf_centred_t tallyf_sums2_centred_scaled(const tallyf_sums2_t *s, int lane)
{
    tallyf_sums1_t one = tallyf_sums2_lane(s, lane);
    const int e = static_cast<int>(s->e2[lane]);
    if (e == 0)
        return tallyf_sums1_centred(&one);
    // The deviations' mean at their scale, added to the shift as it is.
    const double shift = one.shift;
    one.shift = 0;
    tallyf_centred_t c = tallyf_sums1_centred(&one);
    const dd_t mean = dd_add(dd(shift), dd_ldexp({c.mean, c.mean_lo}, e));
    c.mean = mean.hi;
    c.mean_lo = mean.lo;
    return c;
}

tallyf_centred_t tallyf_sums2_centred(const tallyf_sums2_t *s, int lane)
{
    tallyf_centred_t c = tallyf_sums2_centred_scaled(s, lane);
    const int e = static_cast<int>(s->e2[lane]);
    if (e != 0) {
        const dd_t ss = dd_ldexp({c.ss, c.ss_lo}, 2 * e);
        c.ss = ss.hi;
        c.ss_lo = std::isfinite(ss.hi) ? ss.lo : 0;
    }
    return c;
}

int tallyf_sums2_cross_scaled(const tallyf_sums2_t *s, double *cxy,
                              double *cxy_lo)
{
    if (s->n[0] == 0) {
        *cxy = NAN;
        *cxy_lo = 0;
        return 0;
    }
    const tallyf_sums1_t x = tallyf_sums2_lane(s, 0);
    const tallyf_sums1_t y = tallyf_sums2_lane(s, 1);
    dd_t sx, sy;
    mean_of(&x, &sx);
    const dd_t qy = mean_of(&y, &sy);
    // Sum dx dy - Sum dx Sum dy / n, at the cross products' power of 2.
    const int e = static_cast<int>(s->exy);
    const int by = static_cast<int>(s->e2[0]) + static_cast<int>(s->e2[1]) - e;
    const dd_t c = dd_sub(dd_norm(s->dxy, s->dxy_lo), dd_ldexp(dd_mul(sx, qy), by));
    *cxy = c.hi;
    *cxy_lo = c.lo;
    return e;
}

void tallyf_sums2_cross(const tallyf_sums2_t *s, double *cxy, double *cxy_lo)
{
    const int e = tallyf_sums2_cross_scaled(s, cxy, cxy_lo);
    if (e != 0) {
        *cxy = std::ldexp(*cxy, e);
        *cxy_lo = std::isfinite(*cxy) ? std::ldexp(*cxy_lo, e) : 0;
    }
}

namespace {

// A lane's sum of deviations and of their squares, at the lane's power
// of 2 undone (see e2 in shifted-sums.h).
dd_t lane_d(const tallyf_sums2_t *s, int lane)
{
    return dd_ldexp(dd_norm(s->d[lane], s->d_lo[lane]),
                    static_cast<int>(s->e2[lane]));
}

dd_t lane_d2(const tallyf_sums2_t *s, int lane)
{
    return dd_ldexp(dd_norm(s->d2[lane], s->d2_lo[lane]),
                    2 * static_cast<int>(s->e2[lane]));
}

// n c + D of a lane: c its shift, D its sum of deviations.
dd_t lane_total(const tallyf_sums2_t *s, int lane)
{
    const dd_t nc = dd_mul(dd(static_cast<double>(s->n[lane])), dd(s->shift[lane]));
    return dd_add(nc, lane_d(s, lane));
}

} // namespace

double tallyf_sums2_total(const tallyf_sums2_t *s, int lane)
{
    return s->n[lane] == 0 ? 0 : dd_round(lane_total(s, lane));
}

double tallyf_sums2_total_squares(const tallyf_sums2_t *s, int lane)
{
    if (s->n[lane] == 0)
        return 0;
    // (n c + 2 D) c + Q.
    const dd_t t = dd_add(lane_total(s, lane), lane_d(s, lane));
    return dd_round(dd_add(dd_mul(t, dd(s->shift[lane])), lane_d2(s, lane)));
}

double tallyf_sums2_total_products(const tallyf_sums2_t *s)
{
    if (s->n[0] == 0)
        return 0;
    // Sum (cx + dx)(cy + dy) = (n cx + Dx) cy + cx Dy + Sum dx dy.
    const dd_t t = dd_mul(lane_total(s, 0), dd(s->shift[1]));
    const dd_t u = dd_mul(dd(s->shift[0]), lane_d(s, 1));
    const dd_t c = dd_ldexp(dd_norm(s->dxy, s->dxy_lo), static_cast<int>(s->exy));
    return dd_round(dd_add(dd_add(t, u), c));
}
