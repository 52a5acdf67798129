// Statistics of kept values in sorted order: quantiles, range,
// mode and interquartile range.
#ifndef NUMTALLY_LIB_ORDER_STATS_H
#define NUMTALLY_LIB_ORDER_STATS_H

#include <cstdint>

#include "tallyf-number.h"

// The value at division point i of partitions equal divisions (the (n + 1)p
// rule, positions outside the values reading the nearest end) of the sorted
// values v[0..n); exactly what the quantile lines print for them.  NaN when
// the values include a NaN.  Never overflows where the exact interpolated
// value fits a double.
double tally_division_point(const double *v, uint64_t n, uint32_t i,
                            uint32_t partitions);

// Sorts v[0..n) in place, in the order of xt_double_cmp; nothing to do
// for values known to be sorted.
void tally_sort_values(double *v, uint64_t n);

// The smallest of the most frequent of the sorted values v[0..n)
// (bit-identical values are equal) and how often it occurs; NaN and 0 when
// there are no values or a NaN among them.
struct tallyf_mode_t {
    double value;
    uint64_t count;
};
tallyf_mode_t tally_mode(const double *v, uint64_t n);

// Third quartile minus first of the sorted values v[0..n), exact.
tallyf_number_t tally_iq_range(const double *v, uint64_t n);

// The record's entry points over these (tallyf_sort, tallyf_mode, ...) are
// the installed record's, declared in tallyf.h.

#endif
