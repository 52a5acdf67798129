// The distribution commands.  Every operand must be a number to its last
// character; a refused one is named in a one-line message and the command
// prints nothing on standard output and gives status 64.
#include "distribution.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sysexits.h>

#include "parse-number.h"
#include "tallyf.h"
#include "usage.h"

namespace {

// Says on standard error which operand of which command is refused and why.
bool refuse(const char *command, const char *name, const char *text,
            const char *why)
{
    std::fprintf(stderr, "Invalid %s for %s: %s (%s)\n", name, command, text,
                 why);
    return false;
}

// A real operand: the whole text a number within a double's range, or
// "inf", "infinity", "nan".
bool real_operand(const char *command, const char *name, const char *text,
                  double *out)
{
    return parse_real_arg(text, out) ||
           refuse(command, name, text,
                  parse_field_overflows(text, std::strlen(text))
                      ? "too large for a double"
                      : "not a number");
}

// A standard deviation or error: a real operand not below 0.
bool sd_operand(const char *command, const char *name, const char *text,
                double *out)
{
    if (!real_operand(command, name, text, out))
        return false;
    return !(*out < 0) || refuse(command, name, text, "below 0");
}

// A sample size: a whole number from 1 to 4294967295.
bool count_operand(const char *command, const char *name, const char *text,
                   uint32_t *out)
{
    return parse_count_arg(text, out) ||
           refuse(command, name, text,
                  "a whole number from 1 to 4294967295");
}

void print_normal_probability(double x, double p)
{
    std::printf("P(x < %f) = %f\n", x, p);
    std::printf("1 - P = %f\n", 1 - p);
}

bool is(const char *word, const char *command)
{
    return std::strcmp(word, command) == 0;
}

} // namespace

int print_z_table(void)
{
    std::fputs("      ", stdout);
    double offsets[10];
    double c = 0;
    for (double &offset : offsets) {
        offset = c;
        std::printf("%6.2f ", offset);
        c += 0.01;
    }
    std::putchar('\n');

    // x is stepped by repeated addition; thirty steps from -3.0 land a hair
    // above zero, so the middle row reads 0.0 and goes upward.
    double x = -3.0;
    do {
        std::printf("%4.1f  ", x);
        const bool downward = x < 0;
        for (const double offset : offsets) {
            const double z = downward ? x - offset : x + offset;
            std::printf("%.4f ", normal_cdf(z, 0, 1));
        }
        std::putchar('\n');
        x += 0.1;
    } while (x < 3.1);
    return 0;
}

int cmd_normal_cdf(int argc, char *argv[])
{
    double x, mean = 0, sd = 1;
    if (argc == 5) {
        if (!real_operand("normal-cdf", "x", argv[2], &x) ||
            !real_operand("normal-cdf", "mean", argv[3], &mean) ||
            !sd_operand("normal-cdf", "SD", argv[4], &sd))
            return EX_USAGE;
    } else if (argc == 3) {
        if (!parse_real_arg(argv[2], &x)) {
            std::fprintf(stderr, "Invalid z-score: %s\n", argv[2]);
            print_usage(argv);
            return EX_USAGE;
        }
    } else {
        print_usage(argv);
        return EX_USAGE;
    }
    print_normal_probability(x, normal_cdf(x, mean, sd));
    return 0;
}

int cmd_z_score(int argc, char *argv[])
{
    double x, mean, sd;
    if (!real_operand("z-score", "x", argv[2], &x) ||
        !real_operand("z-score", "mean", argv[3], &mean) ||
        !sd_operand("z-score", argc == 6 ? "SSD" : "SD", argv[4], &sd))
        return EX_USAGE;
    if (argc == 6) {
        // x mean SSD n: a sample mean, whose standard error is SSD / sqrt(n).
        uint32_t n;
        if (!count_operand("z-score", "n", argv[5], &n))
            return EX_USAGE;
        sd = sd / std::sqrt(static_cast<double>(n));
    }
    std::printf("z-score = %f\n", z_score(x, mean, sd));
    print_normal_probability(x, normal_cdf(x, mean, sd));
    return 0;
}

int cmd_t_score(int /*argc*/, char *argv[])
{
    double x_bar, mean, sd;
    uint32_t n;
    if (!real_operand("t-score", "x-bar", argv[2], &x_bar) ||
        !real_operand("t-score", "expected-mean", argv[3], &mean) ||
        !sd_operand("t-score", "SD", argv[4], &sd) ||
        !count_operand("t-score", "n", argv[5], &n))
        return EX_USAGE;
    const double t = t_score(n, x_bar, mean, sd);
    const uint32_t df = n - 1u;
    std::printf("t(%u) = %f\n", df, t);
    const double p = t_cdf(n, t);
    std::printf("P(t(%u) < %f) = %f\n", df, t, p);
    std::printf("1 - P = %f\n", 1 - p);
    return 0;
}

int cmd_t_cdf(int /*argc*/, char *argv[])
{
    // The operand is the t value itself; nothing standardises it.
    double x_bar;
    uint32_t n;
    if (!real_operand("t-cdf", "t", argv[2], &x_bar) ||
        !count_operand("t-cdf", "n", argv[3], &n))
        return EX_USAGE;
    const double p = t_cdf(n, x_bar);
    std::printf("P(x_bar < %f) = %f\n", x_bar, p);
    std::printf("1 - P = %f\n", 1 - p);
    return 0;
}

int cmd_t_table(int /*argc*/, char * /*argv*/[])
{
    std::fputs("Not yet iumplemented.\n", stderr);
    return 0;
}

bool run_distribution_command(int argc, char *argv[], int *status)
{
    // Each command is chosen by the argument count and the first argument;
    // for a count of 5 the words are tried in this order.
    static const struct {
        int argc;
        const char *word;
        int (*run)(int argc, char *argv[]);
    } routes[] = {
        {2, "z-table", [](int, char **) { return print_z_table(); }},
        {3, "normal-cdf", cmd_normal_cdf},
        {4, "t-cdf", cmd_t_cdf},
        {5, "normal-cdf", cmd_normal_cdf},
        {5, "z-score", cmd_z_score},
        {5, "t-table", cmd_t_table},
        {6, "t-score", cmd_t_score},
        {6, "z-score", cmd_z_score},
    };
    for (const auto &route : routes) {
        if (argc == route.argc && is(argv[1], route.word)) {
            *status = route.run(argc, argv);
            return true;
        }
    }
    return false;
}
