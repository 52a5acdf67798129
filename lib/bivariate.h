// Statistics of two variables read in pairs: covariance, Pearson's
// correlation with its test, least-squares regression.  Each takes the
// pairs' shifted sums and returns numbers rounded once from about twice
// double precision, so that they are the exact values correctly rounded
// unless an exact value lies within about 2^-100 (relative) of a rounding
// boundary, at any scale of either variable (sums beyond or below the range
// of doubles are kept scaled, lib/shifted-sums.h).  NaN where the formula
// has no value (too few pairs, a variable without spread); not finite where
// a value was not; infinite where the exact value lies beyond the doubles.
#ifndef NUMTALLY_LIB_BIVARIATE_H
#define NUMTALLY_LIB_BIVARIATE_H

#include <cstdint>

#include "shifted-sums.h"

// Sum of the products of deviations over n (population) and over n - 1.
struct tallyf_covariance_t {
    double pop, sample;
};
tallyf_covariance_t tallyf_covariance(const tallyf_sums2_t *s);

// Pearson's r, the number of pairs, and the two-sided probability of an r
// at least this far from 0 if the true correlation were 0 (Student t with
// n - 2 degrees of freedom; within 1e-11).  r is NaN with fewer than two
// pairs or a variable without spread; p is NaN with fewer than three pairs.
struct tallyf_correlation_t {
    double r;
    uint64_t n;
    double p;
};
tallyf_correlation_t tallyf_correlation(const tallyf_sums2_t *s);

// y = intercept + slope * x by least squares; r^2; the residual standard
// deviation sqrt(residual sum of squares / (n - 2)).
struct tallyf_regression_t {
    double slope, intercept, r_squared, residual_sd;
};
tallyf_regression_t tallyf_regression(const tallyf_sums2_t *s);

#endif
