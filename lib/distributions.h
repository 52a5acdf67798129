// Normal and Student t formulas on plain doubles: they test no argument and
// report no error.
#ifndef NUMTALLY_LIB_DISTRIBUTIONS_H
#define NUMTALLY_LIB_DISTRIBUTIONS_H

#include <cstdint>

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

// The Student t distribution with df degrees of freedom, df any positive
// number (not only a whole one), in long double: the probability of a value
// below t, and the value below which lies probability p (0 < p < 1).  NaN
// where df or p is out of range or t is NaN.
long double student_t_cdf(double df, double t);
long double student_t_quantile(double df, double p);

#endif
