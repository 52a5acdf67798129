// The field conversions against strtod: the same accept or refuse (and a
// number beyond a double's range refused), and on accept the same value bit
// for bit, over hand-picked hard texts and many
// random ones.  Every entry point is checked, the padded ones with digits
// and points lying in wait after the terminator or right after the text.
#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "parse-number.h"

[[noreturn]] void usage(char **) { std::exit(64); }

namespace {

struct Outcome {
    bool accepted;
    uint64_t bits; // 0 when refused
    bool operator==(const Outcome &o) const
    {
        return accepted == o.accepted && bits == o.bits;
    }
};

std::ostream &operator<<(std::ostream &os, const Outcome &o)
{
    if (!o.accepted)
        return os << "refused";
    char hex[64];
    std::snprintf(hex, sizeof hex, "%a (bits %016llx)",
                  std::bit_cast<double>(o.bits),
                  static_cast<unsigned long long>(o.bits));
    return os << hex;
}

// What the conversion must do: strtod, accepted only when it consumes all
// and does not overflow to an infinity.
Outcome by_strtod(const std::string &text)
{
    char *end;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() ||
        (std::isinf(v) && errno == ERANGE))
        return {false, 0};
    return {true, std::bit_cast<uint64_t>(v)};
}

Outcome by(bool (*convert)(const char *, size_t, double *), const char *s,
           size_t len)
{
    double v = 0;
    if (!convert(s, len, &v))
        return {false, 0};
    return {true, std::bit_cast<uint64_t>(v)};
}

std::string shown(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text)
        if (c >= 32 && c < 127)
            out += static_cast<char>(c);
        else
            out += "\\x", out += std::to_string(c);
    out += '"';
    return out;
}

// Checks one text (with no NUL inside: strtod stops at the first one).
void check(const std::string &text)
{
    const Outcome want = by_strtod(text);
    EXPECT_EQ(by(parse_field_double, text.c_str(), text.size()), want)
        << shown(text);
    // A field buffer as the list has it, with junk after the terminator
    // that would extend the number if it were read as part of it.
    for (const char *junk : {"7777777777777777777777", ".5e5.5e5.5e5.5e5.5e",
                             "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"}) {
        std::vector<char> field(4096, 0);
        std::memcpy(field.data(), text.data(), text.size());
        field[text.size()] = '\0';
        std::memcpy(field.data() + text.size() + 1, junk, std::strlen(junk));
        EXPECT_EQ(by(parse_padded_field_double, field.data(), text.size()), want)
            << shown(text) << " padded";
        // Straight from the input, the junk right after the text: the
        // inline conversion either gives strtod's value or leaves the text
        // to parse_field_double.
        std::memcpy(field.data() + text.size(), junk, std::strlen(junk));
        double v = 0;
        const Outcome got =
            parse_short_decimal(field.data(), text.size(), &v)
                ? Outcome{true, std::bit_cast<uint64_t>(v)}
                : by(parse_field_double, text.c_str(), text.size());
        EXPECT_EQ(got, want) << shown(text) << " unterminated";
    }
}

