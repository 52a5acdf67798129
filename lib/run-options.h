// How a run reads its input beyond the functions, and what the plain and
// the grouped run share before the pass: the header line's hook, the names
// columns were chosen by, what the pass is told.
#ifndef NUMTALLY_LIB_RUN_OPTIONS_H
#define NUMTALLY_LIB_RUN_OPTIONS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "header.h"
#include "pass.h"
#include "records.h"
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
    tally_layout_t layout;      // labelled lines, or records
};

// The header line's hook for the pass (tally_pass_input_t::on_header):
// the columns of records and of --by (by, nby of options) chosen by name
// become numbers from the header's fields, and the selection is made again.
// What the list's records want of a line (the pass reads no list).
void tally_wants_of(const tallyf_list_t *list, tally_wants_t *wants);

struct tally_header_ctx_t {
    tallyf_list_t *list;
    const tally_run_options_t *options;
    uint32_t *by;             // the --by columns, names resolved in place
    tally_selection_t *sel;
    tally_wants_t *wants;     // made from list, again once names resolve
    std::vector<std::string> *fields = nullptr; // the header line, kept here
};
// A merged part's head (--merge): its header line's fields and its pass
// figures read from in, renumbered as the whole's (rows); the first header
// line goes to the run as a pass's header hook takes it, a later one must
// equal it.  False on a file that is truncated, corrupted or of another
// header line (65, naming it).
class tally_state_reader_t;
struct tally_state_rows_t;
bool tally_merge_part_head(tally_state_reader_t *in, tally_state_rows_t *rows,
                           tally_header_ctx_t *ctx, tally_pass_stats_t *stats,
                           tally_error_t *err);

// A field longer than the field limit (long_col) cannot be told from
// others that start alike: where names are looked up it is refused (65).
bool tally_on_header(void *ctx, const std::vector<std::string> &fields,
                     uint64_t long_col, tally_error_t *err);

// A record layout's records for a run (null for the labelled layout): key
// columns by (nby of options) named by the header line's fields where
// there is one, else "col N".
std::unique_ptr<tally_records_t>
tally_make_records(const tallyf_list_t *list, const tally_run_options_t &options,
                   const uint32_t *by, const std::vector<std::string> &fields);

// The header line alone, for a grouped run without groups: the names come
// from each record's report over no values.
void tally_records_names_only(tally_records_t *records,
                              const tallyf_list_t *list,
                              const tally_run_options_t &options, FILE *out);

// A wide record layout cannot hold a listing (the z-scores) or the box
// plot's drawing: such a run is refused (64), before reading input.
bool tally_check_layout(const tallyf_list_t *list,
                        const tally_run_options_t &options, tally_error_t *err);

// The key columns of welch-t --split and --by together fit the pass's
// key slots (TALLY_KEYS_MAX), or the run is refused (64).
bool tally_check_split(const tallyf_list_t *list,
                       const tally_run_options_t &options, tally_error_t *err);

// The key column of record i (welch-t --split) as the command line named it.
std::string tally_split_col_text(const tallyf_list_t *list,
                                 const tally_run_options_t &options, int i);

// The name record i's column was chosen by, or null.
const char *tally_col_name(const tally_run_options_t &options, int i);

// What the pass of a run reads and how: the options' delimiters, echo,
// key columns, quoting, missing values and header hook (with ctx).
// later: for a later part of an input, where it stands (its first row,
// the header line's width) and no header line of its own; null for a whole
// input or its first part.
tally_pass_input_t tally_run_input(FILE *stream,
                                   const tally_run_options_t &options,
                                   tally_header_ctx_t *ctx,
                                   const tally_pass_input_t *later = nullptr);

// A row function on the header line (row 1) is refused (64).
bool tally_check_header_rows(const tallyf_list_t *list, tally_error_t *err);

#endif
