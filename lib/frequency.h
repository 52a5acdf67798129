// The frequency family over a record's kept values: the table of distinct
// values, the most frequent ones, their number and a histogram; and the
// one-sample t-test, which reads the record's exact sums.
#ifndef NUMTALLY_LIB_FREQUENCY_H
#define NUMTALLY_LIB_FREQUENCY_H

#include <cstdint>

// The largest bin count histogram B takes.
inline constexpr uint32_t TALLY_HISTOGRAM_BINS_MAX = 100000;

// Their blocks are declared with every other in blocks.h.

#endif
