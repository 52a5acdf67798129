// A tabular run: the records made ready, the pass, the checks, the report.
#include "tallyf-list-run.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <string>

#include <sysexits.h>

#include "groups.h"
#include "pass.h"
#include "printer.h"
#include "report.h"
#include "report-more.h"
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


// The fields a record's row or column counted as gaps (empty or missing).
uint64_t gaps_of(const tallyf_t &tf, const tally_selection_t &sel,
                 const tally_pass_stats_t &stats)
{
    const bool row = tf.row != 0;
    const uint64_t number = row ? tf.row : tf.col;
    const tally_group_t *g = row ? sel.rows : sel.cols;
    for (int k = 0; number != 0 && g[k].number != UINT64_MAX; ++k)
        if (g[k].number == number)
            return row ? stats.row_gaps[k] : stats.col_gaps[k];
    return 0;
}

// What the run says at its end about one record: the empty fields it took
// as 0, or that no field reached it; appended to out.
void notices(const tallyf_t &tf, const std::string &what, uint64_t gaps,
             const tally_run_options_t &options,
             const tally_pass_stats_t &stats, std::string *out)
{
    const auto plural = [](uint64_t n, const char *word) {
        return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
    };
    if (gaps != 0 && !options.skip_missing)
        *out += "numtally: " + what + ": " + plural(gaps, "empty field") +
                " counted as 0; --skip-missing skips them\n";
    if (tf.num_count != 0 || gaps != 0)
        return;
    if (tf.row == 0 && tf.col == 0)
        *out += "numtally: " + what + ": no values; columns count from 1\n";
    else if (tf.row != 0)
        *out += "numtally: " + what + ": no values; the input has " +
                plural(stats.lines, "line") + "\n";
    else
        *out += "numtally: " + what + ": no values; the widest line has " +
                plural(stats.widest, "field") + ": is the delimiter right?\n";
}

} // namespace

// The name record i's column was chosen by, or null.
const char *tally_col_name(const tally_run_options_t &options, int i)
{
    if (options.names == nullptr || options.names->name[i].empty())
        return nullptr;
    return options.names->name[i].c_str();
}

bool tally_on_header(void *ctx, const std::vector<std::string> &fields,
                     tally_error_t *err)
{
    const tally_header_ctx_t &h = *static_cast<tally_header_ctx_t *>(ctx);
    const tally_run_options_t &options = *h.options;
    if (options.names != nullptr &&
        !tally_resolve_names(h.list, *options.names, fields, err))
        return false;
    for (int s = 0; s < options.nby; ++s)
        if (!options.by_name[s].empty() &&
            !tally_resolve_name(options.by_name[s], fields, &h.by[s], err))
            return false;
    tally_select(h.list, h.by, options.nby, h.sel);
    return true;
}

tally_pass_input_t tally_run_input(FILE *stream,
                                   const tally_run_options_t &options,
                                   tally_header_ctx_t *ctx)
{
    tally_pass_input_t input{stream, options.delims, options.verbose,
                             options.nby};
    input.quotes = options.quotes;
    input.skip_missing = options.skip_missing;
    if (options.header) {
        input.on_header = tally_on_header;
        input.header_ctx = ctx;
    }
    input.list = ctx->list;
    input.names = options.names;
    return input;
}

bool tally_check_header_rows(const tallyf_list_t *list, tally_error_t *err)
{
    for (int i = 0; i < list->count; ++i)
        if (list->functions[i].row == 1)
            return tally_fail(err, EX_USAGE,
                              "numtally: row 1 is the header line (--header)\n");
    return true;
}

namespace {

bool run_list(tallyf_list_t *list, FILE *stream,
              const tally_run_options_t &options, tally_error_t *err,
              std::string *notes)
{
    if (options.header && !tally_check_header_rows(list, err))
        return false;
    if (options.nby != 0) {
        // The missing count of each group's blocks is not kept.
        if (options.skip_missing)
            return tally_fail(err, EX_USAGE,
                              "numtally: --skip-missing and --by cannot be "
                              "used together\n");
        return tally_run_grouped(list, stream, options, err);
    }
    if (!prepare_records(list, err))
        return false;
    static tally_selection_t sel;
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
    tally_feed_sink_t sink{list->functions, kind, pairs, pair_kinds, npairs};
    tally_header_ctx_t ctx{list, &options, nullptr, &sel};
    const tally_pass_input_t input = tally_run_input(stream, options, &ctx);
    static tally_pass_stats_t stats;
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
    // A geometric or harmonic mean over a value at or below 0 prints nan;
    // the run says why, once, after the report.
    char notice[200];
    bool noticed = false;
    for (int i = 0; i < list->count && !noticed; ++i)
        noticed = tally_positive_notice(&list->functions[i], notice,
                                        sizeof notice);
    for (int i = 0; i < list->count; ++i) {
        tallyf_t *tf = &list->functions[i];
        tally_printer_t p = tally_record_printer(tf);
        p.col_name = tally_col_name(options, i);
        if (!tally_report_record(tf, p, nullptr, err))
            return false;
        if (options.skip_missing)
            p.stat_count("missing", TALLY_NAME_WIDTH, gaps_of(*tf, sel, stats));
    }
    std::string said = noticed ? notice : "";
    for (int i = 0; i < list->count; ++i) {
        const tallyf_t &tf = list->functions[i];
        if (tf.col > stats.widest &&
            (tf.num_count != 0 || gaps_of(tf, sel, stats) != 0))
            stats.widest = tf.col;
    }
    for (int i = 0; i < list->count; ++i) {
        const tallyf_t &tf = list->functions[i];
        const std::string what =
            tf.row != 0 ? "row " + std::to_string(tf.row)
            : tally_col_name(options, i) != nullptr
                ? "col " + options.names->name[i]
                : "col " + std::to_string(tf.col);
        notices(tf, what, gaps_of(tf, sel, stats), options, stats, &said);
    }
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
