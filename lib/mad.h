// The median absolute deviation of sorted values.
#ifndef NUMTALLY_LIB_MAD_H
#define NUMTALLY_LIB_MAD_H

#include <cstdint>

// The median of |x - M| over the values, M their median (the middle value,
// or the mean of the two middle ones), and that times 1.4826 (the factor
// that makes it estimate the SD of normal data).  values must be sorted in
// the order of xt_double_cmp (NaN last).  Deviations are ordered exactly and
// the results rounded once from about twice double precision.  NaN without
// values or with a NaN; an infinite median gives NaN too; an infinite value
// has an infinite deviation.
struct tallyf_mad_t {
    double raw, scaled;
};
tallyf_mad_t tallyf_mad(const double *sorted, uint64_t n);

#endif
