// A one-block summary of kept values.
#ifndef NUMTALLY_LIB_SUMMARY_H
#define NUMTALLY_LIB_SUMMARY_H

#include <cstdint>

// Count, mean, sample SD, lowest value, quartiles (the (n + 1)p rule, as
// quantile) and highest value.  Selects the ranks it needs in place (the
// values are reordered).  Mean and SD are rounded once from double-double
// sums about the first value (scaled by a power of 2 for values beyond
// 2^500); every order statistic is NaN when a value is.
struct tallyf_summary_t {
    uint64_t count;
    double mean, sd, min, q1, median, q3, max;
};
tallyf_summary_t tallyf_summary(double *values, uint64_t n);

#endif
