// The pass: every field of the input once, in order.  Each wanted field is
// converted once; the values of the line's wanted columns are staged and
// handed to a sink at the line's end (so that a key standing after a value
// is known by then), together with the line's key fields.  Row functions
// are fed as their fields come, through the same sink.
#ifndef NUMTALLY_LIB_PASS_H
#define NUMTALLY_LIB_PASS_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "selection.h"
#include "tally-error.h"

// A wanted column's value of the current line.
struct tally_staged_t {
    const tally_group_t *col;   // the column and the records that want it
    double value;
    // The group's records were fed at once (a wanted row crossed it): the
    // value is staged only for the two-column records (col->paired).
    bool fed = false;
};

// The key fields of the current line: one slot per key column, in the
// order the key columns were given.
struct tally_line_key_t {
    std::string bytes;                  // the fields, one after the other
    uint32_t start[TALLY_KEYS_MAX + 1]; // slot s: bytes [start[s], end[s])
    uint32_t end[TALLY_KEYS_MAX];
    uint64_t filled;                    // slot s filled: bit s
};

// What a pass does with the values it reads.  Sink must have
//   static constexpr bool stages;
//       true: column values are staged for line_end; false: each goes to
//       col_value as it is read (nothing waits for the line's key);
// and, each a template on the build of the feeders (template <bool Fma>,
// lib/feed.h):
//   void row_value(const tally_group_t &row, double v, uint64_t row_number);
//       a value of a wanted row, fed at once (before the line's staged
//       values); the records of a column group that also want this row
//       are handed to it with col_value at once as well:
//   void col_value(const tally_group_t &col, double v, uint64_t row_number);
//   bool line_end(const tally_staged_t *staged, int n,
//                 const tally_line_key_t &key, uint64_t row_number,
//                 tally_error_t *err);
// The pass is compiled once per build, with the sink's feeding inlined, and
// runs the build tally_use_fma() chose.
// Sinks: tally_feed_sink_t (tallyf-list-run.h, the plain run); grouped
// runs have their own.
struct tally_pass_input_t {
    FILE *stream;
    const char *delims;
    bool verbose;       // echo every field, "%8s", a newline per line
    int nkeys;          // key columns (0: none)
};

// Reads the whole input.  False on a field that is not a number (65), a
// read error (74) or whatever the sink refuses.
template <class Sink>
bool tally_read_pass(const tally_selection_t &sel,
                     const tally_pass_input_t &in, Sink &sink,
                     tally_error_t *err);

#endif
