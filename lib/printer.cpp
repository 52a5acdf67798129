// The report's printer.
#include "printer.h"

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "exact-fixed.h"
#include "records.h"

void tally_printer_t::start() const
{
    if (prefix_len != 0)
        std::fwrite(prefix, 1, prefix_len, out);
}

void tally_printer_t::head() const
{
    start();
    if (col_name != nullptr)
        std::fprintf(out, "%s %s ", label, col_name);
    else if (pair)
        std::fprintf(out, "%s %u%s%u ", label, num, pair_sep, num2);
    else
        std::fprintf(out, "%s %u ", label, num);
}

__extension__ typedef unsigned __int128 u128;

namespace {

// A computed result that is exactly zero prints as 0.000000 whatever the
// sign its arithmetic left on it; any other value (a NaN too) as it is.
double unsigned_zero(double x)
{
    return x == 0 ? 0.0 : x;
}

// The digits of v, most significant first, ending at end; where they
// start.
char *digits_of(u128 v, char *end)
{
    while (v >> 64 != 0) {
        *--end = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    }
    uint64_t w = static_cast<uint64_t>(v);
    do {
        *--end = static_cast<char>('0' + w % 10);
        w /= 10;
    } while (w != 0);
    return end;
}

} // namespace

size_t tally_format_fixed(double x, int decimals, char *out)
{
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t m = bits & ((uint64_t{1} << 52) - 1);
    int e = -1074; // x = m 2^e
    if (biased != 0) {
        m |= uint64_t{1} << 52;
        e = biased - 1075;
    }
    // Infinities, NaNs, and values past 2^93, whose digits are many: as
    // printf has them.
    if (biased == 0x7FF || e > 40 || (decimals != 6 && decimals != 0)) {
        const int len = std::snprintf(out, TALLY_FIXED_ROOM, "%16.*f",
                                      decimals, x);
        return static_cast<size_t>(len);
    }
    const uint64_t scale = decimals == 6 ? 1000000 : 1;
    u128 r; // x 10^decimals, rounded half to even
    if (e >= 0) {
        r = (static_cast<u128>(m) << e) * scale;
    } else {
        const u128 p = static_cast<u128>(m) * scale; // below 2^73
        const int s = -e;
        if (s > 100) {
            r = 0; // below 2^-27: less than half a unit
        } else {
            const u128 q = p >> s;
            const u128 rest = p - (q << s);
            const u128 half = u128{1} << (s - 1);
            r = q + (rest > half || (rest == half && (q & 1) != 0));
        }
    }
    char text[64];
    char *const end = text + sizeof text;
    char *at;
    if (decimals == 6) {
        const uint64_t fraction = static_cast<uint64_t>(r % scale);
        char *f = end - 6;
        uint64_t w = fraction;
        for (int i = 5; i >= 0; --i) {
            f[i] = static_cast<char>('0' + w % 10);
            w /= 10;
        }
        *--f = '.';
        at = digits_of(r / scale, f);
    } else {
        at = digits_of(r, end);
    }
    if (bits >> 63)
        *--at = '-';
    const size_t len = static_cast<size_t>(end - at);
    const size_t pad = len < 16 ? 16 - len : 0;
    std::memset(out, ' ', pad);
    std::memcpy(out + pad, at, len);
    return pad + len;
}

void tally_printer_t::stat(const char *name, int width, double value) const
{
    stat_value(name, width, unsigned_zero(value));
}

void tally_printer_t::stat_value(const char *name, int width,
                                 double value) const
{
    if (records != nullptr)
        return records->number(name, value);
    head();
    if (digits != 0)
        std::fprintf(out, "%-*s %.*g\n", width - 1, name, digits, value);
    else
        std::fprintf(out, "%-*s %f\n", width - 1, name, value);
}

void tally_printer_t::stat_count(const char *name, int width,
                                 uint64_t value) const
{
    if (records != nullptr)
        return records->count(name, value);
    head();
    std::fprintf(out, "%-*s %" PRIu64 "\n", width - 1, name, value);
}

void tally_printer_t::stat_text(const char *name, int width,
                                const char *text) const
{
    if (records != nullptr)
        return records->text(name, text);
    head();
    std::fprintf(out, "%-*s %s\n", width - 1, name, text);
}

void tally_printer_t::stat_number(const char *name, int width,
                                  const tallyf_number_t &value) const
{
    if (records != nullptr || digits != 0) {
        // The exact number rounded once to the nearest double.
        const double x = value.exact ? exact_fixed_round(&value.fixed, false)
                                     : value.value;
        return stat_value(name, width, x);
    }
    char text[400];
    tallyf_format_number(&value, text, sizeof text);
    stat_text(name, width, text);
}

void tally_printer_t::stat_interval(const char *name, int width, double low,
                                    double high) const
{
    if (records != nullptr)
        return records->interval(name, unsigned_zero(low),
                                 unsigned_zero(high));
    head();
    if (digits != 0)
        std::fprintf(out, "%-*s (%.*g, %.*g)\n", width - 1, name, digits,
                     unsigned_zero(low), digits, unsigned_zero(high));
    else
        std::fprintf(out, "%-*s (%f, %f)\n", width - 1, name,
                     unsigned_zero(low), unsigned_zero(high));
}

void tally_printer_t::line(const char *text) const
{
    if (records != nullptr)
        return records->note(text);
    start();
    std::fputs(text, out);
    std::putc('\n', out);
}

void tally_printer_t::labelled(const char *text) const
{
    if (records != nullptr)
        return; // a listing's heading
    head();
    std::fprintf(out, "%s\n", text);
}

void tally_printer_t::row3(double a, double b, double c) const
{
    if (records != nullptr)
        return records->listed(a, unsigned_zero(b), unsigned_zero(c));
    start();
    if (digits != 0) {
        std::fprintf(out, "%16.*g %16.*g %16.*g\n", digits, a, digits,
                     unsigned_zero(b), digits, unsigned_zero(c));
        return;
    }
    char line[3 * (TALLY_FIXED_ROOM + 1)];
    size_t len = tally_format_fixed(a, 6, line);
    line[len++] = ' ';
    len += tally_format_fixed(unsigned_zero(b), 6, line + len);
    line[len++] = ' ';
    len += tally_format_fixed(unsigned_zero(c), 6, line + len);
    line[len++] = '\n';
    std::fwrite(line, 1, len, out);
}

void tally_printer_t::row(const char *const *names, const double *values,
                          const bool *is_count, int k,
                          const char *tail) const
{
    if (records != nullptr)
        return records->table_row(names, values, is_count, k);
    start();
    // The line made first, then written at once.
    char line[4 * (TALLY_FIXED_ROOM + 1)];
    size_t len = 0;
    for (int i = 0; i < k && i < 4; ++i) {
        if (i != 0)
            line[len++] = ' ';
        if (is_count[i] || digits == 0)
            len += tally_format_fixed(values[i], is_count[i] ? 0 : 6,
                                      line + len);
        else
            len += static_cast<size_t>(std::snprintf(
                line + len, TALLY_FIXED_ROOM, "%16.*g", digits, values[i]));
    }
    std::fwrite(line, 1, len, out);
    if (tail != nullptr)
        std::fprintf(out, " %s", tail);
    std::putc('\n', out);
}
