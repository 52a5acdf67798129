// A tabular run: the records made ready, the pass, the checks, the report.
#include "tallyf-list-run.h"

#include <cerrno>

#include "groups.h"
#include "pass.h"
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

} // namespace

bool tally_run(tallyf_list_t *list, FILE *stream,
               const tally_run_options_t &options, tally_error_t *err)
{
    if (options.nby != 0)
        return tally_run_grouped(list, stream, options, err);
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
    const tally_pass_input_t input{stream, options.delims, options.verbose,
                                   0};
    if (!tally_read_pass(sel, input, sink, err))
        return false;

    // Every listing's values are accounted for, and every count is valid,
    // before any line is printed.
    for (int i = 0; i < list->count; ++i)
        if (!tally_check_record(&list->functions[i], true, err))
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
        if (!tally_report_record(tf, tally_record_printer(tf), nullptr, err))
            return false;
    }
    if (noticed) {
        std::fflush(stdout);
        std::fputs(notice, stderr);
    }
    return true;
}
