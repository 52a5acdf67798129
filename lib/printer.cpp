// The report's printer.
#include "printer.h"

#include <cinttypes>
#include <cstdio>

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

namespace {

// A computed result that is exactly zero prints as 0.000000 whatever the
// sign its arithmetic left on it; any other value (a NaN too) as it is.
double unsigned_zero(double x)
{
    return x == 0 ? 0.0 : x;
}

} // namespace

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
    if (digits != 0)
        std::fprintf(out, "%16.*g %16.*g %16.*g\n", digits, a, digits,
                     unsigned_zero(b), digits, unsigned_zero(c));
    else
        std::fprintf(out, "%16f %16f %16f\n", a, unsigned_zero(b),
                     unsigned_zero(c));
}

void tally_printer_t::row(const char *const *names, const double *values,
                          const bool *is_count, int k,
                          const char *tail) const
{
    if (records != nullptr)
        return records->table_row(names, values, is_count, k);
    start();
    for (int i = 0; i < k; ++i) {
        if (i != 0)
            std::putc(' ', out);
        if (is_count[i])
            std::fprintf(out, "%16.0f", values[i]);
        else if (digits != 0)
            std::fprintf(out, "%16.*g", digits, values[i]);
        else
            std::fprintf(out, "%16f", values[i]);
    }
    if (tail != nullptr)
        std::fprintf(out, " %s", tail);
    std::putc('\n', out);
}
