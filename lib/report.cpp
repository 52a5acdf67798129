// The report of a record, and the blocks of the order statistics, the
// bounds and the sums and squares: each computes its numbers, then prints
// them.
#include "report.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>

#include <sysexits.h>

#include "functions.h"
#include "mean-interval.h"
#include "order-points.h"
#include "blocks.h"
#include "report-more.h"

namespace {

constexpr int W = TALLY_NAME_WIDTH;
constexpr int S = TALLY_SAMPLE_WIDTH;

struct population_t {
    double ss, var, sd, mean;
};

population_t population_of(const tallyf_t *tf)
{
    population_t p;
    int exp;
    const double ss = tallyf_sum_squares_scaled(tf, &exp);
    const double var = ss / static_cast<double>(tf->num_count);
    p.ss = std::ldexp(ss, exp);
    p.var = std::ldexp(var, exp);
    p.sd = std::ldexp(std::sqrt(var), exp / 2);
    tally_spread_t sp; // each rounded once, where the exact sums serve
    if (tally_spread(tf, static_cast<double>(tf->num_count), &sp)) {
        p.var = std::isnan(sp.var) ? p.var : sp.var;
        p.sd = std::isnan(sp.sd) ? p.sd : sp.sd;
    }
    p.mean = tallyf_mean(tf);
    return p;
}

void print_population(const population_t &v, const tally_printer_t &p)
{
    p.stat("sum-squares", W, v.ss);
    p.stat("pop-var", W, v.var);
    p.stat("pop-SD", W, v.sd);
    p.stat("pop-mean", W, v.mean);
}

struct sample_t {
    double ss, var, sd, se, mean, ci_low, ci_high;
};

sample_t sample_of(const tallyf_t *tf)
{
    sample_t s;
    const double n = static_cast<double>(tf->num_count);
    int exp;
    const double ss = tallyf_sum_squares_scaled(tf, &exp);
    const double var = ss / static_cast<double>(tf->num_count - 1);
    s.ss = std::ldexp(ss, exp);
    s.var = std::ldexp(var, exp);
    s.sd = std::ldexp(std::sqrt(var), exp / 2);
    s.se = s.sd / std::sqrt(n);
    tally_spread_t sp; // each rounded once, where the exact sums serve
    if (tf->num_count >= 2 &&
        tally_spread(tf, static_cast<double>(tf->num_count - 1), &sp)) {
        s.var = std::isnan(sp.var) ? s.var : sp.var;
        s.sd = std::isnan(sp.sd) ? s.sd : sp.sd;
        s.se = std::isnan(sp.se) ? s.se : sp.se;
    }
    s.mean = tallyf_mean(tf);
    tally_mean_interval_2se(tf, s.se, &s.ci_low, &s.ci_high);
    return s;
}

void print_sample(const sample_t &s, const tally_printer_t &p)
{
    p.stat("sum-squares", S, s.ss);
    p.stat("sample-var", S, s.var);
    p.stat("sample-SD", S, s.sd);
    p.stat("sample-SE", S, s.se);
    p.stat("sample-mean", S, s.mean);
    p.stat_interval("mean 95%-CI-2SE", S, s.ci_low, s.ci_high);
}

// Calls each(x) for every value of a listing record, from the given values
// or from the record's temporary file.
template <class Each>
bool each_listed(const tallyf_t *tf, const tally_listing_t *listing,
                 tally_error_t *err, Each each)
{
    if (listing != nullptr) {
        for (uint64_t i = 0; i < listing->count; ++i)
            each(listing->values[i]);
        return true;
    }
    FILE *f = tf->tmp_file;
    if (f == nullptr)
        return true; // no values: checked before the report began
    std::rewind(f);
    double chunk[512];
    uint64_t seen = 0;
    size_t got;
    while ((got = std::fread(chunk, sizeof(double), 512, f)) != 0) {
        for (size_t i = 0; i < got; ++i)
            each(chunk[i]);
        seen += got;
    }
    if (std::ferror(f) || seen != tf->num_count)
        return tally_fail_io(err, "cannot read temporary file", errno);
    return true;
}

// The SD the z-scores divide by, times 2^scale.  Squared deviations below
// about 2^-969 lose digits as the values come; where the sum of squares is
// that small, the listed values give it again, scaled by the power of 2
// that brings the largest near 1 (divisor n, or n - 1 for a sample), and
// the z-scores are taken at that scale.
bool listing_sd(const tallyf_t *tf, const tally_listing_t *listing,
                double ss, double divisor, double *sd, int *scale,
                tally_error_t *err)
{
    *scale = 0;
    if (!(ss < 0x1p-900) || tf->num_count < 2)
        return true;
    double largest = 0;
    if (!each_listed(tf, listing, err, [&](double x) {
            largest = std::fmax(largest, std::fabs(x));
        }))
        return false;
    if (!(largest > 0) || !std::isfinite(largest))
        return true;
    const int up = -std::ilogb(largest);
    tallyf_sums1_t sums;
    tallyf_sums1_init(&sums);
    if (!each_listed(tf, listing, err, [&](double x) {
            tallyf_sums1_add(&sums, std::ldexp(x, up));
        }))
        return false;
    const tallyf_centred_t c = tallyf_sums1_centred(&sums);
    *sd = std::sqrt(c.ss / divisor);
    *scale = up;
    return true;
}

// The listing of every value with its z-score and probability; sd is the
// SD times 2^scale.
bool print_listing(const tallyf_t *tf, const tally_printer_t &p, double mean,
                   double sd, int scale, const tally_listing_t *listing,
                   tally_error_t *err)
{
    const double m = std::ldexp(mean, scale);
    p.labelled("z-scores:");
    char head[64];
    std::snprintf(head, sizeof head, "%16s %16s %16s", "Val", "z-score",
                  "CDF = P(x < Val)");
    if (p.records == nullptr)
        p.line(head);
    return each_listed(tf, listing, err, [&](double x) {
        const double xs = std::ldexp(x, scale); // exact: scale is 0 or up
        p.row3(x, z_score(xs, m, sd), normal_cdf(xs, m, sd));
    });
}

// The z-scores' listing of a block: mean, and the SD sd of ss / divisor
// (taken again at a scale where ss is tiny).
bool z_listing(const tallyf_t *tf, const tally_block_args_t &a, double mean,
               double sd, double ss, double divisor)
{
    int scale;
    return listing_sd(tf, a.listing, ss, divisor, &sd, &scale, a.err) &&
           print_listing(tf, a.p, mean, sd, scale, a.listing, a.err);
}

// What the quantile lines read: the lowest and highest value and the
// neighbours of each division point, selected rather than sorted (a long
// list of points sorts instead).
tallyf_points_t division_points(tallyf_t *tf)
{
    constexpr uint32_t kMax = 31;
    double fractions[kMax];
    const uint32_t inner = tf->partitions >= 2 ? tf->partitions - 1 : 0;
    if (inner > kMax) {
        tallyf_sort(tf);
        return tallyf_sorted_points(tf->nums, tf->num_count);
    }
    const double step = 1.0 / tf->partitions;
    for (uint32_t i = 1; i <= inner; ++i)
        fractions[i - 1] = i * step;
    tallyf_points_t points;
    tallyf_select_points(tf->nums, tf->num_count, fractions, inner, &points);
    return points;
}

void print_quantile_lines(const tallyf_t *tf, const tallyf_points_t &pts,
                          const tally_printer_t &p)
{
    p.stat_value("low", W, tallyf_points_lowest(&pts));
    if (tf->partitions >= 2) {
        const double step = 1.0 / tf->partitions;
        char name[32];
        for (uint32_t i = 1; i < tf->partitions; ++i) {
            std::snprintf(name, sizeof name, "quantile(%0.2f)", i * step);
            p.stat_value(name, W, tallyf_point_at(&pts, i * step));
        }
    }
    p.stat_value("high", W, tallyf_points_highest(&pts));
}




constexpr size_t PLOT_WIDTH = 60;



bool is_listing(const tallyf_t *tf)
{
    const tally_function_t *f = tally_function_by_stored(tf->code);
    return f != nullptr && f->feed == tally_feed_t::squares_listed;
}

} // namespace

