// Reading a function's words.
#include "request.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sysexits.h>

#include "frequency.h"
#include "functions.h"
#include "parse-number.h"
#include "percentile-list.h"
#include "picks.h"
#include "xt-dsv.h"

namespace {

bool refuse(tally_error_t *err, const char *format, const char *arg)
{
    std::string m(std::strlen(format) + std::strlen(arg), '\0');
    const int n = std::snprintf(m.data(), m.size() + 1, format, arg);
    m.resize(static_cast<size_t>(n));
    return tally_fail(err, EX_USAGE, std::move(m));
}

bool too_many(tally_error_t *err)
{
    char m[80];
    std::snprintf(m, sizeof m, "Error: Maximum functions for one run is %u.\n",
                  static_cast<unsigned>(TALLYF_LIST_MAX));
    return tally_fail(err, EX_USAGE, m);
}

// Reads the function at argv[*arg]; with extras, the number may be a list.
bool add_request(tallyf_list_t *list, tallyf_code_t code, int *arg, int argc,
                 char *argv[], tally_error_t *err,
                 const tally_request_extras_t *extras)
{
    if (list->count >= TALLYF_LIST_MAX)
        return too_many(err);
    tallyf_t *tf = &list->functions[list->count];
    tf->code = code;
    int i = *arg;

    const tally_function_t *f = nullptr;
    for (size_t k = 0; k < tally_function_count && f == nullptr; ++k)
        if (tally_functions[k].code == code)
            f = &tally_functions[k];
    if (f != nullptr) {
        if (f->refusal != nullptr)
            return refuse(err, (std::string("%s: ") + f->refusal + "\n").c_str(),
                          argv[i]);
        tf->code = f->stored;
        if (f->partitions != 0)
            tf->partitions = f->partitions;
        switch (f->param) {
        case tally_param_t::none:
            break;
        case tally_param_t::divisions:
            if (++i >= argc)
                return tally_fail_usage(err);
            if (!parse_uint32_arg(argv[i], &tf->partitions))
                return refuse(err, "Invalid quantile partition count: %s\n",
                              argv[i]);
            break;
        case tally_param_t::expected_mean: {
            if (++i >= argc)
                return tally_fail_usage(err);
            char *end;
            tf->expected_mean = std::strtod(argv[i], &end);
            if (*end != '\0')
                return refuse(err, "Invalid expected mean: %s\n", argv[i]);
            break;
        }
        case tally_param_t::percentiles: {
            if (++i >= argc)
                return tally_fail_usage(err);
            const char *bad;
            if (!tallyf_percentiles_valid(argv[i], &bad))
                return refuse(err, "Invalid percentile list: %s\n", argv[i]);
            tf->percentiles = argv[i];
            break;
        }
        case tally_param_t::two_columns:
            break;
        case tally_param_t::count:
            if (++i >= argc)
                return tally_fail_usage(err);
            if (!parse_uint32_arg(argv[i], &tf->partitions) ||
                tf->partitions == 0)
                return refuse(err, "Invalid count for top: %s\n", argv[i]);
            break;
        case tally_param_t::optional_bins:
            // histogram [B]: a B only where --row or --col does not follow.
            tf->partitions = 0;
            if (i + 1 < argc && std::strcmp(argv[i + 1], "--row") != 0 &&
                std::strcmp(argv[i + 1], "--col") != 0) {
                ++i;
                if (!parse_uint32_arg(argv[i], &tf->partitions) ||
                    tf->partitions == 0 ||
                    tf->partitions > TALLY_HISTOGRAM_BINS_MAX)
                    return refuse(err, "Invalid bin count for histogram: %s\n",
                                  argv[i]);
            }
            break;
        }
    }

    if (i + 1 < argc && tally_function_by_word(argv[i + 1]) != nullptr)
        return tally_fail_usage(err, std::string("numtally: '") + argv[*arg] +
                                         "' needs a --row or --col of its "
                                         "own before '" + argv[i + 1] + "'\n");
    if (i + 2 >= argc)
        return tally_fail_usage(err);
    const char *text = argv[i + 2];
    const bool is_row = std::strcmp(argv[i + 1], "--row") == 0;
    const bool is_col = std::strcmp(argv[i + 1], "--col") == 0;
    tally_pick_t picks[TALLYF_LIST_MAX + 1];
    size_t count = 1;
    if (parse_uint32_arg(text, &picks[0].number)) {
        picks[0].name = nullptr;
        picks[0].name_len = 0;
    } else if (extras == nullptr ||
               !tally_parse_picks(text, extras->names_allowed && !is_row,
                                  picks, TALLYF_LIST_MAX + 1, &count)) {
        size_t named;
        if (extras != nullptr && !extras->names_allowed && is_col &&
            std::strchr("0123456789+-", text[0]) == nullptr &&
            tally_parse_picks(text, true, picks, TALLYF_LIST_MAX + 1, &named))
            return refuse(err, "Invalid row/col: %s (a column name needs "
                               "--header)\n", text);
        return refuse(err, "Invalid row/col: %s\n", text);
    }
    if (!is_row && !is_col)
        return tally_fail_usage(err);
    // The header line's fields are kept to the field limit: a longer name
    // could only be told by its first bytes.
    // (More picks than the list holds make count one past the room; that
    // many are refused below.)
    for (size_t k = 0; k < count && k <= TALLYF_LIST_MAX; ++k)
        if (picks[k].name_len > XT_DSV_FIELD_MAX)
            return tally_fail(err, EX_USAGE,
                              "--col: a column name longer than " +
                                  std::to_string(XT_DSV_FIELD_MAX) +
                                  " bytes\n");
    if (f != nullptr && f->param == tally_param_t::two_columns) {
        // FUNCTION --col X --col Y: one pair of columns, by number or
        // (where names are allowed) by name.
        const bool names_ok = extras != nullptr && extras->names_allowed &&
                              extras->names2 != nullptr;
        // welch-t --col VALUE --split KEY: the two samples are the values
        // of one column, told apart by the two values of a key column.
        const bool split = code == TALLYF_WELCH_T && i + 4 < argc &&
                           std::strcmp(argv[i + 3], "--split") == 0;
        if (!is_col || count != 1 || (picks[0].name != nullptr && !names_ok) ||
            i + 4 >= argc ||
            (std::strcmp(argv[i + 3], "--col") != 0 && !split))
            return refuse(err, "%s: two columns are needed: --col X --col Y\n",
                          argv[*arg]);
        tally_pick_t second;
        size_t nsecond = 0;
        if (parse_uint32_arg(argv[i + 4], &second.number)) {
            second.name = nullptr;
            second.name_len = 0;
        } else if (!names_ok ||
                   !tally_parse_picks(argv[i + 4], true, &second, 1,
                                      &nsecond) ||
                   nsecond != 1 || second.name == nullptr) {
            return refuse(err, "Invalid row/col: %s\n", argv[i + 4]);
        } else if (second.name_len > XT_DSV_FIELD_MAX) {
            return tally_fail(err, EX_USAGE,
                              "--col: a column name longer than " +
                                  std::to_string(XT_DSV_FIELD_MAX) +
                                  " bytes\n");
        }
        tf->row = 0;
        tf->col = picks[0].number;
        tf->by_row = false;
        tf->col2 = second.number;
        tf->split = split;
        if (split && second.name == nullptr && second.number == 0)
            return refuse(err, "Invalid --split column: %s\n", argv[i + 4]);
        tallyf_sums2_init(&tf->pairs);
        tf->sum_x = tf->sum_x_2 = tf->sum_y = tf->sum_y_2 = tf->sum_x_y = 0;
        if (extras != nullptr)
            extras->names[list->count].assign(
                picks[0].name != nullptr ? picks[0].name : "", picks[0].name_len);
        if (names_ok)
            extras->names2[list->count].assign(
                second.name != nullptr ? second.name : "", second.name_len);
        ++list->count;
        *arg = i + 4;
        return true;
    }
    if (static_cast<size_t>(list->count) + count > TALLYF_LIST_MAX)
        return too_many(err);
    // The first record holds what was asked; the others are asked the same.
    for (size_t k = 0; k < count; ++k) {
        tallyf_t *r = &list->functions[list->count + k];
        if (k != 0) {
            r->code = tf->code;
            r->partitions = tf->partitions;
            r->expected_mean = tf->expected_mean;
            r->percentiles = tf->percentiles;
        }
        r->row = is_row ? picks[k].number : 0;
        r->col = is_row ? 0 : picks[k].number;
        r->by_row = is_row;
        if (extras != nullptr)
            extras->names[list->count + k].assign(
                picks[k].name != nullptr ? picks[k].name : "", picks[k].name_len);
    }
    list->count += static_cast<int>(count);
    *arg = i + 2;
    return true;
}

} // namespace

bool tally_add_request(tallyf_list_t *list, tallyf_code_t code, int *arg,
                       int argc, char *argv[], tally_error_t *err)
{
    return add_request(list, code, arg, argc, argv, err, nullptr);
}

bool tally_add_request(tallyf_list_t *list, tallyf_code_t code, int *arg,
                       int argc, char *argv[], tally_error_t *err,
                       const tally_request_extras_t &extras)
{
    return add_request(list, code, arg, argc, argv, err, &extras);
}
