// The blocks of the report, one per family of statistics.  Each computes
// its record's results from the record's state and prints them, labelled,
// through the one printer (a.p); the descriptor row of every function word
// (functions.cpp) points at its block, so that a statistic is reported in
// the one place that computes it.  A block that reads kept values may
// reorder them.  A block returns false, with a.err set, only where a
// listing cannot be read back (74); every other block returns true.
#ifndef NUMTALLY_LIB_BLOCKS_H
#define NUMTALLY_LIB_BLOCKS_H

#include <cstdint>

struct tallyf_t;
struct tally_error_t;
struct tally_printer_t;

// The values of a z-score listing when they are not in the record's own
// temporary file: count values in input order.
struct tally_listing_t {
    const double *values;
    uint64_t count;
};

// What a block prints to: the printer, the values
// of a listing when they are not in the record's own temporary file, and
// where an error goes.
struct tally_block_args_t {
    const tally_printer_t &p;
    const tally_listing_t *listing;
    tally_error_t *err;
};

// Kept values and their order (report.cpp): the division points, the mode,
// the box plot; and the bounds.
bool tally_block_quantiles(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_iq_range(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_box_plot(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_mode(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_range(tallyf_t *tf, const tally_block_args_t &a);

// The sums and squares (report.cpp): the mean, the population and sample
// blocks with their listings, the t-score and chi-sq-fit.
bool tally_block_mean(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_population(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_population_listing(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_sample(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_sample_listing(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_t_score(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_chi_sq_fit(tallyf_t *tf, const tally_block_args_t &a);

// Counting, bounds, shape, percentiles and the summary (report-more.cpp).
bool tally_block_count(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_sum(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_min(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_max(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_percentiles(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_geo_mean(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_harm_mean(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_skewness(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_kurtosis(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_mad(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_summary(tallyf_t *tf, const tally_block_args_t &a);

// Two columns and two samples (report-more.cpp).
bool tally_block_covariance(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_correlation(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_regression(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_welch_t(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_paired_t(tallyf_t *tf, const tally_block_args_t &a);

// The one-sample t-test and the frequency family (frequency.cpp).
bool tally_block_t_test(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_frequency(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_top(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_distinct(tallyf_t *tf, const tally_block_args_t &a);
bool tally_block_histogram(tallyf_t *tf, const tally_block_args_t &a);

#endif
