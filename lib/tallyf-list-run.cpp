// A tabular run: the records made ready, the pass, the checks, the report.
#include "tallyf-list-run.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include <sysexits.h>

#include "groups.h"
#include "pass.h"
#include "printer.h"
#include "report.h"
#include "report-more.h"
#include "notices.h"
#include "pass-body.h"
#include "xt.h"

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

bool run_list(tallyf_list_t *list, FILE *stream,
              const tally_run_options_t &options, tally_error_t *err,
              std::string *notes)
{
    if (options.header && !tally_check_header_rows(list, err))
        return false;
    if (!tally_check_layout(list, options, err))
        return false;
    if (options.nby != 0) {
        return tally_run_grouped(list, stream, options, err, notes);
    }
    if (!prepare_records(list, err))
        return false;
    const auto selection = std::make_unique<tally_selection_t>();
    tally_selection_t &sel = *selection;
    tally_select(list, nullptr, 0, &sel);
    tally_feed_t kind[TALLYF_LIST_MAX];
    int pairs[TALLYF_LIST_MAX];
    tally_feed_t pair_kinds[TALLYF_LIST_MAX];
    int npairs = 0;
    for (int i = 0; i < list->count; ++i) {
        kind[i] = tally_feed_of(list->functions[i].code);
        if (tally_feeds_pairs(kind[i])) {
            pair_kinds[npairs] = kind[i];
            pairs[npairs++] = i;
        }
    }
    uint64_t pair_lines[TALLYF_LIST_MAX] = {};
    tally_feed_sink_t sink{list->functions, kind, pairs, pair_kinds, npairs};
    if (options.skip_missing)
        sink.pair_lines = pair_lines;
    tally_header_ctx_t ctx{list, &options, nullptr, &sel};
    std::vector<std::string> fields;
    ctx.fields = &fields;
    const tally_pass_input_t input = tally_run_input(stream, options, &ctx);
    tally_pass_stats_t stats;
    if (!tally_read_pass(sel, input, sink, err, &stats))
        return false;
    for (int p = 0; p < npairs; ++p)
        tally_finish_pairs(&list->functions[pairs[p]], pair_kinds[p]);

    // Every listing's values are accounted for, and every count is valid,
    // before any line is printed.
    for (int i = 0; i < list->count; ++i)
        if (!tally_check_record(&list->functions[i], true, err,
                                tally_col_name(options, i)))
            return false;
    const tally_gap_counts_t gaps{stats.row_gaps, stats.col_gaps, pair_lines};
    const auto records = tally_make_records(list, options, nullptr, fields);
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

} // namespace

bool tally_run(tallyf_list_t *list, FILE *stream,
               const tally_run_options_t &options, tally_error_t *err,
               std::string *notes)
{
    try {
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
