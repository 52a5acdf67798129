// The report's printer.
#include "printer.h"

#include <cinttypes>
#include <cstdio>

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
        std::fprintf(out, "%s %u,%u ", label, num, num2);
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
    head();
    std::fprintf(out, "%-*s %f\n", width - 1, name, value);
}

void tally_printer_t::stat_count(const char *name, int width,
                                 uint64_t value) const
{
    head();
    std::fprintf(out, "%-*s %" PRIu64 "\n", width - 1, name, value);
}

void tally_printer_t::stat_text(const char *name, int width,
                                const char *text) const
{
    head();
    std::fprintf(out, "%-*s %s\n", width - 1, name, text);
}

void tally_printer_t::stat_number(const char *name, int width,
                                  const tallyf_number_t &value) const
{
    char text[400];
    tallyf_format_number(&value, text, sizeof text);
    stat_text(name, width, text);
}

void tally_printer_t::stat_interval(const char *name, int width, double low,
                                    double high) const
{
    head();
    std::fprintf(out, "%-*s (%f, %f)\n", width - 1, name, unsigned_zero(low),
                 unsigned_zero(high));
}

void tally_printer_t::line(const char *text) const
{
    start();
    std::fputs(text, out);
    std::putc('\n', out);
}

void tally_printer_t::labelled(const char *text) const
{
    head();
    std::fprintf(out, "%s\n", text);
}

void tally_printer_t::row3(double a, double b, double c) const
{
    start();
    std::fprintf(out, "%16f %16f %16f\n", a, unsigned_zero(b), unsigned_zero(c));
}
