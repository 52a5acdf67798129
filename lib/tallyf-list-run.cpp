// A tabular run: the records made ready, the pass, the checks, the report.
#include "tallyf-list-run.h"

#include <cerrno>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <sysexits.h>

#include "groups.h"
#include "pass.h"
#include "printer.h"
#include "report.h"
#include "report-more.h"
#include "notices.h"
#include "pass-body.h"
#include "xt.h"

bool tally_feed_splits(tallyf_t *records, const int *splits, int nsplits,
                       const int *split_slot, tally_split_keys_t *split_keys,
                       const tally_staged_t *staged, int n,
                       const tally_line_key_t &key, uint64_t row,
                       tally_error_t *err)
{
    // The exact sums come out the same from either build of the feeders.
    for (int p = 0; p < nsplits; ++p) {
        const int i = splits[p];
        if (!tally_feed_line_split<false>(&records[i], &split_keys[i],
                                          split_slot[i], staged, n, key))
            return tally_missing_split_key(row, records[i].col2, err);
    }
    return true;
}

namespace {

constexpr size_t FIRST_ARRAY = 1024;

// Gives value-keeping records their first array and makes sure every
// z-score record has its temporary file, before a byte of input is read.
bool prepare_records(tallyf_list_t *list, tally_error_t *err)
{
    for (int i = 0; i < list->count; ++i) {
        tallyf_t &tf = list->functions[i];
        const tally_feed_t kind = tally_feed_of(tf.code);
        if (kind == tally_feed_t::values) {
            tf.nums = static_cast<double *>(
                xt_malloc(FIRST_ARRAY, sizeof(double)));
            tf.array_size = FIRST_ARRAY;
        } else if (kind == tally_feed_t::squares_listed) {
            // The file is made now, before any input is read, so that a
            // run that cannot keep its values says so at once.
            if (tf.tmp_file == nullptr)
                tf.tmp_file = tallyf_tmpfile();
            if (tf.tmp_file == nullptr ||
                tallyf_tmpfile_back(tf.tmp_file) != 0)
                return tally_fail_io(err, "cannot create temporary file",
                                     errno);
        }
    }
    return true;
}

} // namespace

