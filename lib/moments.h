// Skewness and kurtosis of kept values: the population moments g1 and
// excess g2, and the sample-adjusted G1 and G2 (as spreadsheets and R's
// e1071 type 2 compute them).  The values are kept because third and fourth
// powers of deviations cancel far more than squares do: a one-pass shifted
// sum in double-double is not exact for data far from its first value,
// while deviations from the mean of all the values are.  The mean and the
// central moment sums are formed in double-double and each result rounded
// once: the exact value correctly rounded unless it lies within about
// 2^-100 (relative to the moments' scale) of a rounding boundary.
#ifndef NUMTALLY_LIB_MOMENTS_H
#define NUMTALLY_LIB_MOMENTS_H

#include <cstdint>

// g1 = m3 / m2^1.5 and g2 = m4 / m2^2 - 3 with m_k = sum (x - mean)^k / n
// (NaN below 2 values or without spread); G1 = g1 sqrt(n (n - 1)) / (n - 2)
// (NaN below 3 values) and G2 = ((n + 1) g2 + 6) (n - 1) / ((n - 2)(n - 3))
// (NaN below 4).  All NaN when a value is not finite.
struct tallyf_moments_t {
    double g1, g2, G1, G2;
};
tallyf_moments_t tallyf_moments(const double *values, uint64_t n);

#endif
