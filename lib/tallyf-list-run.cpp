// A tabular run: the records made ready, the pass, the checks, the report.
#include "tallyf-list-run.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <sysexits.h>

#include "chunks.h"
#include "exact-sums.h"
#include "functions.h"
#include "groups.h"
#include "state-file.h"
#include "value-spill.h"
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
            // (No more of it is filled than the memory limit allows.)
            tf.array_size = std::min<uint64_t>(FIRST_ARRAY, tally_values_cap());
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
    tally_wants_t wants;
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

// Readies the list's records and what the pass and the report need.
bool setup_list(tallyf_list_t *list, plain_pass_t *r, tally_error_t *err)
{
    if (!prepare_records(list, err))
        return false;
    tally_wants_of(list, &r->wants);
    tally_select(r->wants, nullptr, 0, &r->sel);
    for (int i = 0; i < list->count; ++i) {
        r->kind[i] = tally_feed_of(list->functions[i].code);
        if (list->functions[i].split) {
            r->splits[r->nsplits++] = i;
        } else if (tally_feeds_pairs(r->kind[i])) {
            r->pair_kinds[r->npairs] = r->kind[i];
            r->pairs[r->npairs++] = i;
        }
    }
    return true;
}

// Readies the list's records and runs the pass over stream into them,
// leaving their exact sums unsettled (so that parts can be merged).
// later as for tally_run_input.
// With source, the bytes come from there instead of stream.
bool pass_list(tallyf_list_t *list, FILE *stream,
               const tally_run_options_t &options, plain_pass_t *r,
               tally_error_t *err, const tally_pass_input_t *later = nullptr,
               const xt_dsv_source_t *source = nullptr)
{
    if (!setup_list(list, r, err))
        return false;
    tally_feed_sink_t sink{list->functions, r->kind, r->pairs, r->pair_kinds,
                           r->npairs};
    if (options.skip_missing)
        sink.pair_lines = r->pair_lines;
    sink.splits = r->splits;
    sink.nsplits = r->nsplits;
    sink.split_slot = r->sel.split_slot;
    sink.split_keys = r->split_keys;
    tally_header_ctx_t ctx{list, &options, nullptr, &r->sel, &r->wants};
    ctx.fields = &r->fields;
    tally_pass_input_t input = tally_run_input(stream, options, &ctx, later);
    input.nkeys = r->sel.nkeys;
    if (source != nullptr)
        input.source = source;
    return tally_read_pass(r->sel, input, sink, err, &r->stats);
}

// The records' statistics from their sums, the checks, the report and
// what the run has to say.
bool report_list(tallyf_list_t *list, const tally_run_options_t &options,
                 plain_pass_t *r, tally_error_t *err, std::string *notes)
{
    for (int i = 0; i < list->count; ++i)
        if (!tally_values_gather(&list->functions[i], err))
            return false;
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

// A part's records start as the list's did: empty, with no values and no
// file of their own yet.
std::unique_ptr<tallyf_list_t> empty_part(const tallyf_list_t *list)
{
    auto part = std::make_unique<tallyf_list_t>();
    part->count = list->count;
    for (int i = 0; i < list->count; ++i) {
        tallyf_t &tf = part->functions[i];
        tf = list->functions[i];
        tally_clear_collected(&tf);
    }
    return part;
}

// Merges a later part's records and what its pass saw into the first's.
bool merge_part(tallyf_list_t *list, plain_pass_t *first, tallyf_list_t *part,
                const plain_pass_t &r, tally_error_t *err)
{
    // A later part that met the split keys the other way round: its
    // samples swapped to the first part's order.
    for (int p = 0; p < r.nsplits; ++p) {
        const int i = r.splits[p];
        if (first->split_keys[i].merge(r.split_keys[i]))
            tally_swap_samples(&part->functions[i]);
    }
    for (int i = 0; i < list->count; ++i)
        if (!tally_merge_record(&list->functions[i], &part->functions[i],
                                first->kind[i])) {
            if (err->status == 0)
                tally_fail_io(err, "cannot merge a listing", errno);
            return false;
        }
    tally_merge_pass_stats(&first->stats, r.stats);
    for (int i = 0; i < list->count; ++i)
        first->pair_lines[i] += r.pair_lines[i];
    return true;
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
        const auto part = empty_part(list);
        const auto r = std::make_unique<plain_pass_t>();
        bool ok = pass_list(part.get(), parts[k], options, r.get(), err,
                            &later);
        later.first_row += r->stats.lines;
        ok = ok && merge_part(list, first.get(), part.get(), *r, err);
        release_records(part.get());
        if (!ok)
            return false;
    }
    return report_list(list, options, first.get(), err, notes);
}

