// The function record: one requested statistics function, what it collects
// during the pass over the input, and the formulas that turn that into a
// report.  Plain record, free functions.
#ifndef NUMTALLY_LIB_TALLYF_H
#define NUMTALLY_LIB_TALLYF_H

#include <cstdint>
#include <cstdio>

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
    double *nums;           // quantiles: the values, sorted at report time
    uint64_t num_count;     // values fed
    uint64_t array_size;    // capacity of nums, in values
    uint32_t partitions;    // quantiles: number of equal divisions
    double sum_x;           // codes 5 to 12: sum of the values
    double sum_x_2;         // codes 5 to 12: sum of their squares
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
};

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
