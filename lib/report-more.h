// The blocks of the counting, shape, percentile, summary, two-column and
// two-sample functions (called from the report's one switch).
#ifndef NUMTALLY_LIB_REPORT_MORE_H
#define NUMTALLY_LIB_REPORT_MORE_H

#include "functions.h"
#include "printer.h"
#include "tallyf.h"

// Prints the block of a record whose report kind is one of count to
// paired_t (functions.h).  Value-keeping records may be reordered.
void tally_report_more(tallyf_t *tf, tally_report_t kind,
                       const tally_printer_t &p);

// The printer of a two-column record: "Cols X,Y".
tally_printer_t tally_pair_printer(const tallyf_t *tf);

// For a geo-mean or harm-mean record fed a value at or below 0 (its line
// is nan): true, with the one-line notice that says so written to buf.
bool tally_positive_notice(const tallyf_t *tf, char *buf, size_t size);

#endif