// --state-out over a plain run: the pass, and what it kept written to w.
bool state_out_list(tallyf_list_t *list, FILE *stream,
                    const tally_run_options_t &options, tally_state_writer_t *w,
                    tally_error_t *err)
{
    const auto r = std::make_unique<plain_pass_t>();
    if (!pass_list(list, stream, options, r.get(), err))
        return false;
    for (int i = 0; i < list->count; ++i)
        if (!tally_values_gather(&list->functions[i], err))
            return false;
    tally_state_put_fields(*w, r->fields);
    tally_state_put_stats(*w, r->stats);
    w->u32(static_cast<uint32_t>(list->count));
    for (int i = 0; i < list->count; ++i)
        w->u64(r->pair_lines[i]);
    tally_state_put_splits(*w, list, r->split_keys);
    for (int i = 0; i < list->count; ++i) {
        const tallyf_t &tf = list->functions[i];
        tally_state_put_record(*w, tf, r->kind[i]);
        if (r->kind[i] == tally_feed_t::values)
            tally_state_put_values(*w, tf.nums, tf.num_count);
        else if (r->kind[i] == tally_feed_t::squares_listed &&
                 !tally_state_put_file_values(*w, tf.tmp_file, tf.num_count,
                                              err))
            return false;
    }
    return true;
}

// A part's n kept values put after into's: straight into its array, or,
// where they would take it past the memory limit, a piece at a time, into
// spilling as it fills.  into's count is left for the record merge to add.
bool read_values(tally_state_reader_t *in, tallyf_t *into, uint64_t n,
                 tally_error_t *err)
{
    const uint64_t held = into->num_count - into->spilled;
    if (into->runs == nullptr && held + n <= tally_values_cap()) {
        if (held + n > into->array_size) {
            into->nums = static_cast<double *>(
                xt_grow_huge(into->nums, held, held + n, sizeof(double)));
            into->array_size = held + n;
        }
        return in->f64s(into->nums + held, n, err);
    }
    std::vector<double> piece(std::min<uint64_t>(n, uint64_t{1} << 16));
    tallyf_t from{};
    for (uint64_t done = 0; done < n;) {
        const uint64_t k = std::min<uint64_t>(piece.size(), n - done);
        if (!in->f64s(piece.data(), k, err))
            return false;
        from.nums = piece.data();
        from.num_count = k;
        tally_values_append(into, &from);
        into->num_count += k;
        done += k;
    }
    into->num_count -= n;
    return true;
}

// One part's records read into part (empty records of the list); kept
// values go straight after the list's own (the record merge then adds
// the rest).
bool read_part_records(tally_state_reader_t *in, tallyf_list_t *part,
                       tallyf_list_t *list, const plain_pass_t &r,
                       tally_error_t *err)
{
    for (int i = 0; i < part->count; ++i) {
        tallyf_t &tf = part->functions[i];
        if (!tally_state_get_record(*in, &tf, r.kind[i], err))
            return false;
        const uint64_t n = tf.num_count;
        if (r.kind[i] == tally_feed_t::values && n != 0) {
            tallyf_t &into = list->functions[i];
            if (into.num_count + n < n)
                return in->bad(err, "count");
            if (!read_values(in, &into, n, err))
                return false;
        } else if (r.kind[i] == tally_feed_t::squares_listed) {
            tf.tmp_file = tallyf_tmpfile();
            if (tf.tmp_file == nullptr || tallyf_tmpfile_back(tf.tmp_file) != 0)
                return tally_fail_io(err, "cannot create temporary file",
                                     errno);
            if (!tally_state_get_values(
                    *in, n,
                    [&](double x) { std::fwrite(&x, sizeof x, 1, tf.tmp_file); },
                    err))
                return false;
            if (std::ferror(tf.tmp_file))
                return tally_fail_io(err, "cannot write temporary file", EIO);
        }
    }
    return true;
}

