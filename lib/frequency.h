// The frequency family over a record's kept values: the table of distinct
// values, the most frequent ones, their number and a histogram; and the
// one-sample t-test, which reads the record's exact sums.
#ifndef NUMTALLY_LIB_FREQUENCY_H
#define NUMTALLY_LIB_FREQUENCY_H

#include "functions.h"
#include "printer.h"
#include "tallyf.h"

// The largest bin count histogram B takes.
inline constexpr uint32_t TALLY_HISTOGRAM_BINS_MAX = 100000;

// Prints the block of a record whose report kind is t_test, frequency,
// top, distinct or histogram.  Value-keeping records may be reordered.
void tally_report_frequency(tallyf_t *tf, tally_report_t kind,
                            const tally_printer_t &p);

#endif
