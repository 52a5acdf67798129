// The function record: one requested statistics function, what it collects
// during the pass over the input, and the formulas that turn that into a
// report.  Plain record, free functions.
#ifndef NUMTALLY_LIB_TALLYF_H
#define NUMTALLY_LIB_TALLYF_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "shifted-sums.h"

// The statistics functions, in the order of their codes.
enum tallyf_code_t : uint32_t {
    TALLYF_QUANTILE = 0,
    TALLYF_MEDIAN,          // stored by the list as a quantile, 2 partitions
    TALLYF_QUARTILE,        // stored by the list as a quantile, 4 partitions
    TALLYF_MEAN,
    TALLYF_MODE,
    TALLYF_POP_VAR,
    TALLYF_POP_SD,
    TALLYF_POP_Z_SCORES,
    TALLYF_SAMPLE_VAR,
    TALLYF_SAMPLE_SD,
    TALLYF_SAMPLE_Z_SCORES,
    TALLYF_SAMPLE_SE,
    TALLYF_SAMPLE_T_SCORE,
    TALLYF_RANGE,
    TALLYF_IQ_RANGE,
    TALLYF_BOX_PLOT,
    TALLYF_CHI_SQ_FIT,
    TALLYF_CHI_SQ_IND,
    TALLYF_COUNT,
    TALLYF_SUM,
    TALLYF_MIN,
    TALLYF_MAX,
    TALLYF_PERCENTILE,
    TALLYF_GEO_MEAN,
    TALLYF_HARM_MEAN,
    TALLYF_SKEWNESS,
    TALLYF_KURTOSIS,
    TALLYF_MAD,
    TALLYF_SUMMARY,
    TALLYF_COVARIANCE,      // two columns of one line
    TALLYF_CORRELATION,
    TALLYF_REGRESSION,
    TALLYF_WELCH_T,         // two columns, each its own sample
    TALLYF_PAIRED_T,
    TALLYF_T_TEST,          // one sample against an expected mean
    TALLYF_FREQUENCY,       // the frequency family: every value kept
    TALLYF_TOP,
    TALLYF_DISTINCT,
    TALLYF_HISTOGRAM,
};

struct tallyf_t {
    // What was asked
    tallyf_code_t code;
    union {                 // the input row, from 1; 0 when selecting a column
        uint32_t row;
        uint32_t *rows;     // second view of the same storage (setters only)
    };
    union {                 // the input column, from 1; 0 when selecting a row
        uint32_t col;
        uint32_t *cols;
    };

    // What was collected
    double sum;             // every value fed
    double *nums;           // value-keeping codes (tallyf_keeps_values): the
                            // values, sorted at report time; give back with
                            // xt_free (xt.h)
    uint64_t num_count;     // values fed
    uint64_t array_size;    // capacity of nums, in values
    uint32_t partitions;    // quantiles: number of equal divisions; top:
                            // K; histogram: bins (0: Sturges' rule)
    double sum_x;           // codes 5 to 12 and 16: sum of the values
    double sum_x_2;         // codes 5 to 12 and 16: sum of their squares
    double *row_sums;       // not used by the program
    double *col_sums;       // not used by the program
    double expected_mean;   // sample-t-score, t-test: the mean to test against
    double sum_y;           // two-column functions: sums of the second
    double sum_y_2;         //   column's values, their squares and the
    double sum_x_y;         //   products of the pairs, rounded from pairs
                            //   when the pass ends (as are their sum,
                            //   sum_x, sum_x_2 and num_count)
    FILE *tmp_file;         // z-scores: every value, as 8 raw bytes, in order

    // Exact sums, beside the plain ones above: every value x enters as its
    // deviation d = x - shift from the record's first value, summed without
    // losing a rounding error (each sum is the unevaluated pair hi + lo).
    // They count only while shift_count equals num_count; a record whose
    // sums were set by hand (shift_count 0) computes from the plain sums.
    double shift;           // the first value fed
    uint64_t shift_count;   // values that entered the sums below
    double sum_d;           // every value: sum of d, high part
    double sum_d_lo;        //   and its rounding errors
    double sum_d_2;         // codes 5 to 12: sum of d * d, high part
    double sum_d_2_lo;      //   and its rounding errors
    double low;             // range, chi-sq-fit: the first value in sorted
    double high;            // order and the last (NaN before any value and
                            // once a NaN was fed)
    double scaled_lo;       // NaN while the exact sums hold their values as
                            // they are.  Once a sum would have overflowed
                            // they are scaled, sum_d and sum_d_lo by 2^-66,
                            // sum_d_2 and sum_d_2_lo by 2^-1120; the low
                            // part of the last sum the code keeps (sum_d_2_lo,
                            // sum_d_lo without squares) then lives here, and
                            // a NaN in its own field sends every value past
                            // the fast path.

    // Functions of two columns: the second column (0 for the others), the
    // sums of both columns (x the first, y the second; as pairs of one line,
    // or as two samples for welch-t), and percentile's list as written.
    // A record that keeps squares holds pairs at 0 once the pass ends, but
    // where its sum of squared deviations is too small for its digits to
    // survive in doubles (below 2^-600): then lane 0 holds the sums d,
    // d_lo times 2^-e and d2, d2_lo times 2^-2e, with e in e2[0].
    uint32_t col2;
    tallyf_sums2_t pairs;
    const char *percentiles;

