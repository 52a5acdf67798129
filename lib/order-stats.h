// Statistics of a record's kept values in sorted order: quantiles, range,
// mode and interquartile range.
#ifndef NUMTALLY_LIB_ORDER_STATS_H
#define NUMTALLY_LIB_ORDER_STATS_H

#include <cstdint>

#include "tallyf.h"
#include "tallyf-number.h"

// Sorts the record's values in place and prints its lowest value, one line per
// inner division point and its highest value, each headed by label and num.
// With no values, or a NaN among them, every line shows nan.
void tallyf_quantiles(tallyf_t *tf, const char *label, uint32_t num);

// The value at division point i of partitions equal divisions (the (n + 1)p
// rule, positions outside the values reading the nearest end) of a record
// whose values are sorted; exactly what tallyf_quantiles prints for it.
// NaN when the values include a NaN.  Never overflows where the exact
// interpolated value fits a double.
double tallyf_division_point(const tallyf_t *tf, uint32_t i,
                             uint32_t partitions);

// Sorts the record's values in place, in the order of xt_double_cmp.
void tallyf_sort(tallyf_t *tf);

// high - low of a range record (NaN once it was fed a NaN).
tallyf_number_t tallyf_range(const tallyf_t *tf);

// The smallest of the most frequent values of a record with sorted values
// (bit-identical values are equal) and how often it occurs; NaN and 0 when
// there are no values or a NaN among them.
struct tallyf_mode_t {
    double value;
    uint64_t count;
};
tallyf_mode_t tallyf_mode(const tallyf_t *tf);

// Third quartile minus first, as tallyf_quantiles computes them, of a record
// with sorted values.
tallyf_number_t tallyf_iq_range(const tallyf_t *tf);


#endif
