// Median absolute deviation: the deviations come in ascending order by
// merging the values below the median (walking down) with those above it
// (walking up), so no second sort is needed.
#include "mad.h"

#include <cmath>

#include "double-double.h"

namespace {

struct walk_t {
    const double *v;
    int64_t left, right; // next candidates below and above the median
    int64_t n;
    dd_t m, twice_m;

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
            take_right = dd_cmp(dd_sum(v[left], v[right]), twice_m) < 0;
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
    if (n % 2 == 1) {
        w.m = dd(v[n / 2]);
        w.twice_m = dd(2 * v[n / 2]);
        w.left = n / 2;
        w.right = n / 2 + 1;
    } else {
        w.twice_m = dd_sum(v[n / 2 - 1], v[n / 2]);
        w.m = {w.twice_m.hi / 2, w.twice_m.lo / 2};
        w.left = n / 2 - 1;
        w.right = n / 2;
    }
    if (!std::isfinite(w.twice_m.hi))
        return none; // an infinite median, or twice it beyond the doubles
    // The middle deviation(s), at the same positions as the median's.
    for (int64_t i = 1; i < (n + 1) / 2; ++i)
        w.next();
    dd_t mad = w.next();
    if (n % 2 == 0) {
        const dd_t upper = w.next();
        mad = std::isinf(upper.hi) ? upper
                                   : dd_div(dd_add(mad, upper), dd(2));
    }
    tallyf_mad_t r;
    r.raw = dd_round(mad);
    r.scaled = std::isinf(mad.hi)
                   ? mad.hi
                   : dd_round(dd_div(dd_mul(mad, dd(14826)), dd(10000)));
    return r;
}
