// Double-double numbers: an unevaluated sum hi + lo of two doubles, about
// 106 significant bits, for results that are rounded to a double only once,
// at the end.  Internal to the library.  The operations are the classical
// ones (Dekker; Bailey's QD): each is accurate to a few units of 2^-104
// relative, never exact in general, and needs finite operands whose
// intermediate products stay inside the double range.
#ifndef NUMTALLY_LIB_DOUBLE_DOUBLE_H
#define NUMTALLY_LIB_DOUBLE_DOUBLE_H

#include <cmath>

#include "error-free.h"

struct dd_t {
    double hi;
    double lo;
};

inline dd_t dd(double x)
{
    return {x, 0.0};
}

// hi + lo normalised so that hi is the sum rounded.
inline dd_t dd_norm(double hi, double lo)
{
    const double s = hi + lo;
    return {s, error_free::sum_error(hi, lo, s)};
}

// The exact sum of two doubles.
inline dd_t dd_sum(double a, double b)
{
    const double s = a + b;
    return {s, error_free::sum_error(a, b, s)};
}

// The exact product of two doubles (barring overflow and underflow).  By a
// fused multiply-add, which, unlike Dekker's split, does not overflow for
// large operands; these operations run once per report, not per value.
inline dd_t dd_prod(double a, double b)
{
    const double p = a * b;
    return {p, std::fma(a, b, -p)};
}

inline dd_t dd_add(dd_t a, dd_t b)
{
    const double s = a.hi + b.hi;
    const double e = error_free::sum_error(a.hi, b.hi, s);
    return dd_norm(s, e + a.lo + b.lo);
}

inline dd_t dd_neg(dd_t a)
{
    return {-a.hi, -a.lo};
}

inline dd_t dd_sub(dd_t a, dd_t b)
{
    return dd_add(a, dd_neg(b));
}

inline dd_t dd_mul(dd_t a, dd_t b)
{
    const double p = a.hi * b.hi;
    const double e = std::fma(a.hi, b.hi, -p);
    return dd_norm(p, e + (a.hi * b.lo + a.lo * b.hi));
}

inline dd_t dd_div(dd_t a, dd_t b)
{
    const double q = a.hi / b.hi;
    // a - q * b, then one correction step.
    const dd_t r = dd_sub(a, dd_mul(dd(q), b));
    const double q2 = r.hi / b.hi;
    return dd_norm(q, q2);
}

inline dd_t dd_sqrt(dd_t a)
{
    if (!(a.hi > 0))
        return {std::sqrt(a.hi), 0.0}; // 0, or NaN below 0
    const double s = std::sqrt(a.hi);
    // One Newton step: s + (a - s^2) / (2 s).
    const dd_t r = dd_sub(a, dd_prod(s, s));
    return dd_norm(s, r.hi / (2 * s));
}

// a times 2^e, both parts (exact unless a part leaves the normal range).
inline dd_t dd_ldexp(dd_t a, int e)
{
    return {std::ldexp(a.hi, e), std::ldexp(a.lo, e)};
}

// An even exponent near a's binary one (0 for a zero, infinite or NaN a):
// a times 2^-dd_even_exp(a) lies in [1, 4) in magnitude, and its square root
// scales by exactly half that exponent.
inline int dd_even_exp(dd_t a)
{
    if (!std::isfinite(a.hi) || a.hi == 0)
        return 0;
    const int e = std::ilogb(a.hi);
    return e - (e & 1);
}

// The double nearest to hi + lo (the pair is normalised).  A NaN comes back
// as the one positive quiet NaN: the sign a NaN picks up on its way through
// these operations depends on the order the compiler gives their operands,
// and would otherwise print as nan in one build and -nan in another.
inline double dd_round(dd_t a)
{
    const double r = a.hi + a.lo;
    return r == r ? r : NAN;
}

// a + b rounded, as dd_round(dd_add(a, b)) gives it, but an infinity where
// the sum passes the largest double or a part is infinite, where the
// pairs' own arithmetic would make a NaN.
inline double dd_round_add(dd_t a, dd_t b)
{
    const double s = a.hi + b.hi;
    if (!std::isinf(s))
        return dd_round(dd_add(a, b));
    if (std::isinf(a.hi) || std::isinf(b.hi))
        return s;
    // Near or beyond the largest double: added at half the size.
    return std::ldexp(dd_round(dd_add(dd_ldexp(a, -1), dd_ldexp(b, -1))), 1);
}

// -1, 0 or 1 as a is below, equal to or above b (both normalised).
inline int dd_cmp(dd_t a, dd_t b)
{
    if (a.hi != b.hi)
        return a.hi < b.hi ? -1 : 1;
    if (a.lo != b.lo)
        return a.lo < b.lo ? -1 : 1;
    return 0;
}

// A sum of many terms in the manner of Ogita, Rump and Oishi's Sum2: the
// high part adds plainly, the low part collects every rounding error.
struct dd_sum_t {
    double hi = 0;
    double lo = 0;

    void add(double x)
    {
        const double s = hi + x;
        lo += error_free::sum_error(hi, x, s);
        hi = s;
    }
    void add(dd_t x)
    {
        const double s = hi + x.hi;
        lo += error_free::sum_error(hi, x.hi, s) + x.lo;
        hi = s;
    }
    dd_t value() const { return dd_norm(hi, lo); }
};

#endif
