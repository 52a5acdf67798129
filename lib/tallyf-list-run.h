// A whole tabular run over a filled function list, returning its errors: the
// records made ready, the pass, the checks, then the report.  The list's
// entry points (tallyf-list.h) and the program's main are built on it.
#ifndef NUMTALLY_LIB_TALLYF_LIST_RUN_H
#define NUMTALLY_LIB_TALLYF_LIST_RUN_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "feed.h"
#include "gaps.h"
#include "run-options.h"
#include "pass.h"
#include "sink.h"
#include "selection.h"
#include "tally-error.h"
#include "tallyf-list.h"

class tally_state_writer_t;
class tally_state_reader_t;

// Runs the list over stream and prints the report on standard output.
// False, with nothing of the report printed, when the input holds a field
// that is not a number (65), a temporary file cannot be made or written or
// the input cannot be read (74), or a chi-sq-fit count is invalid (65); a
// listing that cannot be read back ends the report where it stands (74).
// A grouped run refuses row functions (64) before reading input.  With a
// header line: a column name it lacks or holds twice, or a field of it
// longer than the field limit where names are looked up (65), and a row
// function on it (64, before reading input).  Out of memory anywhere in the
// run: 71 (tally_fail_nomem); a grouped run then has printed nothing, as
// its report is made whole before any of it is written.  With skip_missing a
// "missing N" line ends each record's block.  At the end, what the run has
// to say (per record: the empty fields it counted as 0, a record that no
// field reached), one line each, goes to *notes, or to standard error
// when notes is null.
bool tally_run(tallyf_list_t *list, FILE *stream,
               const tally_run_options_t &options, tally_error_t *err,
               std::string *notes = nullptr);

// The same report from consecutive parts of one input: each part's pass
// fills records of its own, merged into the list's in input order before
// the report, which is the one tally_run prints over the parts' whole.
// A part's rows are numbered on from the parts before it, and only the
// first part holds the header line.
bool tally_run_parts(tallyf_list_t *list, FILE *const *parts, int nparts,
                     const tally_run_options_t &options, tally_error_t *err,
                     std::string *notes = nullptr);

// A part's state instead of a report (numtally --state-out): the pass over
// stream as tally_run runs it, and what it kept, per group, written to w
// (lib/state-file.h) after what the caller wrote; nothing printed.  Refuses
// row functions (64: a part does not know its rows' numbers) before
// reading input; the pass's errors as tally_run's.
bool tally_run_state_out(tallyf_list_t *list, FILE *stream,
                         const tally_run_options_t &options,
                         tally_state_writer_t *w, tally_error_t *err);

// The report of the parts whose states parts reads (each past what the
// caller read of it), merged in order: the one tally_run prints over the
// parts' input, each part's header line (with options.header) said once.
// A file that is truncated, corrupted, or of another run (another header
// line) ends the run (65, naming it), nothing printed.
bool tally_run_merge(tallyf_list_t *list, tally_state_reader_t *const *parts,
                     int nparts, const tally_run_options_t &options,
                     tally_error_t *err, std::string *notes = nullptr);

// tally_run's report, the input's chunks read on threads (lib/chunks.h): what
// tally_run prints over the feed's whole input, whatever run asks.  A run
// with row functions or --verbose reads the input in one pass.
class tally_chunk_feed_t;
struct tally_chunk_run_t;
bool tally_run_threaded(tallyf_list_t *list, tally_chunk_feed_t *feed,
                        const tally_run_options_t &options,
                        const tally_chunk_run_t &run, tally_error_t *err,
                        std::string *notes = nullptr);

// Feeds the split records splits[0..nsplits) of records the values of a
// line (out of the pass's line: its code there slowed every paired pass;
// and the sink's address, not handed out, stays in registers).
bool tally_feed_splits(tallyf_t *records, const int *splits, int nsplits,
                       const int *split_slot, tally_split_keys_t *split_keys,
                       const tally_staged_t *staged, int n,
                       const tally_line_key_t &key, uint64_t row,
                       tally_error_t *err);

// The plain run's sink of the pass (pass.h): every value goes straight to
// the list's record, fed as the record's kind (chosen once) says.
struct tally_feed_sink_t {
    // Without groups a value needs nothing from the rest of its line: it is
    // fed as it is read; the line's end finds staged only the values of the
    // two-column records' columns, for their pairs.
    static constexpr bool stages = false;
    static constexpr bool rows = true;

    tallyf_t *records;
    const tally_feed_t *kind;       // per record, as records
    const int *pairs;               // the two-column records
    const tally_feed_t *pair_kinds; // and their kinds, as pairs
    int npairs;
    // Under skip_missing, per record: the lines a pair record skipped.
    uint64_t *pair_lines = nullptr;
    // The welch-t --split records (not among pairs), their key slots and
    // the run's keys, per record.
    const int *splits = nullptr;
    int nsplits = 0;
    const int *split_slot = nullptr;
    tally_split_keys_t *split_keys = nullptr;

    template <bool Fma>
    [[gnu::always_inline]] void row_value(const tally_group_t &g, double v, uint64_t)
    {
        for (const int *i = g.first; i != g.last; ++i)
            tally_feed<Fma>(kind[*i], &records[*i], v);
    }
    template <bool Fma>
    [[gnu::always_inline]] void col_value(const tally_group_t &g, double v, uint64_t row)
    {
        for (const int *i = g.first; i != g.last; ++i)
            if (records[*i].row == 0 || records[*i].row != row)
                tally_feed<Fma>(kind[*i], &records[*i], v); // once a record
    }
    template <bool Fma, bool Paired>
    [[gnu::always_inline]] bool line_end(const tally_staged_t *staged, int n,
                                         const tally_group_t *const *gaps,
                                         int ngaps, const tally_line_key_t &key,
                                         uint64_t row, tally_error_t *err)
    {
        // A pass built for no paired column has no pair and no split to
        // feed: nothing to do at a line's end.
        if constexpr (!Paired)
            return true;
        if (ngaps != 0 && pair_lines != nullptr) [[unlikely]]
            count_pair_gaps(gaps, ngaps);
        for (int p = 0; p < npairs; ++p)
            tally_feed_line_pair<Fma>(&records[pairs[p]], pair_kinds[p], staged, n);
        if (nsplits != 0) [[unlikely]]
            return tally_feed_splits(records, splits, nsplits, split_slot,
                                     split_keys, staged, n, key, row, err);
        return true;
    }
    void count_pair_gaps(const tally_group_t *const *gaps, int ngaps)
    {
        for (int p = 0; p < npairs; ++p)
            if (pair_kinds[p] == tally_feed_t::pairs &&
                tally_pair_gapped(records[pairs[p]], gaps, ngaps))
                ++pair_lines[pairs[p]];
    }
};

#endif
