// Order statistics of a record's kept values.
#include "order-stats.h"

#include <bit>
#include <cmath>
#include <cstdio>

#include "order-points.h"
#include "xt.h"

namespace {

// A record with sorted values was fed a NaN when its last value is one.
bool fed_nan(const tallyf_t *tf)
{
    return tf->num_count != 0 && std::isnan(tf->nums[tf->num_count - 1]);
}

} // namespace

double tallyf_division_point(const tallyf_t *tf, uint32_t i,
                             uint32_t partitions)
{
    const tallyf_points_t pts = tallyf_sorted_points(tf->nums, tf->num_count);
    return tallyf_point_at(&pts, i * (1.0 / partitions));
}

void tallyf_sort(tallyf_t *tf)
{
    xt_double_sort(tf->nums, tf->num_count); // the order of xt_double_cmp
}

void tallyf_quantiles(tallyf_t *tf, const char *label, uint32_t num)
{
    tallyf_sort(tf);
    const tallyf_points_t pts = tallyf_sorted_points(tf->nums, tf->num_count);
    const double lowest = tallyf_points_lowest(&pts);
    const double highest = tallyf_points_highest(&pts);

    std::printf("%s %u low            %f\n", label, num, lowest);
    if (tf->partitions >= 2) {
        const double step = 1.0 / tf->partitions;
        for (uint32_t i = 1; i < tf->partitions; ++i) {
            std::printf("%s %u quantile(%0.2f) %f\n", label, num, i * step,
                        tallyf_point_at(&pts, i * step));
        }
    }
    std::printf("%s %u high           %f\n", label, num, highest);
}

tallyf_number_t tallyf_range(const tallyf_t *tf)
{
    return tallyf_number_combine(tf->high, 2, tf->low, -2);
}

tallyf_mode_t tallyf_mode(const tallyf_t *tf)
{
    const double *v = tf->nums;
    const uint64_t n = tf->num_count;
    if (n == 0 || fed_nan(tf))
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

tallyf_number_t tallyf_iq_range(const tallyf_t *tf)
{
    return tallyf_number_combine(tallyf_division_point(tf, 3, 4), 2,
                   tallyf_division_point(tf, 1, 4), -2);
}
