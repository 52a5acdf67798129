// The chi-square test of equal expected counts.
#ifndef NUMTALLY_LIB_CHI_SQUARE_H
#define NUMTALLY_LIB_CHI_SQUARE_H

#include <cstdint>


// True when n counts whose lowest is low and highest is high are all finite
// and not negative; otherwise *bad is the lowest or highest value that is
// not.
bool tally_counts_valid(uint64_t n, double low, double high, double *bad);

// Chi-square test of equal expected counts over k counts: statistic
// k * sum of squares / total, k - 1 degrees of freedom and the upper-tail
// probability.  All NaN for fewer than two counts or a zero total.
struct tallyf_chi_sq_t {
    double statistic;
    double df;
    double p;
};
// The counts come as their total, their mean and their sum of squared
// deviations ss times 2^exp (so that counts whose squares pass the largest
// double still give the quotient).
tallyf_chi_sq_t tally_chi_sq(uint64_t k, double total, double mean, double ss,
                             int exp);

// The record's entry points (tallyf_counts_valid, tallyf_chi_sq_fit) are
// the installed record's, declared in tallyf.h.

// Probability that a chi-square value with df degrees of freedom exceeds x
// (the regularised upper incomplete gamma function); NaN where undefined.
double chi_sq_upper(double df, double x);

#endif
