// Blocks of the counting, shape, percentile, summary, two-column and
// two-sample functions.
#include "report-more.h"

#include "blocks.h"

#include <cmath>
#include <cstdio>

#include "bivariate.h"
#include "double-double.h"
#include "mad.h"
#include "moments.h"
#include "order-points.h"
#include "percentile-list.h"
#include "positive-means.h"
#include "summary.h"
#include "two-sample.h"

namespace {

constexpr int W = TALLY_NAME_WIDTH;
constexpr int S = TALLY_SAMPLE_WIDTH;

// The lowest and highest value, NaN for both once a NaN was fed (it sorts
// last, so the highest is NaN).
void print_bound(const tallyf_t *tf, bool high, const tally_printer_t &p)
{
    const double v = std::isnan(tf->high) ? NAN : high ? tf->high : tf->low;
    p.stat_value(high ? "max" : "min", W, v);
}

void print_percentiles(tallyf_t *tf, const tally_printer_t &p)
{
    // The fractions, for the selection of what they read; a long list
    // sorts instead.
    constexpr size_t kMax = 31;
    double fractions[kMax];
    size_t count = 0;
    const char *at = tf->percentiles, *bad;
    tallyf_percentile_t item;
    while (tallyf_percentile_next(&at, &item, &bad))
        if (count < kMax)
            fractions[count++] = item.fraction;
    tallyf_points_t pts;
    if (tallyf_percentile_count(tf->percentiles) > kMax) {
        tallyf_sort(tf);
        pts = tallyf_sorted_points(tf->nums, tf->num_count);
    } else {
        tallyf_select_points(tf->nums, tf->num_count, fractions, count, &pts);
    }
    at = tf->percentiles;
    char name[96];
    while (tallyf_percentile_next(&at, &item, &bad)) {
        std::snprintf(name, sizeof name, "percentile(%.*s)",
                      static_cast<int>(item.label_len), item.label);
        p.stat_value(name, W, tallyf_point_at(&pts, item.fraction));
    }
}

tallyf_positive_sums_t positive_sums(const tallyf_t *tf, bool geo)
{
    tallyf_positive_sums_t s;
    tallyf_positive_init(&s);
    for (uint64_t i = 0; i < tf->num_count; ++i) {
        if (geo)
            tallyf_geo_add(&s, tf->nums[i]);
        else
            tallyf_harm_add(&s, tf->nums[i]);
    }
    return s;
}

void print_moments(const tallyf_t *tf, bool kurtosis,
                   const tally_printer_t &p)
{
    const tallyf_moments_t m = tallyf_moments(tf->nums, tf->num_count);
    if (kurtosis) {
        p.stat("pop-ex-kurtosis", S, m.g2);
        p.stat("sample-ex-kurtosis", S, m.G2);
    } else {
        p.stat("pop-skewness", S, m.g1);
        p.stat("sample-skewness", S, m.G1);
    }
}

void print_summary(tallyf_t *tf, const tally_printer_t &p)
{
    const tallyf_summary_t s = tallyf_summary(tf->nums, tf->num_count);
    p.stat_count("count", W, s.count);
    p.stat("mean", W, tallyf_mean(tf)); // as mean prints it
    p.stat("sample-SD", W, s.sd);
    p.stat_value("min", W, s.min);
    p.stat_value("first-quartile", W, s.q1);
    p.stat_value("median", W, s.median);
    p.stat_value("third-quartile", W, s.q3);
    p.stat_value("max", W, s.max);
}

void print_t_test(const tallyf_t *tf, bool paired, const tally_printer_t &p)
{
    const tallyf_t_test_t t = paired ? tallyf_paired_t(&tf->pairs)
                                     : tallyf_welch_t_lanes(&tf->pairs);
    if (paired) {
        p.stat_count("pairs", S, t.n1);
    } else {
        p.stat_count("first-n", S, t.n1);
        p.stat_count("second-n", S, t.n2);
    }
    p.stat("first-mean", S, t.mean1);
    p.stat("second-mean", S, t.mean2);
    if (!paired) {
        p.stat("first-SD", S, t.sd1);
        p.stat("second-SD", S, t.sd2);
    }
    p.stat("difference", S, t.diff);
    if (paired)
        p.stat("difference-SD", S, t.sd_diff);
    p.stat("t", S, t.t);
    if (paired && !std::isnan(t.df))
        p.stat_count("df", S, t.n1 - 1);
    else
        p.stat("df", S, t.df);
    p.stat("p-value", S, t.p);
    p.stat_interval("95%-CI", S, t.ci_low, t.ci_high);
}

} // namespace

