// What the run asks of the two-column and positive-mean records beside
// their blocks (lib/blocks.h): their printer and their notice.
#ifndef NUMTALLY_LIB_REPORT_MORE_H
#define NUMTALLY_LIB_REPORT_MORE_H

#include "printer.h"
#include "tallyf.h"

// The printer of a two-column record: "Cols X,Y".
tally_printer_t tally_pair_printer(const tallyf_t *tf);

// For a geo-mean or harm-mean record fed a value at or below 0 (its line
// is nan): true, with the one-line notice that says so written to buf.
bool tally_positive_notice(const tallyf_t *tf, char *buf, size_t size);

#endif
