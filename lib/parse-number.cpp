// Number conversion.  Short decimal fields, the bulk of any input, are
// converted exactly by one multiplication or division (below); everything
// else (long digit strings, blanks, hex, inf, nan, out-of-range magnitudes)
// is left to strtod itself; a magnitude beyond a double's range is refused.
#include "parse-number.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

using parse_number_detail::kExactPowers;

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


} // namespace

namespace {

// strtod's conversion of the whole text, false when it stops short.
// *overflow: the text is a number beyond a double's range (strtod's
// infinity with ERANGE; "inf" itself sets no ERANGE, underflow gives no
// infinity).
bool whole_strtod(const char *s, size_t len, double *out, bool *overflow)
{
    char *end;
    errno = 0;
    const double v = std::strtod(s, &end);
    *overflow = std::isinf(v) && errno == ERANGE;
    if (end != s + len)
        return false;
    *out = v;
    return true;
}

} // namespace

bool parse_field_double(const char *s, size_t len, double *out)
{
    if (exact_short_decimal(s, len, out))
        return true;
    const int saved = errno;
    bool overflow;
    const bool whole = whole_strtod(s, len, out, &overflow);
    errno = saved;
    return whole && !overflow;
}

bool parse_field_overflows(const char *s, size_t len)
{
    double v;
    bool overflow;
    const int saved = errno;
    const bool whole = whole_strtod(s, len, &v, &overflow);
    errno = saved;
    return whole && overflow;
}

bool parse_real_arg(const char *s, double *out)
{
    return *s != '\0' && parse_field_double(s, std::strlen(s), out);
}

bool parse_count_arg(const char *s, uint32_t *out)
{
    uint64_t v = 0;
    const char *p = s;
    for (; is_digit(*p); ++p) {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > UINT32_MAX)
            return false;
    }
    if (p == s || *p != '\0' || v == 0)
        return false;
    *out = static_cast<uint32_t>(v);
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
