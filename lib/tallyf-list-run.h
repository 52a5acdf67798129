// A whole tabular run over a filled function list, returning its errors: the
// records made ready, the pass, the checks, then the report.  The list's
// entry points (tallyf-list.h) and the program's main are built on it.
#ifndef NUMTALLY_LIB_TALLYF_LIST_RUN_H
#define NUMTALLY_LIB_TALLYF_LIST_RUN_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "feed.h"
#include "header.h"
#include "pass.h"
#include "selection.h"
#include "tally-error.h"
#include "tallyf-list.h"

// How a run reads its input, beyond the functions.
struct tally_run_options_t {
    const char *delims = " \t";     // handed to the field reader unchanged
    bool verbose = false;           // echo every field read
    // Key columns (from 1) of a grouped run, in the order given; none: the
    // plain run.  A column given by name has by[s] == 0 and its name in
    // by_name[s]: names are resolved where the run knows the header (see
    // resolve_key_names in groups.cpp); until then every name is refused.
    uint32_t by[TALLY_KEYS_MAX] = {};
    std::string by_name[TALLY_KEYS_MAX];
    int nby = 0;
    bool header = false;        // the first line names the columns
    bool quotes = false;        // fields may be quoted (CSV)
    bool skip_missing = false;  // missing values count in no statistic
    // Per record, the name its column was chosen by (resolved against the
    // header line); null: every column by number.
    const tally_col_names_t *names = nullptr;
};

// Runs the list over stream and prints the report on standard output.
// False, with nothing of the report printed, when the input holds a field
// that is not a number (65), a temporary file cannot be made or written or
// the input cannot be read (74), or a chi-sq-fit count is invalid (65); a
// listing that cannot be read back ends the report where it stands (74).
// A grouped run refuses row functions (64) before reading input.  With a
// header line: a column name it lacks or holds twice (65), and a row
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

// The header line's hook for the pass (tally_pass_input_t::on_header):
// the columns of records and of --by (by, nby of options) chosen by name
// become numbers from the header's fields, and the selection is made again.
struct tally_header_ctx_t {
    tallyf_list_t *list;
    const tally_run_options_t *options;
    uint32_t *by;             // the --by columns, names resolved in place
    tally_selection_t *sel;
};
bool tally_on_header(void *ctx, const std::vector<std::string> &fields,
                     tally_error_t *err);

// The name record i's column was chosen by, or null.
const char *tally_col_name(const tally_run_options_t &options, int i);

// What the pass of a run reads and how: the options' delimiters, echo,
// key columns, quoting, missing values and header hook (with ctx).
tally_pass_input_t tally_run_input(FILE *stream,
                                   const tally_run_options_t &options,
                                   tally_header_ctx_t *ctx);

// A row function on the header line (row 1) is refused (64).
bool tally_check_header_rows(const tallyf_list_t *list, tally_error_t *err);

// The plain run's sink of the pass (pass.h): every value goes straight to
// the list's record, fed as the record's kind (chosen once) says.
struct tally_feed_sink_t {
    // Without groups a value needs nothing from the rest of its line: it is
    // fed as it is read; the line's end finds staged only the values of the
    // two-column records' columns, for their pairs.
    static constexpr bool stages = false;

    tallyf_t *records;
    const tally_feed_t *kind;       // per record, as records
    const int *pairs;               // the two-column records
    const tally_feed_t *pair_kinds; // and their kinds, as pairs
    int npairs;

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
    template <bool Fma>
    [[gnu::always_inline]] bool line_end(const tally_staged_t *staged, int n,
                  const tally_line_key_t &, uint64_t, tally_error_t *)
    {
        for (int p = 0; p < npairs; ++p)
            tally_feed_line_pair<Fma>(&records[pairs[p]], pair_kinds[p], staged, n);
        return true;
    }
};

#endif
