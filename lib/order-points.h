// The (n + 1)p rule of quantiles on values that need not be sorted in full:
// the ranks a fraction p reads, the selection of just those ranks, and the
// value at p.
#ifndef NUMTALLY_LIB_ORDER_POINTS_H
#define NUMTALLY_LIB_ORDER_POINTS_H

#include <cstddef>
#include <cstdint>

// The value at fraction p of n values (position p (n + 1) counted from 1,
// interpolated between its two neighbours; positions outside the values read
// the nearest end), from values whose ranks tallyf_select_points has put in
// place for p (or that are sorted).  NaN with no values, and when any value
// is NaN (the highest rank holds one then).
double tallyf_point_at(const double *values, uint64_t n, double p);

// Puts in place, in the order of xt_double_cmp, the lowest and the highest
// value and those that tallyf_point_at reads for each of the count
// fractions; sorts outright when there are too many such ranks for
// selection to pay.
void tallyf_select_points(double *values, uint64_t n, const double *p,
                          size_t count);

#endif
