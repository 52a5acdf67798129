// The (n + 1)p rule of quantiles on values that need not be sorted in full:
// the ranks a fraction p reads, the selection of just those ranks, and the
// value at p.
#ifndef NUMTALLY_LIB_ORDER_POINTS_H
#define NUMTALLY_LIB_ORDER_POINTS_H

#include <cstddef>
#include <cstdint>

// The values of the ranks some fractions read, and of the lowest and
// highest value; or, when sorted is not null, all the values in order.
struct tallyf_points_t {
    uint64_t n;
    const double *sorted;
    size_t count;
    size_t rank[64];        // ascending
    double value[64];
};

// Fills points for the count fractions p of the n values: selects the ranks
// they read (the values may be reordered), or sorts the values when there
// are too many such ranks for selection to pay.
void tallyf_select_points(double *values, uint64_t n, const double *p,
                          size_t count, tallyf_points_t *points);

// Points over values already sorted in the order of xt_double_cmp.
tallyf_points_t tallyf_sorted_points(const double *values, uint64_t n);

// The value at fraction p (position p (n + 1) counted from 1, interpolated
// between its two neighbours; positions outside the values read the nearest
// end), for a fraction the points were made for (or any, over sorted
// values); never overflowing where the exact interpolated value fits a
// double.  lowest and highest are the ends.  All NaN with no values and
// when a value is NaN.
double tallyf_point_at(const tallyf_points_t *points, double p);
double tallyf_points_lowest(const tallyf_points_t *points);
double tallyf_points_highest(const tallyf_points_t *points);

#endif
