// Number conversion.  Short decimal fields, the bulk of any input, are
// converted exactly by one multiplication or division (below); everything
// else (long digit strings, blanks, hex, inf, nan, out-of-range magnitudes)
// is left to strtod itself.
#include "parse-number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
};

// The exact fast path (Clinger): a text [+-]digits[.digits][(e|E)[+-]digits]
// whose digits, read as one integer w, stay at or below 2^53 and whose
// decimal exponent e is at most 22 in size has the value w * 10^e with both
// factors exact doubles, so the one rounding of the product (or the
// quotient w / 10^-e) is the correctly rounded value, strtod's.  Returns
// false, having stored nothing, for every other text.
inline bool exact_short_decimal(const char *s, size_t len, double *out)
{
    const char *p = s;
    const char *const end = s + len;
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    constexpr uint64_t kLimit = uint64_t{1} << 53;
    uint64_t w = 0;
    int digits = 0; // mantissa digits seen
    int scale = 0;  // minus the digits after the point
    for (; p != end && is_digit(*p); ++p, ++digits) {
        w = w * 10 + static_cast<uint64_t>(*p - '0');
        if (w > kLimit)
            return false;
    }
    if (p != end && *p == '.') {
        ++p;
        for (; p != end && is_digit(*p); ++p, ++digits, --scale) {
            w = w * 10 + static_cast<uint64_t>(*p - '0');
            if (w > kLimit)
                return false;
        }
    }
    if (digits == 0)
        return false; // no digits: "", ".", "-", "inf", "nan", ...
    if (p != end) {
        if (*p != 'e' && *p != 'E')
            return false;
        ++p;
        bool exp_negative = false;
        if (p != end && (*p == '-' || *p == '+')) {
            exp_negative = *p == '-';
            ++p;
        }
        if (p == end)
            return false; // "1e", "1e+": strtod stops before the e
        int e = 0;
        for (; p != end && is_digit(*p); ++p) {
            e = e * 10 + (*p - '0');
            if (e > 1000)
                return false;
        }
        if (p != end)
            return false;
        scale += exp_negative ? -e : e;
    }
    if (scale < -22 || scale > 22)
        return false;
    double v = static_cast<double>(w); // exact: w <= 2^53
    if (scale < 0)
        v /= kExactPowers[-scale];
    else
        v *= kExactPowers[scale];
    *out = negative ? -v : v;
    return true;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define NUMTALLY_EIGHT_AT_ONCE 1

// Eight bytes at once: the first text byte is the lowest byte of the word.
constexpr uint64_t kZeros = 0x3030303030303030;

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

constexpr uint64_t kIntPowers[] = {1,      10,      100,      1000,
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
    // s[len] is the terminator, a non-digit: the first non-digit lies at
    // or before the end of the text.
    const uint64_t x0 = load8(p) ^ kZeros;
    const uint64_t nd0 = non_digits(x0);
    if (nd0 == 0)
        return false; // eight digits or more before the point
    const unsigned i = static_cast<unsigned>(__builtin_ctzll(nd0)) >> 3;
    uint64_t w = i != 0 ? first_digits(x0, i) : 0;
    unsigned f = 0;
    if (i != rem) {
        if (p[i] != '.')
            return false;
        const uint64_t x1 = load8(p + i + 1) ^ kZeros;
        const uint64_t nd1 = non_digits(x1);
        if (nd1 == 0)
            return false;
        f = static_cast<unsigned>(__builtin_ctzll(nd1)) >> 3;
        if (i + 1 + f != rem)
            return false;
        if (f != 0)
            w = w * kIntPowers[f] + first_digits(x1, f);
    }
    if (i + f == 0)
        return false; // no digits at all
    const double v = static_cast<double>(w) / kExactPowers[f];
    *out = negative ? -v : v;
    return true;
}
#endif

} // namespace

bool parse_padded_field_double(const char *s, size_t len, double *out)
{
#if defined(NUMTALLY_EIGHT_AT_ONCE)
    if (short_plain_decimal(s, len, out))
        return true;
#endif
    return parse_field_double(s, len, out);
}

bool parse_field_double(const char *s, size_t len, double *out)
{
    if (exact_short_decimal(s, len, out))
        return true;
    char *end;
    const double v = std::strtod(s, &end);
    if (end != s + len)
        return false;
    *out = v;
    return true;
}

bool parse_uint32_arg(const char *s, uint32_t *out)
{
    errno = 0;
    char *end;
    const unsigned long v = std::strtoul(s, &end, 10);
    if (*end != '\0' || errno == ERANGE || v > UINT32_MAX)
        return false;
    const char *p = s;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '-' && v != 0)
        return false;
    *out = static_cast<uint32_t>(v);
    return true;
}
