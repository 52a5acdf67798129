// Quantile positions and the selection of what they read.
#include "order-points.h"

#include <cmath>
#include <mutex>
#include <vector>

#include "xt.h"

namespace {

// The position's whole part k (from 1) and its fraction f.
struct position_t {
    uint64_t k;
    double f;
};

int quantile_type = 6;

// The whole part of a position, and its fraction: for the discontinuous
// types a fraction within a few units of rounding of a whole position is
// taken as none (p is rarely exact: percentile 10 is 0.1).
position_t split(long double h)
{
    if (h <= 0)
        return {0, 0};
    const uint64_t k = static_cast<uint64_t>(h);
    return {k, static_cast<double>(h - static_cast<long double>(k))};
}

// The position num / d, its fraction from the exact remainder (thirds
// and eighths of a position would not be exact as a quotient).
position_t split_over(long double num, int d)
{
    if (num <= 0)
        return {0, 0};
    const long double k = std::floor(num / d);
    const long double rem = num - k * d;
    if (rem >= d)
        return {static_cast<uint64_t>(k) + 1, 0};
    if (rem < 0)
        return {static_cast<uint64_t>(k) - 1,
                static_cast<double>((rem + d) / d)};
    return {static_cast<uint64_t>(k), static_cast<double>(rem / d)};
}

position_t position_of(uint64_t n, double p)
{
    if (quantile_type == 6) {
        const double position = p * static_cast<double>(n + 1);
        const uint64_t k = static_cast<uint64_t>(position);
        return {k, position - static_cast<double>(k)};
    }
    const long double N = static_cast<long double>(n);
    const long double P = p;
    constexpr long double fuzz = 4 * 2.220446049250313e-16L;
    switch (quantile_type) {
    case 1:
    case 2:
    case 3: {
        // x_j where np (less a half for type 3) falls on a whole j, or
        // the next value; type 2 averages at whole positions, type 3 takes
        // the even one of the two.
        const long double h = N * P - (quantile_type == 3 ? 0.5L : 0.0L);
        const long double j = std::floor(h + fuzz);
        const bool whole = std::fabs(h - j) <= fuzz;
        const uint64_t k = j <= 0 ? 0 : static_cast<uint64_t>(j);
        if (!whole)
            return {k + 1, 0};
        if (quantile_type == 1)
            return {k, 0};
        if (quantile_type == 2)
            return {k, 0.5};
        return (k % 2 == 0) ? position_t{k, 0} : position_t{k + 1, 0};
    }
    case 4:
        return split(N * P);
    case 5:
        return split(N * P + 0.5L);
    case 7:
        return split((N - 1) * P + 1);
    case 8:
        return split_over((3 * N + 1) * P + 1, 3);
    default:
        return split_over((8 * N + 2) * P + 3, 8);
    }
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

void tallyf_choose_quantile_type(int type) { quantile_type = type; }

int tallyf_quantile_type() { return quantile_type; }

void tallyf_median_at(uint64_t n, uint64_t *rank, bool *two)
{
    const position_t at = position_of(n, 0.5);
    if (at.k < 1 || at.k >= n || at.f == 0) {
        *rank = at.k < 1 ? 0 : at.k >= n ? n - 1 : at.k - 1;
        *two = false;
        return;
    }
    *rank = at.k - 1;
    *two = true; // f is a half: at p = 1/2 no type reads another fraction
}

tallyf_points_t tallyf_sorted_points(const double *values, uint64_t n)
{
    tallyf_points_t pts;
    pts.n = n;
    pts.sorted = values;
    pts.count = 0;
    return pts;
}

namespace {

struct known_t {
    const double *v;
    uint64_t n;
};
std::mutex known_mutex;

// Never destroyed: the runs that forget their values at the process's end
// may outlive a static of this file.
std::vector<known_t> &known_list()
{
    static auto *known = new std::vector<known_t>;
    return *known;
}

} // namespace

void tally_values_known_sorted(const double *v, uint64_t n)
{
    std::lock_guard<std::mutex> lock(known_mutex);
    known_list().push_back({v, n});
}

bool tally_values_sorted(const double *v, uint64_t n)
{
    std::lock_guard<std::mutex> lock(known_mutex);
    for (const known_t &k : known_list())
        if (k.v == v && k.n == n)
            return true;
    return false;
}

void tally_values_forget_sorted(const double *v)
{
    std::lock_guard<std::mutex> lock(known_mutex);
    std::erase_if(known_list(), [v](const known_t &k) { return k.v == v; });
}

void tallyf_select_points(double *v, uint64_t n, const double *p, size_t count,
                          tallyf_points_t *pts)
{
    pts->n = n;
    pts->sorted = nullptr;
    pts->count = 0;
    if (n == 0)
        return;
    if (tally_values_sorted(v, n)) {
        pts->sorted = v;
        return;
    }
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
