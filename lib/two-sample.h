// Two-sample comparisons of means: Welch's t-test of two independent
// samples and the paired t-test of the pairs of one line.  Numbers are
// rounded once from about twice double precision (the exact values
// correctly rounded unless within about 2^-100 of a rounding boundary),
// probabilities within 1e-11, the confidence interval from the Student t
// quantile in long double.  NaN where a sample is too small (fewer than
// two values) or has no spread; infinite where the exact value lies beyond
// the largest double (a difference of means near it, an interval's bound).
#ifndef NUMTALLY_LIB_TWO_SAMPLE_H
#define NUMTALLY_LIB_TWO_SAMPLE_H

#include <cstdint>

#include "shifted-sums.h"

struct tallyf_t_test_t {
    uint64_t n1, n2;        // values of each sample (paired: pairs, twice)
    double mean1, mean2;    // means of each sample
    double sd1, sd2;        // sample standard deviations (n - 1)
    double diff;            // mean1 - mean2 (paired: the mean difference)
    double sd_diff;         // paired: SD of the differences; Welch: NaN
    double t;               // diff / its standard error
    double df;              // Welch-Satterthwaite, or pairs - 1
    double p;               // two-sided probability of a |t| this large
    double ci_low, ci_high; // 95% confidence interval of the difference
};

// Welch's test of two independent samples.
tallyf_t_test_t tallyf_welch_t(const tallyf_sums1_t *a, const tallyf_sums1_t *b);

// The same of the two lanes of two-sample sums, each at its power of 2
// (e2, shifted-sums.h): as the engine settles a welch-t record's.
tallyf_t_test_t tallyf_welch_t_lanes(const tallyf_sums2_t *s);

// The paired test of x - y over the pairs.
tallyf_t_test_t tallyf_paired_t(const tallyf_sums2_t *s);

#endif