tally_printer_t tally_record_printer(const tallyf_t *tf)
{
    if (tally_feeds_pairs(tally_feed_of(tf->code)))
        return tally_pair_printer(tf);
    return {"", 0, tallyf_over_row(tf) ? "Row" : "Col",
            tallyf_over_row(tf) ? tf->row : tf->col};
}

bool tally_check_record(const tallyf_t *tf, bool check_file,
                        tally_error_t *err, const char *col_name)
{
    double bad;
    if (tf->code == TALLYF_CHI_SQ_FIT && !tallyf_counts_valid(tf, &bad)) {
        char m[200];
        std::snprintf(m, sizeof m, "Invalid count for chi-sq-fit: %g: %s ", bad,
                      tallyf_over_row(tf) ? "row" : "col");
        return tally_fail(err, EX_DATAERR,
                          m + (col_name != nullptr ? std::string(col_name)
                               : std::to_string(tallyf_over_row(tf) ? tf->row : tf->col)) +
                              "\n");
    }
    if (!check_file || !is_listing(tf))
        return true;
    // The file holds every value fed, so that a listing is never short.
    if (tf->tmp_file == nullptr)
        return tf->num_count == 0 ||
               tally_fail_io(err, "temporary file", ENOENT);
    return tally_check_written(tf->tmp_file, tf->num_count * sizeof(double),
                               err);
}

