// Reading a function's words.
#include "request.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sysexits.h>

#include "functions.h"
#include "parse-number.h"
#include "percentile-list.h"

namespace {

bool refuse(tally_error_t *err, const char *format, const char *arg)
{
    std::string m(std::strlen(format) + std::strlen(arg), '\0');
    const int n = std::snprintf(m.data(), m.size() + 1, format, arg);
    m.resize(static_cast<size_t>(n));
    return tally_fail(err, EX_USAGE, std::move(m));
}

} // namespace

bool tally_add_request(tallyf_list_t *list, tallyf_code_t code, int *arg,
                       int argc, char *argv[], tally_error_t *err)
{
    if (list->count >= TALLYF_LIST_MAX) {
        char m[80];
        std::snprintf(m, sizeof m,
                      "Error: Maximum functions for one run is %u.\n",
                      static_cast<unsigned>(TALLYF_LIST_MAX));
        return tally_fail(err, EX_USAGE, m);
    }
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
        }
    }

    if (i + 2 >= argc)
        return tally_fail_usage(err);
    uint32_t number;
    if (!parse_uint32_arg(argv[i + 2], &number))
        return refuse(err, "Invalid row/col: %s\n", argv[i + 2]);
    if (std::strcmp(argv[i + 1], "--row") == 0) {
        tf->row = number;
        tf->col = 0;
    } else if (std::strcmp(argv[i + 1], "--col") == 0) {
        tf->row = 0;
        tf->col = number;
    } else {
        return tally_fail_usage(err);
    }
    if (f != nullptr && f->param == tally_param_t::two_columns) {
        // FUNCTION --col X --col Y: the second column after the first.
        uint32_t second;
        if (std::strcmp(argv[i + 1], "--col") != 0 || i + 4 >= argc ||
            std::strcmp(argv[i + 3], "--col") != 0)
            return refuse(err, "%s: two columns are needed: --col X --col Y\n",
                          argv[*arg]);
        if (!parse_uint32_arg(argv[i + 4], &second))
            return refuse(err, "Invalid row/col: %s\n", argv[i + 4]);
        tf->col2 = second;
        tallyf_sums2_init(&tf->pairs);
        tf->sum_x = tf->sum_x_2 = tf->sum_y = tf->sum_y_2 = tf->sum_x_y = 0;
        i += 2;
    }
    ++list->count;
    *arg = i + 2;
    return true;
}