    // Asked for with --row: the record reads a row, even one numbered 0
    // (which selects nothing); its lines and messages say "Row".
    bool by_row;

    // welch-t --split: col2 is not a second sample but a key column; the
    // values of col whose key is the first value the key column holds are
    // the first sample, those of the second value the second.
    bool split;

    // Value-keeping codes past the memory limit (lib/value-spill.h): how
    // many of the num_count values went out to sorted runs in a temporary
    // file (nums holds those after them), and those runs; 0 and null for a
    // record that keeps every value in nums.
    uint64_t spilled;
    struct tally_value_runs_t *runs;
};

// True for a record over a row: one with a row number, or asked for with
// --row.
inline bool tallyf_over_row(const tallyf_t *tf)
{
    return tf->row != 0 || tf->by_row;
}

// True for the codes whose records keep every value in nums: quantile, mode,
// iq-range and box-plot.
bool tallyf_keeps_values(tallyf_code_t code);

// Clears the record's counts, sums (the exact ones too) and pointers and
// gives it a temporary file stream of its own (tallyf_tmpfile_lazy: no file
// is made before it is written; tmp_file is null only when no stream can be
// had).  Leaves code, expected_mean and the y sums alone.
void tallyf_init(tallyf_t *tf);

// Feeds one value: adds it to the sums the record's code keeps, appends it to
// the value array (value-keeping codes; the array is made or grown when
// full) or the temporary file (z-scores).
void tallyf_process_val(tallyf_t *tf, double x);

// The mean of the values fed: the exact mean, correctly rounded (ties to
// even), never overflowing.  NaN with no values; sum / num_count when the
// exact sums do not cover every value (a record set up by hand) or are not
// finite (an infinite or NaN value).
double tallyf_mean(const tallyf_t *tf);

// The sum of the values fed: the exact sum, correctly rounded (an infinity
// beyond the range of doubles), for records whose exact sums are not
// shifted (every code but the variance family); otherwise, and when the
// exact sums do not cover every value or are not finite, the plain sum.
double tallyf_sum(const tallyf_t *tf);

// The interval mean - half_width to mean + half_width: each bound the exact
// mean plus or minus half_width, rounded once.  Where tallyf_mean is not the
// exact mean, or half_width is not finite, tallyf_mean(tf) - half_width and
// half_width + tallyf_mean(tf).
void tallyf_mean_interval(const tallyf_t *tf, double half_width, double *low,
                          double *high);

// Sum of squared deviations from the mean, for the codes that keep squares
// (pop-var to sample-t-score): the exact value rounded to a double (from
// sums about twice as precise), never negative, inf where it is beyond the
// range of doubles; NaN with no values.  From the plain sums by the one-pass formula
// (a result below zero is 0) when the exact ones do not cover every value,
// are not finite, or the code keeps no squares.
double tallyf_sum_squares(const tallyf_t *tf);

// The same as s times 2^*exp, *exp even, s inside the range of doubles even
// where the sum is beyond it: the variance and SD of a record whose sum of
// squares overflows come from s (s / n times 2^*exp, sqrt(s / n) times
// 2^(*exp / 2)).
double tallyf_sum_squares_scaled(const tallyf_t *tf, int *exp);

// The record's statistics, each concept in a header of its own.
#include "box-plot.h"
#include "chi-square.h"
#include "distributions.h"
#include "order-stats.h"
#include "tmp-file.h"

// The record's entry points over those statistics.

// Sorts the record's values in place and prints its lowest value, one line
// per inner division point and its highest value, each headed by label and
// num.  With no values, or a NaN among them, every line shows nan.
void tallyf_quantiles(tallyf_t *tf, const char *label, uint32_t num);

// The value at division point i of partitions equal divisions of a record
// whose values are sorted (tally_division_point).
double tallyf_division_point(const tallyf_t *tf, uint32_t i,
                             uint32_t partitions);

// Sorts the record's values in place, in the order of xt_double_cmp.
void tallyf_sort(tallyf_t *tf);

// high - low of a range record (NaN once it was fed a NaN).
tallyf_number_t tallyf_range(const tallyf_t *tf);

// The mode of a record with sorted values (tally_mode).
tallyf_mode_t tallyf_mode(const tallyf_t *tf);

// Third quartile minus first, as tallyf_quantiles computes them, of a
// record with sorted values.
tallyf_number_t tallyf_iq_range(const tallyf_t *tf);

// The box plot of a record with sorted values (tally_box, tally_box_draw).
tallyf_box_t tallyf_box(const tallyf_t *tf);
bool tallyf_box_draw(const tallyf_t *tf, const tallyf_box_t *box, char *line,
                     size_t width);

// True when every count fed to a chi-sq-fit record was finite and not
// negative; otherwise *bad is the lowest or highest value that is not.
bool tallyf_counts_valid(const tallyf_t *tf, double *bad);

// Chi-square test of equal expected counts over the record's k values
// (tally_chi_sq).
tallyf_chi_sq_t tallyf_chi_sq_fit(const tallyf_t *tf);

#endif