bool tally_check_written(FILE *f, uint64_t bytes, tally_error_t *err)
{
    errno = 0;
    if (std::fflush(f) != 0 || std::ferror(f))
        return tally_fail_io(err, "cannot write temporary file", errno);
    uint64_t size;
    if (tallyf_tmpfile_size(f, &size) != 0)
        return tally_fail_io(err, "temporary file", errno);
    if (size != bytes)
        return tally_fail_io(err, "cannot write temporary file", ENOSPC);
    return true;
}

bool tally_report_record(tallyf_t *tf, const tally_printer_t &p,
                         const tally_listing_t *listing, tally_error_t *err)
{
    const tally_function_t *f = tally_function_by_stored(tf->code);
    if (f == nullptr || f->block == nullptr)
        return true;
    return f->block(tf, {p, listing, err});
}

bool tally_block_quantiles(tallyf_t *tf, const tally_block_args_t &a)
{
    print_quantile_lines(tf, division_points(tf), a.p);
    return true;
}

bool tally_block_iq_range(tallyf_t *tf, const tally_block_args_t &a)
{
    // iq-range records hold 4 partitions: the quartiles' points.
    const tallyf_points_t pts = division_points(tf);
    a.p.stat_number("iq-range", W,
                    tallyf_number_combine(tallyf_point_at(&pts, 3 * 0.25), 2,
                                          tallyf_point_at(&pts, 1 * 0.25), -2));
    return true;
}

bool tally_block_box_plot(tallyf_t *tf, const tally_block_args_t &a)
{
    const tally_printer_t &p = a.p;
    tallyf_sort(tf); // the drawing and the whiskers need every value in order
    print_quantile_lines(tf, tallyf_sorted_points(tf->nums, tf->num_count), p);
    const tallyf_box_t box = tallyf_box(tf);
    char plot[PLOT_WIDTH + 1];
    const bool drawn = tallyf_box_draw(tf, &box, plot, PLOT_WIDTH);
    p.stat_number("iq-range", W, box.iqr);
    p.stat_number("lower-fence", W, box.lower_fence);
    p.stat_number("upper-fence", W, box.upper_fence);
    p.stat_value("lower-whisker", W, box.lower_whisker);
    p.stat_value("upper-whisker", W, box.upper_whisker);
    p.stat_count("outliers", W, box.outliers);
    if (drawn)
        p.stat_text("plot", W, plot);
    else
        p.stat_text("plot", W, (std::string("(none: ") + plot + ")").c_str());
    return true;
}

bool tally_block_mode(tallyf_t *tf, const tally_block_args_t &a)
{
    tallyf_sort(tf);
    const tallyf_mode_t mode = tallyf_mode(tf);
    a.p.stat_value("mode", W, mode.value);
    a.p.stat_count("mode-count", W, mode.count);
    return true;
}

bool tally_block_range(tallyf_t *tf, const tally_block_args_t &a)
{
    const tallyf_number_t range = tallyf_range(tf);
    a.p.stat_value("low", W, tf->low);
    a.p.stat_value("high", W, tf->high);
    a.p.stat_number("range", W, range);
    return true;
}

bool tally_block_mean(tallyf_t *tf, const tally_block_args_t &a)
{
    a.p.stat("mean", W, tallyf_mean(tf));
    return true;
}

bool tally_block_population(tallyf_t *tf, const tally_block_args_t &a)
{
    print_population(population_of(tf), a.p);
    return true;
}

bool tally_block_population_listing(tallyf_t *tf, const tally_block_args_t &a)
{
    const population_t v = population_of(tf);
    print_population(v, a.p);
    return z_listing(tf, a, v.mean, v.sd, v.ss,
                     static_cast<double>(tf->num_count));
}

bool tally_block_sample(tallyf_t *tf, const tally_block_args_t &a)
{
    print_sample(sample_of(tf), a.p);
    return true;
}

bool tally_block_sample_listing(tallyf_t *tf, const tally_block_args_t &a)
{
    const sample_t s = sample_of(tf);
    print_sample(s, a.p);
    if (tf->num_count <= 29) {
        a.p.line("Warning: Sample size is < 30.");
        a.p.line("You may want to use a t-distribution instad.");
    }
    return z_listing(tf, a, s.mean, s.sd, s.ss,
                     static_cast<double>(tf->num_count - 1));
}

bool tally_block_t_score(tallyf_t *tf, const tally_block_args_t &a)
{
    const sample_t s = sample_of(tf);
    print_sample(s, a.p);
    a.p.stat("t-score", S,
             t_score(static_cast<uint32_t>(tf->num_count), s.mean,
                     tf->expected_mean, s.sd));
    return true;
}

bool tally_block_chi_sq_fit(tallyf_t *tf, const tally_block_args_t &a)
{
    const tallyf_chi_sq_t c = tallyf_chi_sq_fit(tf);
    a.p.stat("chi-sq", W, c.statistic);
    if (std::isnan(c.df))
        a.p.stat("df", W, c.df);
    else
        a.p.stat_count("df", W, tf->num_count - 1);
    a.p.stat("P(>chi-sq)", W, c.p);
    return true;
}
