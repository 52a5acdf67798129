// The function record: one requested statistics function, what it collects
// during the pass over the input, and the formulas that turn that into a
// report.  Plain record, free functions.
#ifndef NUMTALLY_LIB_TALLYF_H
#define NUMTALLY_LIB_TALLYF_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "exact-fixed.h"

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
                            // values, sorted at report time
    uint64_t num_count;     // values fed
    uint64_t array_size;    // capacity of nums, in values
    uint32_t partitions;    // quantiles: number of equal divisions
    double sum_x;           // codes 5 to 12 and 16: sum of the values
    double sum_x_2;         // codes 5 to 12 and 16: sum of their squares
    double *row_sums;       // not used by the program
    double *col_sums;       // not used by the program
    double expected_mean;   // sample-t-score: the mean to test against
    double sum_y;           // not used by the program
    double sum_y_2;         // not used by the program
    double sum_x_y;         // not used by the program
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
    double high;            // order and the last (NaN before any value)
};

// True for the codes whose records keep every value in nums: quantile, mode,
// iq-range and box-plot.
bool tallyf_keeps_values(tallyf_code_t code);

// Opens an anonymous temporary file for reading and writing in $TMPDIR, or
// in /tmp when TMPDIR is unset or empty.  Null, with errno set, on failure.
FILE *tallyf_tmpfile(void);

// A read/write stream for a temporary file whose backing file (an anonymous
// file as tallyf_tmpfile makes) is made only when the stream is first
// written to, or by tallyf_tmpfile_back: until then it reads as an empty
// file and costs no descriptor.  A backing file that cannot be made fails
// the write, and the stream's error indicator is set.  Null only when the
// stream itself cannot be had.
FILE *tallyf_tmpfile_lazy(void);

// Makes sure the stream f has its backing file now.  Returns 0, or -1 with
// errno set when the file cannot be made.  Any other stream: 0.
int tallyf_tmpfile_back(FILE *f);

// Stores in *size how many bytes the file behind f holds (0 for a stream
// of tallyf_tmpfile_lazy without its backing file yet); flush f first.
// Returns 0, or -1 with errno set.
int tallyf_tmpfile_size(FILE *f, uint64_t *size);

// Clears the record's counts, sums (the exact ones too) and pointers and
// gives it a temporary file stream of its own (tallyf_tmpfile_lazy: no file
// is made before it is written; tmp_file is null only when no stream can be
// had).  Leaves code, expected_mean and the y sums alone.
void tallyf_init(tallyf_t *tf);

// Feeds one value: adds it to the sums the record's code keeps, appends it to
// the value array (quantiles, growing it when full) or the temporary file
// (z-scores).  A quantile record must have an array before its first value.
void tallyf_process_val(tallyf_t *tf, double x);

// Sorts the record's values in place and prints its lowest value, one line per
// inner division point and its highest value, each headed by label and num.
// With no values every line shows nan.
void tallyf_quantiles(tallyf_t *tf, const char *label, uint32_t num);

// The value at division point i of partitions equal divisions (the (n + 1)p
// rule, positions outside the values reading the nearest end) of a record
// whose values are sorted; exactly what tallyf_quantiles prints for it.
double tallyf_division_point(const tallyf_t *tf, uint32_t i,
                             uint32_t partitions);

// Sorts the record's values in place, in the order of xt_double_cmp.
void tallyf_sort(tallyf_t *tf);

// A result printed as "%f" prints it: the exact value when every input is
// finite, otherwise the double that IEEE arithmetic gives (inf, NaN).
struct tallyf_number_t {
    bool exact;
    exact_fixed_t fixed; // when exact
    double value;        // when not
};

// Writes the number as "%f" would write its value (at most 400 bytes).
void tallyf_format_number(const tallyf_number_t *x, char *buf, size_t size);

// high - low of a range record.
tallyf_number_t tallyf_range(const tallyf_t *tf);