tally_printer_t tally_pair_printer(const tallyf_t *tf)
{
    tally_printer_t p{"", 0, "Cols", tf->col};
    p.pair = true;
    p.num2 = tf->col2;
    if (tf->split) {
        p.label = "Col";
        p.pair_sep = " by ";
    }
    return p;
}

bool tally_positive_notice(const tallyf_t *tf, char *buf, size_t size)
{
    if (tf->code != TALLYF_GEO_MEAN && tf->code != TALLYF_HARM_MEAN)
        return false;
    for (uint64_t i = 0; i < tf->num_count; ++i) {
        if (tf->nums[i] <= 0) {
            std::snprintf(buf, size,
                          "numtally: %s needs values above 0; %s %u has %g, "
                          "so its line is nan\n",
                          tf->code == TALLYF_GEO_MEAN ? "geo-mean" : "harm-mean",
                          tallyf_over_row(tf) ? "Row" : "Col",
                          tallyf_over_row(tf) ? tf->row : tf->col, tf->nums[i]);
            return true;
        }
    }
    return false;
}

bool tally_block_count(tallyf_t *tf, const tally_block_args_t &a)
{
    a.p.stat_count("count", W, tf->num_count);
    return true;
}

bool tally_block_sum(tallyf_t *tf, const tally_block_args_t &a)
{
    a.p.stat("sum", W, tallyf_sum(tf));
    return true;
}

bool tally_block_min(tallyf_t *tf, const tally_block_args_t &a)
{
    print_bound(tf, false, a.p);
    return true;
}

bool tally_block_max(tallyf_t *tf, const tally_block_args_t &a)
{
    print_bound(tf, true, a.p);
    return true;
}

bool tally_block_percentiles(tallyf_t *tf, const tally_block_args_t &a)
{
    print_percentiles(tf, a.p);
    return true;
}

bool tally_block_geo_mean(tallyf_t *tf, const tally_block_args_t &a)
{
    const tallyf_positive_sums_t s = positive_sums(tf, true);
    a.p.stat("geo-mean", W, tallyf_geo_mean(&s));
    return true;
}

bool tally_block_harm_mean(tallyf_t *tf, const tally_block_args_t &a)
{
    const tallyf_positive_sums_t s = positive_sums(tf, false);
    a.p.stat("harm-mean", W, tallyf_harm_mean(&s));
    return true;
}

bool tally_block_skewness(tallyf_t *tf, const tally_block_args_t &a)
{
    print_moments(tf, false, a.p);
    return true;
}

bool tally_block_kurtosis(tallyf_t *tf, const tally_block_args_t &a)
{
    print_moments(tf, true, a.p);
    return true;
}

bool tally_block_mad(tallyf_t *tf, const tally_block_args_t &a)
{
    tallyf_sort(tf);
    const tallyf_mad_t m = tallyf_mad(tf->nums, tf->num_count);
    a.p.stat("mad", W, m.raw);
    a.p.stat("mad*1.4826", W, m.scaled);
    return true;
}

bool tally_block_summary(tallyf_t *tf, const tally_block_args_t &a)
{
    print_summary(tf, a.p);
    return true;
}

bool tally_block_covariance(tallyf_t *tf, const tally_block_args_t &a)
{
    const tallyf_covariance_t c = tallyf_covariance(&tf->pairs);
    a.p.stat("pop-covariance", S, c.pop);
    a.p.stat("sample-covariance", S, c.sample);
    return true;
}

bool tally_block_correlation(tallyf_t *tf, const tally_block_args_t &a)
{
    const tallyf_correlation_t c = tallyf_correlation(&tf->pairs);
    a.p.stat("correlation", W, c.r);
    a.p.stat_count("pairs", W, c.n);
    a.p.stat("p-value", W, c.p);
    return true;
}

bool tally_block_regression(tallyf_t *tf, const tally_block_args_t &a)
{
    const tallyf_regression_t g = tallyf_regression(&tf->pairs);
    a.p.stat("slope", W, g.slope);
    a.p.stat("intercept", W, g.intercept);
    a.p.stat("r-squared", W, g.r_squared);
    a.p.stat("residual-SD", W, g.residual_sd);
    return true;
}

bool tally_block_welch_t(tallyf_t *tf, const tally_block_args_t &a)
{
    print_t_test(tf, false, a.p);
    return true;
}

bool tally_block_paired_t(tallyf_t *tf, const tally_block_args_t &a)
{
    print_t_test(tf, true, a.p);
    return true;
}
