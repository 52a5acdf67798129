// The table of function descriptors.
#include "functions.h"

#include "blocks.h"

#include <cstring>

namespace {
using P = tally_param_t;
using F = tally_feed_t;
using S = tally_shape_t;
} // namespace

const tally_function_t tally_functions[] = {
    // word, code, stored, partitions, param, feed, block, shape, usage,
    // help, refusal
    {"mean", TALLYF_MEAN, TALLYF_MEAN, 0, P::none, F::sum, tally_block_mean,
     S::results, "mean", nullptr, nullptr},
    {"quantile", TALLYF_QUANTILE, TALLYF_QUANTILE, 0, P::divisions, F::values,
     tally_block_quantiles, S::results, "quantile N (N = number of divisions)",
     nullptr, nullptr},
    {"median", TALLYF_MEDIAN, TALLYF_QUANTILE, 2, P::none, F::values,
     tally_block_quantiles, S::results, "median (same as quantile 2)", nullptr,
     nullptr},
    {"quartile", TALLYF_QUARTILE, TALLYF_QUANTILE, 4, P::none, F::values,
     tally_block_quantiles, S::results, "quartile (same as quantile 4)",
     nullptr, nullptr},
    {"pop-var", TALLYF_POP_VAR, TALLYF_POP_VAR, 0, P::none, F::squares,
     tally_block_population, S::results, "pop-var", nullptr, nullptr},
    {"pop-SD", TALLYF_POP_SD, TALLYF_POP_SD, 0, P::none, F::squares,
     tally_block_population, S::results, "pop-SD", nullptr, nullptr},
    {"pop-z-scores", TALLYF_POP_Z_SCORES, TALLYF_POP_Z_SCORES, 0, P::none,
     F::squares_listed, tally_block_population_listing, S::listing,
     "pop-z-scores", nullptr, nullptr},
    {"sample-var", TALLYF_SAMPLE_VAR, TALLYF_SAMPLE_VAR, 0, P::none,
     F::squares, tally_block_sample, S::results, "sample-var", nullptr,
     nullptr},
    {"sample-SD", TALLYF_SAMPLE_SD, TALLYF_SAMPLE_SD, 0, P::none, F::squares,
     tally_block_sample, S::results, "sample-SD", nullptr, nullptr},
    {"sample-z-scores", TALLYF_SAMPLE_Z_SCORES, TALLYF_SAMPLE_Z_SCORES, 0,
     P::none, F::squares_listed, tally_block_sample_listing, S::listing,
     "sample-z-scores", nullptr, nullptr},
    {"sample-SE", TALLYF_SAMPLE_SE, TALLYF_SAMPLE_SE, 0, P::none, F::squares,
     tally_block_sample, S::results, "sample-SE", nullptr, nullptr},
    {"sample-t-score", TALLYF_SAMPLE_T_SCORE, TALLYF_SAMPLE_T_SCORE, 0,
     P::expected_mean, F::squares, tally_block_t_score, S::results,
     "sample-t-score expected-mean", nullptr, nullptr},
    {"mode", TALLYF_MODE, TALLYF_MODE, 0, P::none, F::values, tally_block_mode,
     S::results, "mode", nullptr, nullptr},
    {"range", TALLYF_RANGE, TALLYF_RANGE, 0, P::none, F::bounds,
     tally_block_range, S::results, "range", nullptr, nullptr},
    // Built on the quartiles: 4 divisions.
    {"iq-range", TALLYF_IQ_RANGE, TALLYF_IQ_RANGE, 4, P::none, F::values,
     tally_block_iq_range, S::results, "iq-range", nullptr, nullptr},
    {"box-plot", TALLYF_BOX_PLOT, TALLYF_BOX_PLOT, 4, P::none, F::values,
     tally_block_box_plot, S::drawing, "box-plot", nullptr, nullptr},
    {"chi-sq-fit", TALLYF_CHI_SQ_FIT, TALLYF_CHI_SQ_FIT, 0, P::none,
     F::squares_bounds, tally_block_chi_sq_fit, S::results, nullptr,
     "chi-sq-fit          chi-square fit of the values to a normal", nullptr},
    {"chi-sq-ind", TALLYF_CHI_SQ_IND, TALLYF_CHI_SQ_IND, 0, P::none, F::sum,
     nullptr, S::results, nullptr, nullptr,
     "a test of independence needs a table of several rows and columns, "
     "which one row or column cannot give"},
    // Not in the usage list, whose text stays as it always was.
    {"count", TALLYF_COUNT, TALLYF_COUNT, 0, P::none, F::sum,
     tally_block_count, S::results, nullptr,
     "count               how many values", nullptr},
    {"sum", TALLYF_SUM, TALLYF_SUM, 0, P::none, F::sum, tally_block_sum,
     S::results, nullptr, "sum                 their sum", nullptr},
    {"min", TALLYF_MIN, TALLYF_MIN, 0, P::none, F::bounds, tally_block_min,
     S::results, nullptr, "min                 the lowest value", nullptr},
    {"max", TALLYF_MAX, TALLYF_MAX, 0, P::none, F::bounds, tally_block_max,
     S::results, nullptr, "max                 the highest value", nullptr},
    {"percentile", TALLYF_PERCENTILE, TALLYF_PERCENTILE, 0, P::percentiles,
     F::values, tally_block_percentiles, S::results, nullptr,
     "percentile P[,P...] the P-th percentiles (P above 0, below 100)",
     nullptr},
    {"geo-mean", TALLYF_GEO_MEAN, TALLYF_GEO_MEAN, 0, P::none, F::values,
     tally_block_geo_mean, S::results, nullptr,
     "geo-mean            geometric mean", nullptr},
    {"harm-mean", TALLYF_HARM_MEAN, TALLYF_HARM_MEAN, 0, P::none, F::values,
     tally_block_harm_mean, S::results, nullptr,
     "harm-mean           harmonic mean", nullptr},
    {"skewness", TALLYF_SKEWNESS, TALLYF_SKEWNESS, 0, P::none, F::values,
     tally_block_skewness, S::results, nullptr,
     "skewness            sample skewness", nullptr},
    {"kurtosis", TALLYF_KURTOSIS, TALLYF_KURTOSIS, 0, P::none, F::values,
     tally_block_kurtosis, S::results, nullptr,
     "kurtosis            sample excess kurtosis", nullptr},
    {"mad", TALLYF_MAD, TALLYF_MAD, 0, P::none, F::values, tally_block_mad,
     S::results, nullptr, "mad                 median absolute deviation",
     nullptr},
    {"summary", TALLYF_SUMMARY, TALLYF_SUMMARY, 0, P::none, F::values,
     tally_block_summary, S::results, nullptr,
     "summary             minimum, quartiles, mean, maximum", nullptr},
    {"covariance", TALLYF_COVARIANCE, TALLYF_COVARIANCE, 0, P::two_columns,
     F::pairs, tally_block_covariance, S::results, nullptr,
     "covariance --col X --col Y   sample covariance", nullptr},
    {"correlation", TALLYF_CORRELATION, TALLYF_CORRELATION, 0, P::two_columns,
     F::pairs, tally_block_correlation, S::results, nullptr,
     "correlation --col X --col Y  Pearson's r", nullptr},
    {"regression", TALLYF_REGRESSION, TALLYF_REGRESSION, 0, P::two_columns,
     F::pairs, tally_block_regression, S::results, nullptr,
     "regression --col X --col Y   least-squares line", nullptr},
    {"welch-t", TALLYF_WELCH_T, TALLYF_WELCH_T, 0, P::two_columns, F::samples,
     tally_block_welch_t, S::results, nullptr,
     "welch-t --col X --col Y      Welch's two-sample t-test\n"
     "  welch-t --col V --split K    the same, V's values by K's two keys",
     nullptr},
    {"paired-t", TALLYF_PAIRED_T, TALLYF_PAIRED_T, 0, P::two_columns, F::pairs,
     tally_block_paired_t, S::results, nullptr,
     "paired-t --col X --col Y     paired t-test", nullptr},
    {"t-test", TALLYF_T_TEST, TALLYF_T_TEST, 0, P::expected_mean, F::squares,
     tally_block_t_test, S::results, nullptr,
     "t-test MU           one-sample t-test of the mean against MU", nullptr},
    {"frequency", TALLYF_FREQUENCY, TALLYF_FREQUENCY, 0, P::none, F::values,
     tally_block_frequency, S::listing, nullptr,
     "frequency           each value's count, percent, cumulative", nullptr},
    {"top", TALLYF_TOP, TALLYF_TOP, 0, P::count, F::values, tally_block_top,
     S::listing, nullptr, "top K               the K most frequent values",
     nullptr},
    {"distinct", TALLYF_DISTINCT, TALLYF_DISTINCT, 0, P::none, F::values,
     tally_block_distinct, S::results, nullptr,
     "distinct            how many distinct values", nullptr},
    {"histogram", TALLYF_HISTOGRAM, TALLYF_HISTOGRAM, 0, P::optional_bins,
     F::values, tally_block_histogram, S::listing, nullptr,
     "histogram [B]       B equal bins (default: Sturges' rule), drawn",
     nullptr},
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