// --merge over a plain run: each part's state merged into the list's
// records in order, then the report of the whole.
bool merge_list(tallyf_list_t *list, tally_state_reader_t *const *parts,
                int nparts, const tally_run_options_t &options,
                tally_error_t *err, std::string *notes)
{
    const auto r = std::make_unique<plain_pass_t>();
    if (!setup_list(list, r.get(), err))
        return false;
    tally_header_ctx_t ctx{list, &options, nullptr, &r->sel, &r->wants};
    ctx.fields = &r->fields;
    tally_state_rows_t rows;
    rows.header = options.header;
    for (int k = 0; k < nparts; ++k) {
        tally_state_reader_t *in = parts[k];
        tally_pass_stats_t stats;
        if (!tally_merge_part_head(in, &rows, &ctx, &stats, err))
            return false;
        tally_merge_pass_stats(&r->stats, stats);
        uint32_t count;
        if (!in->u32(&count, err))
            return false;
        if (count != static_cast<uint32_t>(list->count))
            return in->bad(err, "record count");
        for (int i = 0; i < list->count; ++i) {
            uint64_t n;
            if (!in->u64(&n, err))
                return false;
            r->pair_lines[i] += n;
        }
        tally_split_keys_t keys[TALLYF_LIST_MAX];
        if (!tally_state_get_splits(*in, list, keys, err))
            return false;
        const auto part = empty_part(list);
        bool ok = read_part_records(in, part.get(), list, *r, err);
        for (int i = 0; ok && i < list->count; ++i) {
            // A part that met the split keys the other way round.
            if (list->functions[i].split && r->split_keys[i].merge(keys[i]))
                tally_swap_samples(&part->functions[i]);
            ok = tally_merge_record(&list->functions[i], &part->functions[i],
                                    r->kind[i]);
            if (!ok)
                tally_fail_io(err, "cannot merge a listing", errno);
        }
        release_records(part.get());
        if (!ok || !in->end(err))
            return false;
    }
    return report_list(list, options, r.get(), err, notes);
}

// What a run and a merge check before anything is read.
bool check_run(const tallyf_list_t *list, const tally_run_options_t &options,
               tally_error_t *err)
{
    return (!options.header || tally_check_header_rows(list, err)) &&
           tally_check_layout(list, options, err);
}

// The plain run's parts for a run on threads (lib/chunks.h).
struct plain_part_t final : tally_part_t {
    std::unique_ptr<tallyf_list_t> own; // null for the run's own list
    tallyf_list_t *list = nullptr;
    std::unique_ptr<plain_pass_t> r = std::make_unique<plain_pass_t>();
    ~plain_part_t() override
    {
        if (own != nullptr)
            release_records(own.get());
    }
};

class plain_ops_t final : public tally_part_ops_t {
public:
    plain_ops_t(tallyf_list_t *list, const tally_run_options_t &options)
        : list_(list), options_(options), pristine_(empty_part(list))
    {
        first_.list = list;
    }
    tally_part_t *first() override { return &first_; }
    void begin_parts() override { proto_ = empty_part(list_); }
    void reset_first() override
    {
        release_records(list_);
        for (int i = 0; i < list_->count; ++i)
            list_->functions[i] = pristine_->functions[i];
        first_.r = std::make_unique<plain_pass_t>();
    }
    std::unique_ptr<tally_part_t> make_part() override
    {
        auto p = std::make_unique<plain_part_t>();
        p->own = std::make_unique<tallyf_list_t>(*proto_);
        p->list = p->own.get();
        return p;
    }
    bool pass(tally_part_t *part, const xt_dsv_source_t *source,
              const tally_pass_input_t *later, tally_error_t *err) override
    {
        auto *p = static_cast<plain_part_t *>(part);
        return pass_list(p->list, nullptr, options_, p->r.get(), err, later,
                         source);
    }
    void take_rests(tally_part_t *part, tally_rests_held_t *held) override
    {
        auto *p = static_cast<plain_part_t *>(part);
        for (int i = 0; i < p->list->count; ++i)
            held->take(&p->list->functions[i]);
    }
    void give_rests(tally_part_t *part, tally_rests_held_t *held) override
    {
        auto *p = static_cast<plain_part_t *>(part);
        for (int i = 0; i < p->list->count; ++i)
            held->give(&p->list->functions[i]);
    }
    tally_pass_stats_t *stats(tally_part_t *part) override
    {
        return &static_cast<plain_part_t *>(part)->r->stats;
    }
    uint64_t header_fields(tally_part_t *first) override
    {
        return static_cast<plain_part_t *>(first)->r->fields.size();
    }
    bool merge(tally_part_t *part, tally_error_t *err) override
    {
        auto *p = static_cast<plain_part_t *>(part);
        const bool ok = merge_part(list_, first_.r.get(), p->list, *p->r, err);
        release_records(p->list);
        return ok;
    }
    bool report(tally_error_t *err, std::string *notes) override
    {
        return report_list(list_, options_, first_.r.get(), err, notes);
    }

private:
    tallyf_list_t *list_;
    const tally_run_options_t &options_;
    plain_part_t first_;
    std::unique_ptr<tallyf_list_t> pristine_, proto_;
};

