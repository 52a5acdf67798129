// Error-free transformations: the exact rounding errors of additions and
// products, for sums that lose nothing.  Internal to the library.
#ifndef NUMTALLY_LIB_ERROR_FREE_H
#define NUMTALLY_LIB_ERROR_FREE_H

namespace error_free {

// Error-free transformations (round to nearest, no contraction into fused
// multiply-adds: the build says -ffp-contract=off).  Each returns the exact
// rounding error of an operation whose rounded result r is given.

// Each works alike on doubles and on GCC vectors of doubles, lane by lane.

// a + b = r + error, for any a and b (Knuth's TwoSum).
template <class T>
inline T sum_error(T a, T b, T r)
{
    const T b_part = r - a;
    return (a - (r - b_part)) + (b - b_part);
}

// a = high + low, each with at most 26 significant bits (Dekker's split).
template <class T>
inline void split(T a, T &high, T &low)
{
    const T c = 134217729.0 * a; // 2^27 + 1
    high = c - (c - a);
    low = a - high;
}

// a * b = r + error, unless r overflows (Dekker's TwoProduct).
template <class T>
inline T product_error(T a, T b, T r)
{
    T ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    return ((ah * bh - r) + ah * bl + al * bh) + al * bl;
}

template <class T>
inline T square_error(T a, T r)
{
    T ah, al;
    split(a, ah, al);
    return ((ah * ah - r) + 2 * ah * al) + al * al;
}

// a + b, handing on a's NaN when both are NaN.  x86 keeps the NaN of an
// addition's first operand, and the compiler is free to swap the operands
// of a plain +: the plain sums pin the order they have always had, so that
// NaN and infinite input values print the same NaN (nan or -nan) as ever.
template <bool Vex = false>
inline double add_first(double a, double b)
{
#if defined(__x86_64__)
    if constexpr (Vex)
        __asm__("vaddsd %1, %0, %0" : "+x"(a) : "xm"(b));
    else
        __asm__("addsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
#else
    return a + b;
#endif
}

} // namespace error_free

#endif
