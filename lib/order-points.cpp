// Quantile positions and the selection of what they read.
#include "order-points.h"

#include <cmath>

#include "xt.h"

namespace {

// The position's whole part k (from 1) and its fraction f.
struct position_t {
    uint64_t k;
    double f;
};

position_t position_of(uint64_t n, double p)
{
    const double position = p * static_cast<double>(n + 1);
    const uint64_t k = static_cast<uint64_t>(position);
    return {k, position - static_cast<double>(k)};
}

constexpr size_t kMaxRanks = 64; // beyond this, a full sort is cheaper

double rank_value(const tallyf_points_t *pts, uint64_t r)
{
    if (pts->sorted != nullptr)
        return pts->sorted[r];
    size_t lo = 0, hi = pts->count; // the ranks are ascending
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        (pts->rank[mid] <= r ? lo : hi) = mid;
    }
    return pts->value[lo];
}

} // namespace

tallyf_points_t tallyf_sorted_points(const double *values, uint64_t n)
{
    tallyf_points_t pts;
    pts.n = n;
    pts.sorted = values;
    pts.count = 0;
    return pts;
}

void tallyf_select_points(double *v, uint64_t n, const double *p, size_t count,
                          tallyf_points_t *pts)
{
    pts->n = n;
    pts->sorted = nullptr;
    pts->count = 0;
    if (n == 0)
        return;
    size_t *ranks = pts->rank;
    size_t used = 0;
    ranks[used++] = 0;
    ranks[used++] = n - 1;
    for (size_t i = 0; i < count; ++i) {
        const position_t at = position_of(n, p[i]);
        if (at.k < 1 || at.k >= n)
            continue; // an end, already wanted
        if (used + 2 > kMaxRanks) {
            xt_double_sort(v, n);
            pts->sorted = v;
            return;
        }
        ranks[used++] = at.k - 1;
        ranks[used++] = at.k;
    }
    // Ascending and distinct: an insertion sort of at most 64.
    for (size_t i = 1; i < used; ++i) {
        const size_t r = ranks[i];
        size_t j = i;
        for (; j > 0 && ranks[j - 1] > r; --j)
            ranks[j] = ranks[j - 1];
        ranks[j] = r;
    }
    size_t distinct = 0;
    for (size_t i = 0; i < used; ++i)
        if (distinct == 0 || ranks[distinct - 1] != ranks[i])
            ranks[distinct++] = ranks[i];
    pts->count = distinct;
    xt_double_select(v, n, ranks, distinct, pts->value);
}

namespace {

// No values, or a NaN among them (it sorts last): every order statistic is
// NaN, as the mean is.
bool undefined(const tallyf_points_t *pts)
{
    return pts->n == 0 || std::isnan(rank_value(pts, pts->n - 1));
}

} // namespace

double tallyf_points_lowest(const tallyf_points_t *pts)
{
    return undefined(pts) ? NAN : rank_value(pts, 0);
}

double tallyf_points_highest(const tallyf_points_t *pts)
{
    return undefined(pts) ? NAN : rank_value(pts, pts->n - 1);
}

double tallyf_point_at(const tallyf_points_t *pts, double p)
{
    const uint64_t n = pts->n;
    if (undefined(pts))
        return NAN;
    const position_t at = position_of(n, p);
    if (at.k < 1)
        return rank_value(pts, 0);
    if (at.k >= n)
        return rank_value(pts, n - 1);
    const double low = rank_value(pts, at.k - 1);
    const double high = rank_value(pts, at.k);
    if (std::isinf(low) || std::isinf(high)) {
        // (1 - f) low + f high in the extended reals: a position on a value
        // takes that value; between two, an infinity wins over a finite
        // neighbour, two equal ones give themselves, and -inf beside +inf
        // has no value (NaN, as their difference gives).
        if (at.f == 0)
            return low;
        if (std::isinf(low) && std::isinf(high) && low != high)
            return (high - low) * at.f + low;
        return std::isinf(low) ? low : high;
    }
    const double gap = high - low;
    if (std::isinf(gap) && std::isfinite(low) && std::isfinite(high)) {
        // The gap of two finite values overflowed: the same steps at half
        // scale (exact halvings of values this large), doubled at the end.
        const double half = low * 0.5;
        return ((high * 0.5 - half) * at.f + half) * 2;
    }
    return gap * at.f + low;
}
