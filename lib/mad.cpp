// Median absolute deviation: the deviations come in ascending order by
// merging the values below the median (walking down) with those above it
// (walking up), so no second sort is needed.
#include "mad.h"

#include <cmath>
#include <initializer_list>

#include "double-double.h"
#include "order-points.h"

namespace {

struct walk_t {
    const double *v;
    int64_t left, right; // next candidates below and above the median
    int64_t n;
    dd_t m, twice_m;     // twice_m times half
    double half;         // 1, or 0.5 where a sum of two values may overflow

    // The exact sum of two values, times half.
    dd_t sum(double a, double b) const { return dd_sum(a * half, b * half); }

    bool left_ok() const { return left >= 0; }
    bool right_ok() const { return right < n; }

    dd_t left_dev() const
    {
        return std::isinf(v[left]) ? dd(INFINITY) : dd_sub(m, dd(v[left]));
    }
    dd_t right_dev() const
    {
        return std::isinf(v[right]) ? dd(INFINITY) : dd_sub(dd(v[right]), m);
    }

    // The next deviation in ascending order.
    dd_t next()
    {
        bool take_right;
        if (!left_ok())
            take_right = true;
        else if (!right_ok())
            take_right = false;
        else if (std::isinf(v[left]) || std::isinf(v[right]))
            take_right = std::isinf(v[left]);
        else // v[right] - M < M - v[left] exactly when v[l] + v[r] < 2M
            take_right = dd_cmp(sum(v[left], v[right]), twice_m) < 0;
        return take_right ? right_dev_then_step() : left_dev_then_step();
    }

private:
    dd_t right_dev_then_step() { const dd_t d = right_dev(); ++right; return d; }
    dd_t left_dev_then_step() { const dd_t d = left_dev(); --left; return d; }
};

} // namespace

tallyf_mad_t tallyf_mad(const double *v, uint64_t count)
{
    constexpr tallyf_mad_t none = {NAN, NAN};
    if (count == 0 || std::isnan(v[count - 1]))
        return none;
    const int64_t n = static_cast<int64_t>(count);
    walk_t w;
    w.v = v;
    w.n = n;
    // Values of 2^1022 and beyond are compared at half their size, where
    // halving is exact, so that no sum of two overflows; a halved subnormal
    // moves by at most 2^-1075, which can only swap two deviations that
    // close.
    double largest = 0;
    for (const double x : {v[0], v[n - 1]})
        if (std::isfinite(x))
            largest = std::fmax(largest, std::fabs(x));
    w.half = largest >= 0x1p1022 ? 0.5 : 1.0;
    // The median: one value, or the mean of two neighbours (the quantile
    // type says which).
    uint64_t at;
    bool two;
    tallyf_median_at(count, &at, &two);
    const int64_t c = static_cast<int64_t>(at);
    if (!two) {
        w.m = dd(v[c]);
        w.twice_m = dd(2 * w.half * v[c]);
        w.left = c;
        w.right = c + 1;
    } else {
        w.twice_m = w.sum(v[c], v[c + 1]);
        w.m = w.half == 1 ? dd_t{w.twice_m.hi / 2, w.twice_m.lo / 2}
                          : w.twice_m;
        w.left = c;
        w.right = c + 1;
    }
    if (!std::isfinite(w.twice_m.hi))
        return none; // an infinite median
    // The median of the deviations, at the same ranks as the values'.
    for (int64_t i = 0; i < c; ++i)
        w.next();
    dd_t mad = w.next();
    if (two) {
        const dd_t upper = w.next();
        mad = std::isinf(upper.hi) ? upper
                                   : dd_div(dd_add(mad, upper), dd(2));
    }
    tallyf_mad_t r;
    r.raw = dd_round(mad);
    if (std::isinf(mad.hi) || mad.hi == 0) {
        r.scaled = mad.hi;
        return r;
    }
    // Times 1.4826 with the exponent taken out, so that neither the product
    // nor the quotient leaves the range of doubles on the way.
    const int e = std::ilogb(mad.hi);
    const dd_t unit = {std::ldexp(mad.hi, -e), std::ldexp(mad.lo, -e)};
    r.scaled =
        std::ldexp(dd_round(dd_div(dd_mul(unit, dd(14826)), dd(10000))), e);
    return r;
}
