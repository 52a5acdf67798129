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

// Clears the record's counts, sums and pointers and gives it a temporary
// file stream of its own (tallyf_tmpfile_lazy: no file is made before it is
// written; tmp_file is null only when no stream can be had).  Leaves code,
// expected_mean and the y sums alone.
void tallyf_init(tallyf_t *tf);

// Feeds one value: adds it to the sums the record's code keeps, appends it to
// the value array (quantiles, growing it when full) or the temporary file
// (z-scores).  A quantile record must have an array before its first value.
void tallyf_process_val(tallyf_t *tf, double x);

// Sorts the record's values in place and prints its lowest value, one line per
// inner division point and its highest value, each headed by label and num.
// With no values every line shows nan.
void tallyf_quantiles(tallyf_t *tf, const char *label, uint32_t num);

// Sum of squared deviations by the one-pass formula; never negative (a
// rounding result below zero is 0), NaN when the record has no values.
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
// freedom).  Meaningful for n from 2 to 342; NaN for n of 0, 1 and above
// 343, and 0 at any finite x for n of 343 (the density constant overflows).
double t_pdf(uint32_t n, double x);

// Probability that a Student t value for a sample of n lies below t, by the
// midpoint rule in slices of 2^-10 from -|t| outwards, stopping at the first
// slice of area 1e-10 or less.  Exactly 1 or 0 when no slice counts (n below
// 2 or above 342, |t| beyond the stop point); NaN t gives 1.
double t_cdf(uint32_t n, double t);

#endif
