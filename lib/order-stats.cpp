// Order statistics of kept values.
#include "order-stats.h"

#include <bit>
#include <cmath>

#include "order-points.h"
#include "xt.h"

double tally_division_point(const double *v, uint64_t n, uint32_t i,
                            uint32_t partitions)
{
    const tallyf_points_t pts = tallyf_sorted_points(v, n);
    return tallyf_point_at(&pts, i * (1.0 / partitions));
}

void tally_sort_values(double *v, uint64_t n)
{
    if (!tally_values_sorted(v, n))
        xt_double_sort(v, n); // the order of xt_double_cmp
}

tallyf_mode_t tally_mode(const double *v, uint64_t n)
{
    // Sorted values hold a NaN when the last is one.
    if (n == 0 || std::isnan(v[n - 1]))
        return {NAN, 0};
    // Sorted, so equal bits stand together.  A run replaces the best only
    // when strictly longer, which keeps the smallest value of a tie; the
    // run length itself is kept without a branch.
    uint64_t best_end = 0, best_count = 1, run = 1;
    uint64_t prev = std::bit_cast<uint64_t>(v[0]);
    for (uint64_t i = 1; i < n; ++i) {
        const uint64_t cur = std::bit_cast<uint64_t>(v[i]);
        run = cur == prev ? run + 1 : 1;
        prev = cur;
        if (run > best_count) {
            best_count = run;
            best_end = i;
        }
    }
    return {v[best_end], best_count};
}

tallyf_number_t tally_iq_range(const double *v, uint64_t n)
{
    return tallyf_number_combine(tally_division_point(v, n, 3, 4), 2,
                                 tally_division_point(v, n, 1, 4), -2);
}
