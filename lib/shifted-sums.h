// Sums of one or two variables about their first values, kept without
// losing a rounding error, from which means, sums of squared deviations and
// of cross products come out to about twice double precision.  The
// constant-memory state of the two-column and two-sample functions.
#ifndef NUMTALLY_LIB_SHIFTED_SUMS_H
#define NUMTALLY_LIB_SHIFTED_SUMS_H

#include <cstdint>

// One variable: every value x enters as d = x - shift (exactly, as a pair),
// shift being the first value; sums of d and d^2, each hi + lo.
struct tallyf_sums1_t {
    uint64_t n;
    double shift;
    double d, d_lo;     // sum of deviations
    double d2, d2_lo;   // sum of squared deviations
};

// Two variables, x (lane 0) and y (lane 1), each summed as tallyf_sums1_t
// sums one; the lanes of a field stand side by side (aligned, so that no
// field straddles a cache line), so that a pair of one line is added with
// vector operations.  Pairs of one line also give the sum of the products
// of their deviations.
//
// The engine (lib/exact-sums.h) keeps the same fields exactly while a pass
// runs, with shift 0: d the values, d2 their squares rounded and e2 the
// squares' rounding errors, dxy the products rounded and exy their errors,
// each an unevaluated pair; when the pass ends it settles them into the
// form above (e2_lo 0).  e2[l] then holds the power of 2 the lane is kept
// at, e: 0 as a rule, but a lane whose sum of squared deviations lies far
// outside the normal range keeps d and d_lo times 2^-e, d2 and d2_lo times
// 2^-2e (the shift as it is), so that their digits survive; exy likewise
// holds the power of 2 dxy and dxy_lo are kept at (0 as a rule).  The
// functions below take these powers into account.
struct alignas(16) tallyf_sums2_t {
    uint64_t n[2];
    double shift[2];
    double d[2], d_lo[2];
    double d2[2], d2_lo[2];
    double dxy, exy;        // side by side, as are their low parts
    double dxy_lo, exy_lo;
    double e2[2], e2_lo[2];
};

void tallyf_sums1_init(tallyf_sums1_t *s);
void tallyf_sums2_init(tallyf_sums2_t *s);

// Adds one value / one pair.
void tallyf_sums1_add(tallyf_sums1_t *s, double x);
void tallyf_sums2_add(tallyf_sums2_t *s, double x, double y);

// One lane (0: x, 1: y) of two-variable sums as sums of one variable.
tallyf_sums1_t tallyf_sums2_lane(const tallyf_sums2_t *s, int lane);

// What the sums give, each as hi + lo (normalised), to a few units of 2^-100
// of the largest term; NaN without values, and not finite where a value
// was not or a square overflowed.
struct tallyf_centred_t {
    uint64_t n;
    double mean, mean_lo;   // the mean
    double ss, ss_lo;       // sum of squared deviations from the mean, >= 0
};
tallyf_centred_t tallyf_sums1_centred(const tallyf_sums1_t *s);

// The same of one lane (0: x, 1: y) of two-variable sums.  Beyond the
// range of doubles ss is not finite, below it it loses digits: the scaled
// form keeps them, ss times 2^-2 e2[lane] (the mean as it is).
tallyf_centred_t tallyf_sums2_centred(const tallyf_sums2_t *s, int lane);
tallyf_centred_t tallyf_sums2_centred_scaled(const tallyf_sums2_t *s, int lane);

// Sum of the products of both variables' deviations from their means; the
// scaled form gives it times 2^-e and returns e (exy).
void tallyf_sums2_cross(const tallyf_sums2_t *s, double *cxy, double *cxy_lo);
int tallyf_sums2_cross_scaled(const tallyf_sums2_t *s, double *cxy,
                              double *cxy_lo);

// The plain totals the sums stand for, each rounded from about twice
// double precision: of one lane's values and of their squares, and of the
// products of the pairs.  0 without values.
double tallyf_sums2_total(const tallyf_sums2_t *s, int lane);
double tallyf_sums2_total_squares(const tallyf_sums2_t *s, int lane);
double tallyf_sums2_total_products(const tallyf_sums2_t *s);

#endif