bool run_threaded(tallyf_list_t *list, tally_chunk_feed_t *feed,
                  const tally_run_options_t &options, tally_chunk_run_t run,
                  tally_error_t *err, std::string *notes)
{
    if (!check_run(list, options, err))
        return false;
    run.header = options.header;
    run.quotes = options.quotes;
    // The echo of --verbose is printed as the fields are read, and a row
    // function needs the rows' numbers while its part is read: either
    // reads the input in one pass.
    for (int i = 0; i < list->count; ++i)
        if (tallyf_over_row(&list->functions[i]))
            run.threads = 1;
    if (options.verbose)
        run.threads = 1;
    if (options.nby != 0)
        return tally_run_grouped_threaded(list, feed, options, run, err,
                                          notes);
    plain_ops_t ops(list, options);
    return tally_run_chunked(&ops, feed, run, err, notes);
}

} // namespace

namespace {

// Each value-keeping record's array, on each of parts passes at once,
// takes an equal share of the memory limit; a part's state keeps its
// values in input order.  The runs of an earlier run are given back.
void share_memory(const tallyf_list_t *list, uint64_t parts, bool state_out)
{
    tally_values_release_all();
    uint64_t arrays = 0;
    for (int i = 0; i < list->count; ++i)
        arrays += tally_feed_of(list->functions[i].code) == tally_feed_t::values;
    tally_values_set_shares(arrays * parts);
    tally_values_keep_input_order(state_out);
}

} // namespace

bool tally_run_state_out(tallyf_list_t *list, FILE *stream,
                         const tally_run_options_t &options,
                         tally_state_writer_t *w, tally_error_t *err)
{
    try {
        const tally_rest_scope_t rests;
        share_memory(list, 1, true);
        for (int i = 0; i < list->count; ++i) {
            const tallyf_t &tf = list->functions[i];
            if (!tallyf_over_row(&tf))
                continue;
            const tally_function_t *f = tally_function_by_stored(tf.code);
            char m[200];
            std::snprintf(m, sizeof m,
                          "--state-out: %s --row %u: a function over a row "
                          "cannot be computed by parts (a part does not know "
                          "its rows' numbers)\n",
                          f != nullptr ? f->word : "function", tf.row);
            return tally_fail(err, EX_USAGE, m);
        }
        if (!check_run(list, options, err))
            return false;
        if (options.nby != 0)
            return tally_grouped_state_out(list, stream, options, w, err);
        return state_out_list(list, stream, options, w, err);
    } catch (const std::bad_alloc &) {
        return tally_fail_nomem(err);
    }
}

bool tally_run_merge(tallyf_list_t *list, tally_state_reader_t *const *parts,
                     int nparts, const tally_run_options_t &options,
                     tally_error_t *err, std::string *notes)
{
    try {
        const tally_rest_scope_t rests;
        share_memory(list, 1, false);
        if (!check_run(list, options, err))
            return false;
        if (options.nby != 0)
            return tally_grouped_merge_states(list, parts, nparts, options,
                                              err, notes);
        return merge_list(list, parts, nparts, options, err, notes);
    } catch (const std::bad_alloc &) {
        return tally_fail_nomem(err);
    }
}

bool tally_run_parts(tallyf_list_t *list, FILE *const *parts, int nparts,
                     const tally_run_options_t &options, tally_error_t *err,
                     std::string *notes)
{
    try {
        const tally_rest_scope_t rests;
        share_memory(list, 2, false);
        return run_parts(list, parts, nparts, options, err, notes);
    } catch (const std::bad_alloc &) {
        return tally_fail_nomem(err);
    }
}

bool tally_run_threaded(tallyf_list_t *list, tally_chunk_feed_t *feed,
                        const tally_run_options_t &options,
                        const tally_chunk_run_t &run, tally_error_t *err,
                        std::string *notes)
{
    try {
        const tally_rest_scope_t rests;
        share_memory(list, 4 * static_cast<uint64_t>(std::max(run.threads, 1)) + 1, false);
        return run_threaded(list, feed, options, run, err, notes);
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
        share_memory(list, 1, false);
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