namespace {

// One plain pass over a list: what the report needs besides the records.
struct plain_pass_t {
    tally_selection_t sel;
    tally_pass_stats_t stats;
    tally_feed_t kind[TALLYF_LIST_MAX];
    int pairs[TALLYF_LIST_MAX];
    tally_feed_t pair_kinds[TALLYF_LIST_MAX];
    int npairs = 0;
    uint64_t pair_lines[TALLYF_LIST_MAX] = {};
    int splits[TALLYF_LIST_MAX];
    int nsplits = 0;
    tally_split_keys_t split_keys[TALLYF_LIST_MAX];
    std::vector<std::string> fields; // the header line's, for record names
};

// Readies the list's records and runs the pass over stream into them,
// leaving their exact sums unsettled (so that parts can be merged).
// later as for tally_run_input.
bool pass_list(tallyf_list_t *list, FILE *stream,
               const tally_run_options_t &options, plain_pass_t *r,
               tally_error_t *err, const tally_pass_input_t *later = nullptr)
{
    if (!prepare_records(list, err))
        return false;
    tally_select(list, nullptr, 0, &r->sel);
    for (int i = 0; i < list->count; ++i) {
        r->kind[i] = tally_feed_of(list->functions[i].code);
        if (list->functions[i].split) {
            r->splits[r->nsplits++] = i;
        } else if (tally_feeds_pairs(r->kind[i])) {
            r->pair_kinds[r->npairs] = r->kind[i];
            r->pairs[r->npairs++] = i;
        }
    }
    tally_feed_sink_t sink{list->functions, r->kind, r->pairs, r->pair_kinds,
                           r->npairs};
    if (options.skip_missing)
        sink.pair_lines = r->pair_lines;
    sink.splits = r->splits;
    sink.nsplits = r->nsplits;
    sink.split_slot = r->sel.split_slot;
    sink.split_keys = r->split_keys;
    tally_header_ctx_t ctx{list, &options, nullptr, &r->sel};
    ctx.fields = &r->fields;
    tally_pass_input_t input = tally_run_input(stream, options, &ctx, later);
    input.nkeys = r->sel.nkeys;
    return tally_read_pass(r->sel, input, sink, err, &r->stats);
}

// The records' statistics from their sums, the checks, the report and
// what the run has to say.
bool report_list(tallyf_list_t *list, const tally_run_options_t &options,
                 plain_pass_t *r, tally_error_t *err, std::string *notes)
{
    for (int i = 0; i < list->count; ++i)
        tally_settle(&list->functions[i], r->kind[i]);
    for (int p = 0; p < r->npairs; ++p)
        tally_finish_pairs(&list->functions[r->pairs[p]], r->pair_kinds[p]);
    for (int p = 0; p < r->nsplits; ++p) {
        const int i = r->splits[p];
        tally_finish_pairs(&list->functions[i], r->kind[i]);
        if (!r->split_keys[i].check(tally_split_col_text(list, options, i).c_str(),
                                    err))
            return false;
    }
    const tally_selection_t &sel = r->sel;
    const tally_pass_stats_t &stats = r->stats;

    // Every listing's values are accounted for, and every count is valid,
    // before any line is printed.
    for (int i = 0; i < list->count; ++i)
        if (!tally_check_record(&list->functions[i], true, err,
                                tally_col_name(options, i)))
            return false;
    const tally_gap_counts_t gaps{stats.row_gaps, stats.col_gaps,
                                  r->pair_lines};
    const auto records = tally_make_records(list, options, nullptr, r->fields);
    if (records != nullptr)
        records->begin(stdout, {}, 0);
    for (int i = 0; i < list->count; ++i) {
        tallyf_t *tf = &list->functions[i];
        tally_printer_t p = tally_record_printer(tf);
        p.col_name = tally_col_name(options, i);
        p.digits = options.layout.digits;
        if (records != nullptr) {
            p.records = records.get();
            records->request(i, p);
        }
        if (!tally_report_record(tf, p, nullptr, err))
            return false;
        if (options.skip_missing)
            p.stat_count("missing", TALLY_NAME_WIDTH,
                         tally_gaps_of(*tf, i, sel, gaps));
    }
    if (records != nullptr)
        records->end();
    // A geometric or harmonic mean over a value at or below 0 prints nan;
    // the run says why, once.
    char positive[200];
    bool noticed = false;
    for (int i = 0; i < list->count && !noticed; ++i)
        noticed = tally_positive_notice(&list->functions[i], positive,
                                        sizeof positive);
    std::string said;
    tally_group_notices(list->functions, list->count, options, sel, stats,
                        gaps, noticed ? positive : nullptr, {}, &said);
    if (records != nullptr)
        said += records->notes();
    tally_short_notices(list, options, sel, stats, &said);
    if (notes != nullptr)
        *notes = std::move(said);
    else
        std::fputs(said.c_str(), stderr);
    return true;
}

bool run_list(tallyf_list_t *list, FILE *stream,
              const tally_run_options_t &options, tally_error_t *err,
              std::string *notes)
{
    if (options.header && !tally_check_header_rows(list, err))
        return false;
    if (!tally_check_layout(list, options, err) ||
        !tally_check_split(list, options, err))
        return false;
    if (options.nby != 0) {
        return tally_run_grouped(list, stream, options, err, notes);
    }
    const auto r = std::make_unique<plain_pass_t>();
    return pass_list(list, stream, options, r.get(), err) &&
           report_list(list, options, r.get(), err, notes);
}

// Gives back what a part's records hold once merged.
void release_records(tallyf_list_t *list)
{
    for (int i = 0; i < list->count; ++i) {
        tallyf_t &tf = list->functions[i];
        xt_free(tf.nums);
        tf.nums = nullptr;
        if (tf.tmp_file != nullptr)
            std::fclose(tf.tmp_file);
        tf.tmp_file = nullptr;
    }
}

bool run_parts(tallyf_list_t *list, FILE *const *parts, int nparts,
               const tally_run_options_t &options, tally_error_t *err,
               std::string *notes)
{
    if (nparts < 1)
        return tally_fail(err, EX_USAGE, "no part to read");
    if (options.header && !tally_check_header_rows(list, err))
        return false;
    if (!tally_check_layout(list, options, err) ||
        !tally_check_split(list, options, err))
        return false;
    if (options.nby != 0)
        return tally_run_grouped_parts(list, parts, nparts, options, err,
                                       notes);
    const auto first = std::make_unique<plain_pass_t>();
    if (!pass_list(list, parts[0], options, first.get(), err))
        return false;
    // Where each later part stands in the whole.
    tally_pass_input_t later{};
    later.first_row = 1 + first->stats.lines;
    later.header_fields = first->fields.size();
    for (int k = 1; k < nparts; ++k) {
        // A part's records start as the list's did: empty, with no values
        // and no file of their own yet.
        const auto part = std::make_unique<tallyf_list_t>();
        part->count = list->count;
        for (int i = 0; i < list->count; ++i) {
            tallyf_t &tf = part->functions[i];
            tf = list->functions[i];
            tf.sum = tf.sum_x = tf.sum_x_2 = 0;
            tf.nums = nullptr;
            tf.num_count = tf.array_size = 0;
            tf.tmp_file = nullptr;
            tf.shift = tf.sum_d = tf.sum_d_lo = tf.sum_d_2 = tf.sum_d_2_lo = 0;
            tf.shift_count = 0;
            tf.low = tf.high = tf.scaled_lo = NAN;
            tallyf_sums2_init(&tf.pairs);
        }
        const auto r = std::make_unique<plain_pass_t>();
        bool ok = pass_list(part.get(), parts[k], options, r.get(), err,
                            &later);
        later.first_row += r->stats.lines;
        for (int p = 0; p < r->nsplits; ++p) {
            const int i = r->splits[p];
            if (first->split_keys[i].merge(r->split_keys[i]))
                tally_swap_samples(&part->functions[i]);
        }
        for (int i = 0; ok && i < list->count; ++i)
            ok = tally_merge_record(&list->functions[i], &part->functions[i],
                                    first->kind[i]);
        release_records(part.get());
        if (!ok) {
            if (err->status == 0)
                tally_fail_io(err, "cannot merge a listing", errno);
            return false;
        }
        tally_merge_pass_stats(&first->stats, r->stats);
        for (int i = 0; i < list->count; ++i)
            first->pair_lines[i] += r->pair_lines[i];
    }
    return report_list(list, options, first.get(), err, notes);
}

} // namespace

bool tally_run_parts(tallyf_list_t *list, FILE *const *parts, int nparts,
                     const tally_run_options_t &options, tally_error_t *err,
                     std::string *notes)
{
    try {
        const tally_rest_scope_t rests;
        return run_parts(list, parts, nparts, options, err, notes);
    } catch (const std::bad_alloc &) {
        return tally_fail_nomem(err);
    }
}

bool tally_run(tallyf_list_t *list, FILE *stream,
               const tally_run_options_t &options, tally_error_t *err,
               std::string *notes)
{
    try {
        const tally_rest_scope_t rests;
        return run_list(list, stream, options, err, notes);
    } catch (const std::bad_alloc &) {
        return tally_fail_nomem(err);
    }
}

// The pass, built for this run's sink.
template bool tally_read_pass<tally_feed_sink_t>(const tally_selection_t &,
                                      const tally_pass_input_t &,
                                      tally_feed_sink_t &, tally_error_t *,
                                      tally_pass_stats_t *);
