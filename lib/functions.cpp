// The table of function descriptors.
#include "functions.h"

#include <cstring>

namespace {
using P = tally_param_t;
using F = tally_feed_t;
using R = tally_report_t;
} // namespace

const tally_function_t tally_functions[] = {
    // word, code, stored, partitions, param, feed, report, usage, refusal
    {"mean", TALLYF_MEAN, TALLYF_MEAN, 0, P::none, F::sum, R::mean, "mean",
     nullptr},
    {"quantile", TALLYF_QUANTILE, TALLYF_QUANTILE, 0, P::divisions, F::values,
     R::quantiles, "quantile N (N = number of divisions)", nullptr},
    {"median", TALLYF_MEDIAN, TALLYF_QUANTILE, 2, P::none, F::values,
     R::quantiles, "median (same as quantile 2)", nullptr},
    {"quartile", TALLYF_QUARTILE, TALLYF_QUANTILE, 4, P::none, F::values,
     R::quantiles, "quartile (same as quantile 4)", nullptr},
    {"pop-var", TALLYF_POP_VAR, TALLYF_POP_VAR, 0, P::none, F::squares,
     R::population, "pop-var", nullptr},
    {"pop-SD", TALLYF_POP_SD, TALLYF_POP_SD, 0, P::none, F::squares,
     R::population, "pop-SD", nullptr},
    {"pop-z-scores", TALLYF_POP_Z_SCORES, TALLYF_POP_Z_SCORES, 0, P::none,
     F::squares_listed, R::population_listing, "pop-z-scores", nullptr},
    {"sample-var", TALLYF_SAMPLE_VAR, TALLYF_SAMPLE_VAR, 0, P::none,
     F::squares, R::sample, "sample-var", nullptr},
    {"sample-SD", TALLYF_SAMPLE_SD, TALLYF_SAMPLE_SD, 0, P::none, F::squares,
     R::sample, "sample-SD", nullptr},
    {"sample-z-scores", TALLYF_SAMPLE_Z_SCORES, TALLYF_SAMPLE_Z_SCORES, 0,
     P::none, F::squares_listed, R::sample_listing, "sample-z-scores",
     nullptr},
    {"sample-SE", TALLYF_SAMPLE_SE, TALLYF_SAMPLE_SE, 0, P::none, F::squares,
     R::sample, "sample-SE", nullptr},
    {"sample-t-score", TALLYF_SAMPLE_T_SCORE, TALLYF_SAMPLE_T_SCORE, 0,
     P::expected_mean, F::squares, R::t_score,
     "sample-t-score expected-mean", nullptr},
    {"mode", TALLYF_MODE, TALLYF_MODE, 0, P::none, F::values, R::mode, "mode",
     nullptr},
    {"range", TALLYF_RANGE, TALLYF_RANGE, 0, P::none, F::bounds, R::range,
     "range", nullptr},
    // Built on the quartiles: 4 divisions.
    {"iq-range", TALLYF_IQ_RANGE, TALLYF_IQ_RANGE, 4, P::none, F::values,
     R::iq_range, "iq-range", nullptr},
    {"box-plot", TALLYF_BOX_PLOT, TALLYF_BOX_PLOT, 4, P::none, F::values,
     R::box_plot, "box-plot", nullptr},
    {"chi-sq-fit", TALLYF_CHI_SQ_FIT, TALLYF_CHI_SQ_FIT, 0, P::none,
     F::squares_bounds, R::chi_sq_fit, nullptr, nullptr},
    {"chi-sq-ind", TALLYF_CHI_SQ_IND, TALLYF_CHI_SQ_IND, 0, P::none, F::sum,
     R::none, nullptr,
     "a test of independence needs a table of several rows and columns, "
     "which one row or column cannot give"},
    // Not in the usage list, whose text stays as it always was.
    {"count", TALLYF_COUNT, TALLYF_COUNT, 0, P::none, F::sum, R::count,
     nullptr, nullptr},
    {"sum", TALLYF_SUM, TALLYF_SUM, 0, P::none, F::sum, R::sum, nullptr,
     nullptr},
    {"min", TALLYF_MIN, TALLYF_MIN, 0, P::none, F::bounds, R::min, nullptr,
     nullptr},
    {"max", TALLYF_MAX, TALLYF_MAX, 0, P::none, F::bounds, R::max, nullptr,
     nullptr},
    {"percentile", TALLYF_PERCENTILE, TALLYF_PERCENTILE, 0, P::percentiles,
     F::values, R::percentiles, nullptr, nullptr},
    {"geo-mean", TALLYF_GEO_MEAN, TALLYF_GEO_MEAN, 0, P::none, F::values,
     R::geo_mean, nullptr, nullptr},
    {"harm-mean", TALLYF_HARM_MEAN, TALLYF_HARM_MEAN, 0, P::none, F::values,
     R::harm_mean, nullptr, nullptr},
    {"skewness", TALLYF_SKEWNESS, TALLYF_SKEWNESS, 0, P::none, F::values,
     R::skewness, nullptr, nullptr},
    {"kurtosis", TALLYF_KURTOSIS, TALLYF_KURTOSIS, 0, P::none, F::values,
     R::kurtosis, nullptr, nullptr},
    {"mad", TALLYF_MAD, TALLYF_MAD, 0, P::none, F::values, R::mad, nullptr,
     nullptr},
    {"summary", TALLYF_SUMMARY, TALLYF_SUMMARY, 0, P::none, F::values,
     R::summary, nullptr, nullptr},
    {"covariance", TALLYF_COVARIANCE, TALLYF_COVARIANCE, 0, P::two_columns,
     F::pairs, R::covariance, nullptr, nullptr},
    {"correlation", TALLYF_CORRELATION, TALLYF_CORRELATION, 0,
     P::two_columns, F::pairs, R::correlation, nullptr, nullptr},
    {"regression", TALLYF_REGRESSION, TALLYF_REGRESSION, 0, P::two_columns,
     F::pairs, R::regression, nullptr, nullptr},
    {"welch-t", TALLYF_WELCH_T, TALLYF_WELCH_T, 0, P::two_columns,
     F::samples, R::welch_t, nullptr, nullptr},
    {"paired-t", TALLYF_PAIRED_T, TALLYF_PAIRED_T, 0, P::two_columns,
     F::pairs, R::paired_t, nullptr, nullptr},
    {"t-test", TALLYF_T_TEST, TALLYF_T_TEST, 0, P::expected_mean,
     F::squares, R::t_test, nullptr, nullptr},
    {"frequency", TALLYF_FREQUENCY, TALLYF_FREQUENCY, 0, P::none, F::values,
     R::frequency, nullptr, nullptr},
    {"top", TALLYF_TOP, TALLYF_TOP, 0, P::count, F::values, R::top, nullptr,
     nullptr},
    {"distinct", TALLYF_DISTINCT, TALLYF_DISTINCT, 0, P::none, F::values,
     R::distinct, nullptr, nullptr},
    {"histogram", TALLYF_HISTOGRAM, TALLYF_HISTOGRAM, 0, P::optional_bins,
     F::values, R::histogram, nullptr, nullptr},
};

const size_t tally_function_count =
    sizeof tally_functions / sizeof tally_functions[0];

const tally_function_t *tally_function_by_word(const char *word)
{
    for (const tally_function_t &f : tally_functions)
        if (std::strcmp(word, f.word) == 0)
            return &f;
    return nullptr;
}

const tally_function_t *tally_function_by_stored(tallyf_code_t code)
{
    for (const tally_function_t &f : tally_functions)
        if (f.code == code && f.stored == code)
            return &f;
    return nullptr;
}

tally_feed_t tally_feed_of(tallyf_code_t code)
{
    const tally_function_t *f = tally_function_by_stored(code);
    return f != nullptr ? f->feed : tally_feed_t::sum;
}
