// The installed record's entry points over its kept values and its counts:
// each reads the record and hands its values or sums to the statistic.
#include "tallyf.h"

#include <cstdio>

#include "order-points.h"

double tallyf_division_point(const tallyf_t *tf, uint32_t i,
                             uint32_t partitions)
{
    return tally_division_point(tf->nums, tf->num_count, i, partitions);
}

void tallyf_sort(tallyf_t *tf)
{
    tally_sort_values(tf->nums, tf->num_count);
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
    return tally_mode(tf->nums, tf->num_count);
}

tallyf_number_t tallyf_iq_range(const tallyf_t *tf)
{
    return tally_iq_range(tf->nums, tf->num_count);
}

tallyf_box_t tallyf_box(const tallyf_t *tf)
{
    return tally_box(tf->nums, tf->num_count);
}

bool tallyf_box_draw(const tallyf_t *tf, const tallyf_box_t *box, char *line,
                     size_t width)
{
    return tally_box_draw(tf->nums, tf->num_count, box, line, width);
}

bool tallyf_counts_valid(const tallyf_t *tf, double *bad)
{
    return tally_counts_valid(tf->num_count, tf->low, tf->high, bad);
}

tallyf_chi_sq_t tallyf_chi_sq_fit(const tallyf_t *tf)
{
    if (tf->num_count < 2 || !(tf->sum != 0))
        return tally_chi_sq(tf->num_count, tf->sum, 0, 0, 0);
    int exp;
    const double ss = tallyf_sum_squares_scaled(tf, &exp);
    return tally_chi_sq(tf->num_count, tf->sum, tallyf_mean(tf), ss, exp);
}