// The smallest of the most frequent values of a record with sorted values
// (bit-identical values are equal) and how often it occurs; NaN and 0 when
// there are no values.
struct tallyf_mode_t {
    double value;
    uint64_t count;
};
tallyf_mode_t tallyf_mode(const tallyf_t *tf);

// Third quartile minus first, as tallyf_quantiles computes them, of a record
// with sorted values.
tallyf_number_t tallyf_iq_range(const tallyf_t *tf);

// The numbers of a box plot, from a record with sorted values: quartiles as
// tallyf_quantiles computes them, fences Q1 - 1.5 IQR and Q3 + 1.5 IQR, the
// whisker ends (the lowest and highest values inside the fences, NaN when no
// finite fences) and the count of values outside the fences.
struct tallyf_box_t {
    double q1, median, q3;
    tallyf_number_t iqr, lower_fence, upper_fence;
    double lower_whisker, upper_whisker;
    uint64_t outliers;
};
tallyf_box_t tallyf_box(const tallyf_t *tf);

// Draws the box plot of a record with sorted values into line (width
// characters and a NUL; blanks at the end dropped): the values scaled from
// the lowest at column 0 to the highest at column width - 1, whiskers '-'
// ending in '+', the box '=' between '[' and ']', the median '|', and each
// outlier 'o' (a digit for 2 to 9 in one column, '*' for more).  False, with
// line empty, when there are no values or not every value is finite.
bool tallyf_box_draw(const tallyf_t *tf, const tallyf_box_t *box, char *line,
                     size_t width);

// True when every count fed to a chi-sq-fit record was finite and not
// negative; otherwise *bad is the lowest or highest value that is not.
bool tallyf_counts_valid(const tallyf_t *tf, double *bad);

// Chi-square test of equal expected counts over the record's k values:
// statistic k * sum of squares / total, k - 1 degrees of freedom and the
// upper-tail probability.  All NaN for fewer than two values or a zero
// total.
struct tallyf_chi_sq_t {
    double statistic;
    double df;
    double p;
};
tallyf_chi_sq_t tallyf_chi_sq_fit(const tallyf_t *tf);

// Probability that a chi-square value with df degrees of freedom exceeds x
// (the regularised upper incomplete gamma function); NaN where undefined.
double chi_sq_upper(double df, double x);

// The mean of the values fed: the exact mean, correctly rounded.  NaN with
// no values; sum / num_count when the exact sums do not cover every value
// (a record set up by hand) or are not finite (an infinite or NaN value).
double tallyf_mean(const tallyf_t *tf);

// Sum of squared deviations from the mean, for the codes that keep squares
// (pop-var to sample-t-score): the exact value, correctly rounded, never
// negative; NaN with no values.  From the plain sums by the one-pass formula
// (a result below zero is 0) when the exact ones do not cover every value,
// are not finite, or the code keeps no squares.
double tallyf_sum_squares(const tallyf_t *tf);

// (x - mean) / sd.
double z_score(double x, double mean, double sd);

// The value on the scale (mean2, sd2) with the z-score x has on (mean1, sd1).
double z_equivalent(double x, double mean1, double sd1, double mean2,
                    double sd2);

// Probability that a normal value with this mean and sd lies below x.
double normal_cdf(double x, double mean, double sd);

// One-sample t statistic: (x_bar - mean) / (sd / sqrt(n)).
double t_score(uint32_t n, double x_bar, double mean, double sd);

// Student t density at x for a sample of n values (n - 1 degrees of
// freedom), to a few units in the last place, for every n from 2; 0 for an
// infinite x, NaN for a NaN x, and NaN for n of 0 and 1.
double t_pdf(uint32_t n, double x);

// Probability that a Student t value for a sample of n (n - 1 degrees of
// freedom) lies below t: within 1e-11 of the exact value, and for t < 0
// within 1e-10 of it relatively down to 1e-300.  Exactly 0.5 for t = 0;
// for t > 0 it is 1 - t_cdf(n, -t).  n of 0 and 1 give exactly 0 for t < 0
// and 1 otherwise; NaN t gives 1, infinite t 0 or 1.
double t_cdf(uint32_t n, double t);

#endif
