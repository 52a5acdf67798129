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
#include <vector>

#include "header.h"

#include "selection.h"
#include "xt-dsv.h"
#include "tally-error.h"

// A wanted column's value of the current line.
struct tally_staged_t {
    const tally_group_t *col;   // the column and the records that want it
    double value;
};

// The key fields of the current line: one slot per key column, in the
// order the key columns were given.
struct tally_line_key_t {
    // The fields, one after the other: len bytes, with room for every key
    // field at its longest and 16 bytes to spare.
    char bytes[TALLY_KEYS_MAX * XT_DSV_FIELD_MAX + 16];
    size_t len;
    uint32_t start[TALLY_KEYS_MAX + 1]; // slot s: bytes [start[s], end[s])
    uint32_t end[TALLY_KEYS_MAX];
    uint64_t filled;                    // slot s filled: bit s
};

// What a pass does with the values it reads.  Sink must have
//   static constexpr bool stages;
//       true: column values are staged for line_end; false: each goes to
//       col_value as it is read (nothing waits for the line's key);
//   static constexpr bool rows;
//       false: the sink never takes row functions, and the pass is built
//       without the shapes that look for wanted rows;
// and, each a template on the build of the feeders (template <bool Fma>,
// lib/feed.h):
//   void row_value(const tally_group_t &row, double v, uint64_t row_number);
//       a value of a wanted row, fed at once (before the line's staged
//       values); the records of a column group that also want this row
//       are handed to it with col_value at once as well:
//   void col_value(const tally_group_t &col, double v, uint64_t row_number);
//   bool line_end(const tally_staged_t *staged, int n,
//                 const tally_group_t *const *gaps, int ngaps,
//                 const tally_line_key_t &key, uint64_t row_number,
//                 tally_error_t *err);
//       the line's end: staged holds every wanted column's value when
//       stages is true, and otherwise only the values of paired columns
//       (already fed to their columns' other records); gaps holds the
//       column groups whose field was empty or missing (staged as 0, or
//       not at all under skip_missing), rarely any; a template on the build
//       and on whether the pass was built for paired columns (without,
//       staged holds no paired column's value);
// The pass is compiled once per build, with the sink's feeding inlined, and
// runs the build tally_use_fma() chose.
// Sinks: tally_feed_sink_t (tallyf-list-run.h, the plain run); grouped
// runs have their own.
struct tally_pass_input_t {
    FILE *stream;
    const char *delims;
    bool verbose;       // echo every field, "%8s", a newline per line
    int nkeys;          // key columns (0: none)
    bool quotes = false;        // fields may be quoted (CSV)
    bool skip_missing = false;  // missing values are counted, not fed
    // With a header line: called with its fields before any other line is
    // read (it may refill the selection); false ends the pass.  A field
    // longer than the reader keeps (XT_DSV_FIELD_MAX) comes cut, and
    // long_col is the column of the first such field (0: none).
    bool (*on_header)(void *ctx, const std::vector<std::string> &fields,
                      uint64_t long_col, tally_error_t *err) = nullptr;
    void *header_ctx = nullptr;
    // How messages name a column, when some were chosen by name.
    const tally_wants_t *wants = nullptr;
    const tally_col_names_t *names = nullptr;
    // A later part of an input (one cut at line ends): the row number of
    // its first line, the width of the header line an earlier part read
    // (0: none), and no byte-order mark skipped at its start.
    uint64_t first_row = 1;
    uint64_t header_fields = 0;
    bool at_start = true;
    // Where the bytes come from instead of stream (which may then be
    // null): a part of the input held in memory.
    const xt_dsv_source_t *source = nullptr;
};

// What the pass saw besides the values.
struct tally_pass_stats_t {
    uint64_t lines = 0;   // rows read, the header line included
    // Fields of the widest line among those that did not end at a wanted
    // column (a line that does is as wide as a column that got a field).
    // Whenever some column got no field at all, that is every line.
    uint64_t widest = 0;
    // Per group of the selection (rows[], cols[]): the fields that were
    // empty (fed as 0), or under skip_missing missing (not fed).
    uint64_t row_gaps[TALLY_WANTS_MAX + 1] = {};
    uint64_t col_gaps[TALLY_WANTED_COLS_MAX + 1] = {};
    // With a header line, per group of cols[]: the data lines that ended
    // before the column, and the first of them (its row).
    uint64_t col_short[TALLY_WANTED_COLS_MAX + 1] = {};
    uint64_t col_short_row[TALLY_WANTED_COLS_MAX + 1] = {};
};

// Adds what a pass saw over a later part of an input to what the passes
// over the parts before it saw.
void tally_merge_pass_stats(tally_pass_stats_t *into,
                            const tally_pass_stats_t &from);

// Reads the whole input.  False on a field that is not a number or a
// faulty quoted field (65), a read error (74) or whatever the sink or the
// header hook refuses; with a header line, a data line with more fields
// than the header line (65: its names would fall on the wrong columns).  Fills *stats when given.
template <class Sink>
bool tally_read_pass(const tally_selection_t &sel,
                     const tally_pass_input_t &in, Sink &sink,
                     tally_error_t *err, tally_pass_stats_t *stats = nullptr);

// The pass body's cold paths (pass.cpp): its messages and the header line.
namespace tally_pass_body {

[[gnu::cold, gnu::noinline]] bool invalid_number(
    xt_dsv_reader_t *in, const tally_pass_input_t &input, const char *field,
    size_t len, const tally_cursor_t &at, tally_error_t *err);
[[gnu::cold, gnu::noinline]] bool quote_fault(const tally_pass_input_t &input,
                                              int fault, uint64_t row,
                                              uint64_t col, tally_error_t *err);
[[gnu::cold, gnu::noinline]] bool key_too_long(const tally_cursor_t &at,
                                               tally_error_t *err);
int read_header(xt_dsv_reader_t *in, xt_dsv_pos_t *pos, bool verbose,
                std::vector<std::string> *fields, uint64_t *long_col,
                uint64_t *fault_col);
[[gnu::cold, gnu::noinline]] bool too_wide(uint64_t row, uint64_t fields,
                                           uint64_t header,
                                           tally_error_t *err);
[[gnu::cold, gnu::noinline]] void note_short(const tally_selection_t &sel,
                                             const tally_group_t *g,
                                             uint64_t row,
                                             tally_pass_stats_t *stats);

} // namespace tally_pass_body

#endif
