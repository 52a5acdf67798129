// Exact sums of a few finite doubles with small half-integer weights, in one
// fixed-point number wide enough for any of them, so that a difference such
// as a range or a fence is compared and printed without a rounding step in
// between.
#ifndef NUMTALLY_LIB_EXACT_FIXED_H
#define NUMTALLY_LIB_EXACT_FIXED_H

#include <cstddef>
#include <cstdint>

// Two's complement integer in units of 2^-1076, 2240 bits: room for the sum
// of a handful of finite doubles each weighted by up to 16 halves.
struct exact_fixed_t {
    uint32_t w[70]; // least significant word first
};

// Sets v to 0.
void exact_fixed_clear(exact_fixed_t *v);

// Adds halves / 2 times x to v.  x must be finite; |halves| at most 32.
void exact_fixed_add(exact_fixed_t *v, double x, int halves);

// Adds x times 2^scale to v.  x must be finite, |x| * 2^scale below 2^1100
// and a multiple of 2^-1076.
void exact_fixed_add_scaled(exact_fixed_t *v, double x, int scale);

// Divides v by n (not 0), rounding toward minus infinity; returns the
// remainder, from 0 to n - 1: the old v is the new v * n + remainder.
uint64_t exact_fixed_div(exact_fixed_t *v, uint64_t n);

// v, plus a fraction of a unit strictly between 0 and 1 when inexact is
// true, correctly rounded to a double (ties to even; beyond the range of
// doubles, an infinity).  A zero v is +0.
double exact_fixed_round(const exact_fixed_t *v, bool inexact);

// -1, 0 or 1 as v is below, equal to or above the finite double x.
int exact_fixed_cmp(const exact_fixed_t *v, double x);

// Writes v as printf's "%f" writes a double of exactly that value: six
// decimals, ties to even, a minus sign whenever v is below zero.  size of 400
// is always enough.
void exact_fixed_format(const exact_fixed_t *v, char *buf, size_t size);

#endif
