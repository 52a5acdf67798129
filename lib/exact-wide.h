// A real number held exactly, wide enough for every sum the engine keeps:
// sums of up to 2^64 doubles, of their squares and of products of two
// doubles, and such a sum times a double or a count.  Nothing is rounded
// until exact_wide_round is asked for a double.
#ifndef NUMTALLY_LIB_EXACT_WIDE_H
#define NUMTALLY_LIB_EXACT_WIDE_H

#include <cstdint>

// Two's complement fixed point in units of 2^-2176, 68 words of 64 bits
// (least significant first): every product of two doubles is a whole number
// of units, and magnitudes up to 2^2175 fit.
struct exact_wide_t {
    static constexpr int kWords = 68;
    static constexpr int kUnitExp = 2176; // the unit is 2^-kUnitExp
    uint64_t w[kWords];
};

void exact_wide_clear(exact_wide_t *v);
bool exact_wide_is_zero(const exact_wide_t *v);

// v += sign * x * 2^scale, exactly.  x finite; sign +1 or -1.
void exact_wide_add(exact_wide_t *v, double x, int scale = 0, int sign = 1);

// v += sign * a * b, exactly (a and b finite).
void exact_wide_add_product(exact_wide_t *v, double a, double b, int sign = 1);

// v += sign * n * a * b, exactly (a and b finite; b = 1 for n * a).
void exact_wide_add_count_product(exact_wide_t *v, uint64_t n, double a,
                                  double b, int sign = 1);

// v += u.
void exact_wide_add_wide(exact_wide_t *v, const exact_wide_t *u);

// v += sign * u * x, exactly (x finite, every bit of the product at or
// above the unit).
void exact_wide_add_wide_times(exact_wide_t *v, const exact_wide_t *u,
                               double x, int sign = 1);

// v * 2^scale correctly rounded to a double (ties to even; beyond the range
// of doubles an infinity, below it a subnormal or a zero of v's sign).
double exact_wide_round(const exact_wide_t *v, int scale = 0);

// v * 2^scale as the unevaluated sum hi + lo: hi the value rounded, lo the
// rest rounded to odd (its last bit set where the rest has more), so that
// hi + lo rounds to a double as v does.  The same value always gives the
// same pair.
void exact_wide_split(const exact_wide_t *v, int scale, double *hi,
                      double *lo);

#endif
