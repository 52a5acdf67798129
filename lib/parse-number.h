// Strict conversions of input fields and command-line numbers.
#ifndef NUMTALLY_LIB_PARSE_NUMBER_H
#define NUMTALLY_LIB_PARSE_NUMBER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// Converts the len bytes at s (NUL-terminated after them) exactly as strtod
// does and succeeds only when strtod would consume all len bytes: the same
// value, bit for bit, on every text strtod accepts.  Empty text is 0.  A
// number too large for a double ("1e400") is refused, not made infinite;
// "inf", "infinity" and "nan" are accepted, underflow rounds as strtod does.
// Keeps errno.
bool parse_field_double(const char *s, size_t len, double *out);

// Whether the text is a number beyond a double's range (the reason
// parse_field_double refuses it, where it is not a number at all).  Keeps
// errno.
bool parse_field_overflows(const char *s, size_t len);

// A whole command-line operand as parse_field_double converts it; the empty
// text is refused.
bool parse_real_arg(const char *s, double *out);

// A count operand: decimal digits only (no sign, no blanks), 1 to 4294967295.
bool parse_count_arg(const char *s, uint32_t *out);

// The same conversion, for a text whose buffer may be read for 17 bytes from
// s whatever len is (a field buffer of 4096 bytes, say): short decimals are
// then read eight bytes at a time, inline.
inline bool parse_padded_field_double(const char *s, size_t len, double *out);

// The inline half alone: converts [+-]digits[.digits], at most seven digits
// on either side of the point, as strtod does, reading up to 17 bytes from s
// whatever len is; s needs no terminator, whatever follows the text is never
// taken for part of it.  Returns false, having stored nothing, for every
// other text: parse_field_double settles those.
inline bool parse_short_decimal(const char *s, size_t len, double *out);

// ---- Inline part ------------------------------------------------------------

namespace parse_number_detail {

// Powers of ten that a double holds exactly.
inline constexpr double kExactPowers[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
};

} // namespace parse_number_detail

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define NUMTALLY_EIGHT_AT_ONCE 1

namespace parse_number_detail {

// Eight bytes at once: the first text byte is the lowest byte of the word.
inline constexpr uint64_t kZeros = 0x3030303030303030;

inline uint64_t load8(const char *p)
{
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Given a word XOR kZeros, the high bits of every byte that is not a digit
// are set.  A byte above 0xF9 carries into the next byte, which may then
// look like a non-digit too: only the first non-digit counts below.
inline uint64_t non_digits(uint64_t x)
{
    return (x | (x + 0x0606060606060606)) & 0xF0F0F0F0F0F0F0F0;
}

// The value of eight digit values (0 to 9, the most significant lowest).
inline uint64_t eight_digits(uint64_t v)
{
    constexpr uint64_t mask = 0x000000FF000000FF;
    constexpr uint64_t mul1 = 100 + (uint64_t{1000000} << 32);
    constexpr uint64_t mul2 = 1 + (uint64_t{10000} << 32);
    v = v * 10 + (v >> 8);
    return ((v & mask) * mul1 + ((v >> 16) & mask) * mul2) >> 32;
}

// The value of the first n (1 to 7) digit values of x: shifted to the top,
// zeros in front of them change nothing.
inline uint64_t first_digits(uint64_t x, unsigned n)
{
    return eight_digits(x << (64 - 8 * n));
}

// Powers of ten below 10^8.
inline constexpr uint64_t kIntPowers[] = {1,      10,      100,      1000,
                                   10000,  100000,  1000000,  10000000};

// [+-]digits[.digits], at most seven digits on each side of the point, read
// without a loop: the value has at most 14 digits, so the exact fast path
// applies.  Reads up to 17 bytes from s, whatever len is.  Returns false,
// having stored nothing, for every other text.
inline bool short_plain_decimal(const char *s, size_t len, double *out)
{
    const char *p = s;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    const size_t rem = len - static_cast<size_t>(p - s);
    // Whatever lies after the text (a terminator, a delimiter, even a
    // digit) only ever makes the end tests below fail.
    const uint64_t x0 = load8(p) ^ kZeros;
    const uint64_t nd0 = non_digits(x0);
    if (nd0 == 0)
        return false; // eight digits or more before the point
    const unsigned i = static_cast<unsigned>(__builtin_ctzll(nd0)) >> 3;
    uint64_t w = 0;
    unsigned f = 0;
    if (i == rem) {
        w = i != 0 ? first_digits(x0, i) : 0;
    } else {
        if (p[i] != '.')
            return false;
        const uint64_t x1 = load8(p + i + 1) ^ kZeros;
        const uint64_t nd1 = non_digits(x1);
        if (nd1 == 0)
            return false;
        f = static_cast<unsigned>(__builtin_ctzll(nd1)) >> 3;
        if (i + 1 + f != rem)
            return false;
        if (i + f <= 8 && i + f != 0) {
            // Both parts fit in one word: join them and convert once.
            const uint64_t int_part =
                i != 0 ? x0 & (~uint64_t{0} >> (64 - 8 * i)) : 0;
            const uint64_t frac_part = f != 0 ? x1 << (8 * i) : 0;
            w = eight_digits((int_part | frac_part) << (64 - 8 * (i + f)));
        } else {
            w = i != 0 ? first_digits(x0, i) : 0;
            if (f != 0)
                w = w * kIntPowers[f] + first_digits(x1, f);
        }
    }
    if (i + f == 0)
        return false; // no digits at all
    const double v = static_cast<double>(w) / kExactPowers[f];
    *out = negative ? -v : v;
    return true;
}
} // namespace parse_number_detail
#endif

inline bool parse_short_decimal(const char *s, size_t len, double *out)
{
#if defined(NUMTALLY_EIGHT_AT_ONCE)
    return parse_number_detail::short_plain_decimal(s, len, out);
#else
    (void)s;
    (void)len;
    (void)out;
    return false;
#endif
}

inline bool parse_padded_field_double(const char *s, size_t len, double *out)
{
#if defined(NUMTALLY_EIGHT_AT_ONCE)
    if (parse_number_detail::short_plain_decimal(s, len, out))
        return true;
#endif
    return parse_field_double(s, len, out);
}

// Converts a whole decimal argument as strtoul does, refusing what strtoul
// leaves unconsumed, negative numbers and numbers above 4294967295.  Leading
// white space and a sign are allowed; the empty text is 0.
bool parse_uint32_arg(const char *s, uint32_t *out);

#endif
