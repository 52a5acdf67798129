// What both runs share before the pass.
#include "run-options.h"

#include <cinttypes>
#include <cstdio>

#include <sysexits.h>

#include "functions.h"
#include "report.h"
#include "state-file.h"
#include "xt-dsv.h"

// The name record i's column was chosen by, or null.
const char *tally_col_name(const tally_run_options_t &options, int i)
{
    if (options.names == nullptr)
        return nullptr;
    if (!options.names->pair_label[i].empty())
        return options.names->pair_label[i].c_str();
    if (options.names->name[i].empty())
        return nullptr;
    return options.names->name[i].c_str();
}

namespace {

// Gives every record chosen by name the column that holds that name in
// header (the header line's fields, in order; column 1 first).  False, with
// a one-line message and status 65, for a name that the header line lacks
// or holds twice.
bool tally_resolve_names(tallyf_list_t *list, const tally_col_names_t &names,
                         const std::vector<std::string> &header,
                         tally_error_t *err)
{
    for (int i = 0; i < list->count; ++i) {
        if (!names.name[i].empty() &&
            !tally_resolve_name(names.name[i], header,
                                &list->functions[i].col, err))
            return false;
        if (!names.name2[i].empty() &&
            !tally_resolve_name(names.name2[i], header,
                                &list->functions[i].col2, err))
            return false;
    }
    return true;
}

} // namespace

void tally_wants_of(const tallyf_list_t *list, tally_wants_t *wants)
{
    wants->count = list->count;
    for (int i = 0; i < list->count; ++i) {
        const tallyf_t &f = list->functions[i];
        wants->at[i] = {f.row, f.col, f.col2,
                        tally_feeds_pairs(tally_feed_of(f.code)), f.split};
    }
}

bool tally_check_split(const tallyf_list_t *list,
                       const tally_run_options_t &options, tally_error_t *err)
{
    tally_wants_t wants;
    tally_wants_of(list, &wants);
    if (options.nby + tally_split_columns(wants) <= TALLY_KEYS_MAX)
        return true;
    return tally_fail(err, EX_USAGE,
                      "--split: more key columns than " +
                          std::to_string(TALLY_KEYS_MAX) +
                          " with those of --by\n");
}

std::string tally_split_col_text(const tallyf_list_t *list,
                                 const tally_run_options_t &options, int i)
{
    if (options.names != nullptr && !options.names->name2[i].empty())
        return options.names->name2[i];
    return std::to_string(list->functions[i].col2);
}

bool tally_on_header(void *ctx, const std::vector<std::string> &fields,
                     uint64_t long_col, tally_error_t *err)
{
    const tally_header_ctx_t &h = *static_cast<tally_header_ctx_t *>(ctx);
    const tally_run_options_t &options = *h.options;
    bool named = options.names != nullptr;
    for (int s = 0; s < options.nby; ++s)
        named |= !options.by_name[s].empty();
    if (named && long_col != 0) {
        char m[120];
        std::snprintf(m, sizeof m,
                      "Header field longer than %zu bytes: row 1, col %" PRIu64
                      "\n",
                      XT_DSV_FIELD_MAX, long_col);
        return tally_fail(err, EX_DATAERR, m);
    }
    if (options.names != nullptr &&
        !tally_resolve_names(h.list, *options.names, fields, err))
        return false;
    for (int s = 0; s < options.nby; ++s)
        if (!options.by_name[s].empty() &&
            !tally_resolve_name(options.by_name[s], fields, &h.by[s], err))
            return false;
    tally_wants_of(h.list, h.wants);
    tally_select(*h.wants, h.by, options.nby, h.sel);
    if (h.fields != nullptr)
        *h.fields = fields;
    return true;
}

std::unique_ptr<tally_records_t>
tally_make_records(const tallyf_list_t *list, const tally_run_options_t &options,
                   const uint32_t *by, const std::vector<std::string> &fields)
{
    if (options.layout.format == tally_format_t::report)
        return nullptr;
    std::vector<std::string> keys;
    for (int s = 0; s < options.nby; ++s) {
        if (options.header && by[s] >= 1 && by[s] <= fields.size())
            keys.push_back(fields[by[s] - 1]);
        else
            keys.push_back("col " + std::to_string(by[s]));
    }
    return std::make_unique<tally_records_t>(
        options.layout, list, std::move(keys),
        options.header ? &fields : nullptr);
}

void tally_records_names_only(tally_records_t *records,
                              const tallyf_list_t *list,
                              const tally_run_options_t &options, FILE *out)
{
    records->begin_names(out);
    if (!options.layout.long_rows) {
        for (int i = 0; i < list->count; ++i) {
            // The request as asked, with nothing collected.
            tallyf_t tf = list->functions[i];
            tf.nums = nullptr;
            tf.num_count = 0;
            tf.array_size = 0;
            tf.tmp_file = nullptr;
            tally_printer_t p = tally_record_printer(&tf);
            p.col_name = tally_col_name(options, i);
            p.records = records;
            records->request(i, p);
            tally_listing_t none{nullptr, 0};
            tally_error_t err;
            tally_report_record(&tf, p, &none, &err);
        }
    }
    records->end();
}

bool tally_check_layout(const tallyf_list_t *list,
                        const tally_run_options_t &options, tally_error_t *err)
{
    if (options.layout.format == tally_format_t::report ||
        options.layout.long_rows)
        return true;
    for (int i = 0; i < list->count; ++i) {
        const tally_function_t *f =
            tally_function_by_stored(list->functions[i].code);
        if (f == nullptr || f->shape == tally_shape_t::results)
            continue;
        const std::string &word = options.layout.words != nullptr &&
                                          !options.layout.words[i].empty()
                                      ? options.layout.words[i]
                                      : std::string(f->word);
        return tally_fail(err, EX_USAGE,
                          word + ": its " +
                              (f->shape == tally_shape_t::drawing ? "drawing"
                                                            : "listing") +
                              " does not fit one row; add --long\n");
    }
    return true;
}

bool tally_merge_part_head(tally_state_reader_t *in, tally_state_rows_t *rows,
                           tally_header_ctx_t *ctx, tally_pass_stats_t *stats,
                           tally_error_t *err)
{
    std::vector<std::string> fields;
    if (!tally_state_get_fields(*in, &fields, err) ||
        !tally_state_get_stats(*in, stats, err))
        return false;
    if (rows->header_line(*stats, fields)) {
        if (!rows->seen) {
            if (!tally_on_header(ctx, fields, 0, err))
                return false;
        } else if (fields != *ctx->fields) {
            return in->mismatch(err, "another header line");
        }
    }
    rows->place(stats, fields);
    return true;
}

tally_pass_input_t tally_run_input(FILE *stream,
                                   const tally_run_options_t &options,
                                   tally_header_ctx_t *ctx,
                                   const tally_pass_input_t *later)
{
    tally_pass_input_t input{stream, options.delims, options.verbose,
                             options.nby};
    input.quotes = options.quotes;
    input.skip_missing = options.skip_missing;
    if (options.header) {
        input.on_header = tally_on_header;
        input.header_ctx = ctx;
    }
    input.wants = ctx->wants;
    input.names = options.names;
    if (later != nullptr) {
        input.on_header = nullptr;
        input.first_row = later->first_row;
        input.header_fields = later->header_fields;
        input.at_start = false;
        input.source = later->source;
    }
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
