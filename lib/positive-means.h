// The geometric and the harmonic mean of positive values, in constant
// memory.
#ifndef NUMTALLY_LIB_POSITIVE_MEANS_H
#define NUMTALLY_LIB_POSITIVE_MEANS_H

#include <cstdint>

struct tallyf_positive_sums_t {
    uint64_t n;              // values fed
    uint64_t not_positive;   // of them at or below 0
    bool nan, inf;           // a NaN, an infinity was fed
    int64_t exponents;       // geometric: sum of the binary exponents
    long double logs, logs_error; // and of ln(mantissa), compensated
    double recips, recips_lo;     // harmonic: sum of 1 / x, hi + lo,
    bool recips_scaled;           //   once scaled (a value below 2^-900
    int recips_exp;               //   or a sum beyond 2^900) times
                                  //   2^-recips_exp
};

void tallyf_positive_init(tallyf_positive_sums_t *s);

// Each feeds what its own mean needs (a logarithm, a reciprocal).
void tallyf_geo_add(tallyf_positive_sums_t *s, double x);
void tallyf_harm_add(tallyf_positive_sums_t *s, double x);

// exp(mean of ln x): within about 1e-18 of the exact value, relatively, so
// every printed digit is right unless the exact value lies that close to a
// rounding boundary.  n / sum of 1 / x: rounded once from about twice double
// precision.  Both NaN without values, with a NaN, or when not_positive is
// not 0 (the caller says why); an infinite value gives an infinite
// geometric mean and counts 0 towards the harmonic sum.
double tallyf_geo_mean(const tallyf_positive_sums_t *s);
double tallyf_harm_mean(const tallyf_positive_sums_t *s);

#endif
