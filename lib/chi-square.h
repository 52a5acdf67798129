// The chi-square test of equal expected counts.
#ifndef NUMTALLY_LIB_CHI_SQUARE_H
#define NUMTALLY_LIB_CHI_SQUARE_H

#include <cstdint>

#include "tallyf.h"

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

#endif
