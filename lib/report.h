// A record's report: the block its function's descriptor row points at,
// printed through the printer, so that the same block serves a whole run and
// each group of a grouped one.
#ifndef NUMTALLY_LIB_REPORT_H
#define NUMTALLY_LIB_REPORT_H

#include <cstdint>
#include <cstdio>

#include "blocks.h"
#include "printer.h"
#include "tally-error.h"
#include "tallyf.h"

// Checks, before any report line, what a report could otherwise only find
// out half-way: a chi-sq-fit record's counts are valid (else 65), a z-score
// record's file holds every value it was fed (else 74; only when
// check_file).  True when the record can report.
// A column chosen by name is named by col_name in the message.
bool tally_check_record(const tallyf_t *tf, bool check_file,
                        tally_error_t *err, const char *col_name = nullptr);

// Checks that a temporary file of listing values was written whole: it
// holds bytes bytes once flushed (else 74).
bool tally_check_written(FILE *f, uint64_t bytes, tally_error_t *err);

// Prints the record's block: the one its function's descriptor row points
// at.  A listing comes from listing when it is not null, else from the
// record's temporary file.  Records whose code no word stores print
// nothing.  False (74) when the listing cannot be read back.
bool tally_report_record(tallyf_t *tf, const tally_printer_t &p,
                         const tally_listing_t *listing, tally_error_t *err);

// The printer of an ungrouped record: no prefix, "Row" and its row when it
// has one, else "Col" and its column.
tally_printer_t tally_record_printer(const tallyf_t *tf);

#endif
