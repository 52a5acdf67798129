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

} // namespace

double tallyf_point_at(const double *v, uint64_t n, double p)
{
    if (n == 0 || std::isnan(v[n - 1]))
        return NAN;
    const position_t at = position_of(n, p);
    if (at.k < 1)
        return v[0];
    if (at.k >= n)
        return v[n - 1];
    return (v[at.k] - v[at.k - 1]) * at.f + v[at.k - 1];
}

void tallyf_select_points(double *v, uint64_t n, const double *p, size_t count)
{
    if (n == 0)
        return;
    size_t ranks[kMaxRanks];
    size_t used = 0;
    ranks[used++] = 0;
    ranks[used++] = n - 1;
    for (size_t i = 0; i < count; ++i) {
        const position_t at = position_of(n, p[i]);
        if (at.k < 1 || at.k >= n)
            continue; // an end, already wanted
        if (used + 2 > kMaxRanks) {
            xt_double_sort(v, n);
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
    xt_double_select(v, n, ranks, distinct);
}
