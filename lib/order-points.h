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

// Values known to be sorted already (kept values merged from sorted runs,
// lib/value-spill.h): the order statistics read them where they lie,
// without sorting or selecting (which would write every page of them),
// until forgotten.
void tally_values_known_sorted(const double *v, uint64_t n);
bool tally_values_sorted(const double *v, uint64_t n);
void tally_values_forget_sorted(const double *v);

// Fills points for the count fractions p of the n values: selects the ranks
// they read (the values may be reordered), or sorts the values when there
// are too many such ranks for selection to pay.
void tallyf_select_points(double *values, uint64_t n, const double *p,
                          size_t count, tallyf_points_t *points);

// Points over values already sorted in the order of xt_double_cmp.
tallyf_points_t tallyf_sorted_points(const double *values, uint64_t n);

// The definition of the quantiles, Hyndman and Fan's 1 to 9 (as R's
// quantile(type = N)): 6, the (n + 1)p rule below, unless a run sets
// another before any quantile is computed.  Every quantile reads it: the
// quantile functions, median, quartile, percentile, iq-range, box-plot,
// summary, and the medians of mad (tallyf_median_at).
void tallyf_choose_quantile_type(int type);
int tallyf_quantile_type();

// The median of n sorted values under the quantile type: the 0-based rank
// *rank, and *two when it is the mean of that rank's value and the next.
void tallyf_median_at(uint64_t n, uint64_t *rank, bool *two);

// The value at fraction p (under type 6, position p (n + 1) counted from 1, interpolated
// between its two neighbours; positions outside the values read the nearest
// end), for a fraction the points were made for (or any, over sorted
// values); never overflowing where the exact interpolated value fits a
// double.  lowest and highest are the ends.  All NaN with no values and
// when a value is NaN.
double tallyf_point_at(const tallyf_points_t *points, double p);
double tallyf_points_lowest(const tallyf_points_t *points);
double tallyf_points_highest(const tallyf_points_t *points);

#endif
