// Number conversion.  Plain decimal fields, the bulk of any input, go through
// std::from_chars, which rounds correctly as strtod does; everything else
// (signs, blanks, hex, inf, nan, out-of-range magnitudes) is left to strtod.
#include "parse-number.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Texts that from_chars reads exactly like strtod: a digit or a point first,
// or a minus sign followed by one.
inline bool plain_decimal(const char *s, size_t len)
{
    if (len == 0)
        return false;
    const char c = s[0] == '-' && len > 1 ? s[1] : s[0];
    return is_digit(c) || c == '.';
}

} // namespace

bool parse_field_double(const char *s, size_t len, double *out)
{
    if (plain_decimal(s, len)) {
        double v;
        const auto [end, ec] = std::from_chars(s, s + len, v);
        if (ec == std::errc() && end == s + len) {
            *out = v;
            return true;
        }
    }
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