TEST(ParseNumber, HardTextsMatchStrtod)
{
    const char *const texts[] = {
        // empty, signs alone, points alone
        "", "-", "+", ".", "-.", "+.", "e", "e5", ".e5", "-e5",
        // zeros and signs
        "0", "-0", "+0", "0.0", "-0.0", "00", "-00.000", "0e0", "-0e-5",
        // points at either end
        ".5", "5.", "-.5", "+5.", "1234567.", ".1234567", "1234567.1234567",
        "12345678.1", "1.12345678", "9999999.9999999", "-9999999.9999999",
        "0000000.0000001", "1234.5678", "-1234.5678", "+1234.5678",
        // exponents, complete and not
        "1e5", "1E5", "1e+5", "1e-5", "1e", "1e+", "1e-", "1e5x", "1.5e22",
        "1e22", "1e23", "1e-22", "1e-23", "123e-20", "4.35e15", "1e0000000022",
        "1e99999999999", "1e-99999999999", "1.e1", "1e1.5",
        // exactness limits of the fast path
        "9007199254740992", "9007199254740993", "9007199254740991",
        "9007199254740991.5", "900719925474099.3", "123456789012345",
        "1234567890123456", "12345678901234567890", "123456789012345678901234",
        "0.1", "0.2", "0.3", "0.7", "1.1", "2.675", "1.005", "8.5e-15",
        "0.00000000000000000000000001", "00000000000000000000000001",
        "3.141592653589793238462643383279",
        // range: overflow, the largest, subnormals, underflow
        "1.7976931348623157e308", "1.7976931348623158e308", "1.8e308",
        "-1.8e308", "2.2250738585072011e-308", "2.2250738585072014e-308",
        "4.9e-324", "2.4703282292062327e-324", "2.4703282292062328e-324",
        "5e-324", "1e-400", "-1e-400", "1e400", "-1e400", "0x1p1024",
        // hex
        "0x1p3", "0X1P-3", "0x", "0x.8", "0x1.8p1", "-0x10", "0x1p", "0xg",
        "0x1p99999",
        // infinities and NaNs
        "inf", "-inf", "+inf", "INF", "Inf", "infinity", "Infinity",
        "-INFINITY", "infin", "nan", "NAN", "-nan", "nan(123)", "nan(abc)",
        "nan(", "nan()", "nanx",
        // blanks and junk around the number
        " 1", "\t1", "\n1", "  -2.5", "1 ", "1\t", "1x", "x1", "--1", "+-1",
        "-+1", "1..2", "1.2.3", "1,5", "1_000", "١",
    };
    for (const char *t : texts)
        check(t);
}

TEST(ParseNumber, NulInsideTheFieldIsRefused)
{
    // strtod stops at the NUL, before the end of the field.
    for (const std::string &text : {std::string("1\0002", 3),
                                   std::string("12.5\0", 5),
                                   std::string("\0", 1)}) {
        double v;
        EXPECT_FALSE(parse_field_double(text.data(), text.size(), &v));
        std::vector<char> field(4096, 0);
        std::memcpy(field.data(), text.data(), text.size());
        EXPECT_FALSE(parse_padded_field_double(field.data(), text.size(), &v));
    }
}

TEST(ParseNumber, RandomDecimalsMatchStrtod)
{
    std::mt19937_64 rng(20261209);
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    for (int i = 0; i < 200000; ++i) {
        std::string t;
        const uint64_t sign = rng() % 4;
        if (sign < 2)
            t.push_back(sign == 0 ? '-' : '+');
        t += digits(static_cast<int>(rng() % 12));
        if (rng() % 4 != 0)
            t += '.', t += digits(static_cast<int>(rng() % 12));
        if (rng() % 6 == 0) {
            t += rng() % 2 ? "e" : "E";
            if (rng() % 2)
                t += rng() % 2 ? "-" : "+";
            t += std::to_string(rng() % 400);
        }
        check(t);
        if (HasFailure())
            return;
    }
}

TEST(ParseNumber, RandomDoublesPrintedEveryWayMatchStrtod)
{
    std::mt19937_64 rng(8);
    char text[512];
    const char *const formats[] = {"%.17g", "%.15g", "%f", "%.3f", "%a",
                                   "%.0f", "%e", "%.1f"};
    for (int i = 0; i < 100000; ++i) {
        double x = std::bit_cast<double>(rng());
        if (i % 2 == 0) // ordinary magnitudes as often as any
            x = static_cast<double>(static_cast<int64_t>(rng() % 20000000) -
                                    10000000) /
                static_cast<double>(uint64_t{1} << (rng() % 30));
        std::snprintf(text, sizeof text, formats[i % std::size(formats)], x);
        check(text);
        if (HasFailure())
            return;
    }
}

TEST(ParseNumber, RandomJunkMatchesStrtod)
{
    std::mt19937_64 rng(31337);
    static const char kBytes[] = "0123456789.-+eE xXpPabcdfinINFtyA()\t";
    for (int i = 0; i < 200000; ++i) {
        std::string t;
        const size_t len = rng() % 14;
        for (size_t k = 0; k < len; ++k)
            t += kBytes[rng() % (sizeof kBytes - 1)];
        check(t);
        if (HasFailure())
            return;
    }
}

} // namespace
