// The distribution commands.  Apart from the lone x of normal-cdf, operands
// are converted the way strtod and strtoul read them: leading blanks
// skipped, trailing text ignored, no number at all read as 0.
#include "distribution.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sysexits.h>

#include "tallyf.h"
#include "usage.h"

namespace {

double real_operand(const char *text)
{
    return std::strtod(text, nullptr);
}

// A sample size: strtoul in base 10, low 32 bits kept ("-1" is 4294967295).
uint32_t count_operand(const char *text)
{
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
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
    double x, mean, sd;
    if (argc == 5) {
        x = real_operand(argv[2]);
        mean = real_operand(argv[3]);
        sd = real_operand(argv[4]);
    } else if (argc == 3) {
        char *end;
        x = std::strtod(argv[2], &end);
        if (*end != '\0') {
            std::fprintf(stderr, "Invalid z-score: %s\n", argv[2]);
            print_usage(argv);
            return EX_USAGE;
        }
        mean = 0;
        sd = 1;
    } else {
        print_usage(argv);
        return EX_USAGE;
    }
    print_normal_probability(x, normal_cdf(x, mean, sd));
    return 0;
}

int cmd_z_score(int argc, char *argv[])
{
    const double x = real_operand(argv[2]);
    const double mean = real_operand(argv[3]);
    double sd = real_operand(argv[4]);
    if (argc == 6) {
        // x mean SSD n: a sample mean, whose standard error is SSD / sqrt(n).
        const uint32_t n = count_operand(argv[5]);
        sd = sd / std::sqrt(static_cast<double>(n));
    }
    std::printf("z-score = %f\n", z_score(x, mean, sd));
    print_normal_probability(x, normal_cdf(x, mean, sd));
    return 0;
}

int cmd_t_score(int /*argc*/, char *argv[])
{
    const double x_bar = real_operand(argv[2]);
    const double mean = real_operand(argv[3]);
    const double sd = real_operand(argv[4]);
    const uint32_t n = count_operand(argv[5]);
    const double t = t_score(n, x_bar, mean, sd);
    const uint32_t df = n - 1u; // n of 0 gives 4294967295
    std::printf("t(%u) = %f\n", df, t);
    const double p = t_cdf(n, t);
    std::printf("P(t(%u) < %f) = %f\n", df, t, p);
    std::printf("1 - P = %f\n", 1 - p);
    return 0;
}

int cmd_t_cdf(int /*argc*/, char *argv[])
{
    // The operand is the t value itself; nothing standardises it.
    const double x_bar = real_operand(argv[2]);
    const uint32_t n = count_operand(argv[3]);
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
