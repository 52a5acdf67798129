// Counts of the distinct values among many, most of them distinct: the
// values' keys are moved by a hash of their bits into buckets of a scratch
// array, and each bucket is counted in a table small enough to stay in
// cache, on as many threads as asked for.
//
// One value is what the frequency table shows as one: every NaN is one
// value, sorted last; -0 and 0 are one value.  Each value stands for its
// class as the first of it in the order of xt_double_cmp would: the zero as
// -0 where there is one, the NaN as the first of the NaNs in that order.
#ifndef NUMTALLY_LIB_VALUE_COUNTS_H
#define NUMTALLY_LIB_VALUE_COUNTS_H

#include <cstdint>
#include <vector>

struct tally_counted_t {
    double value;
    uint64_t count;
};

// The threads the counts below run on (at least 1; 1 until set).
void tally_choose_count_threads(int threads);

// The number of distinct values of v[0, n).
uint64_t tally_count_distinct(const double *v, uint64_t n);

// The k most frequent values of v[0, n) with their counts, the most
// frequent first, a tie in value order.
std::vector<tally_counted_t> tally_count_top(const double *v, uint64_t n,
                                             uint64_t k);

// Sorts v[0, n) into the order of xt_double_cmp, many values on two
// threads where there are two: split at a sampled middle key, each side
// sorted on its own.
void tally_sort_on_threads(double *v, uint64_t n);

#endif
