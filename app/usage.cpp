// The usage text, written to standard error on every command-line error,
// and the help, which is the usage text and more, on standard output.
#include "usage.h"

#include <cstdio>
#include <cstdlib>

#include <sysexits.h>

#include "functions.h"

namespace {

void write_usage(char *argv[], FILE *out)
{
    const char *name = argv != nullptr && argv[0] != nullptr ? argv[0]
                                                             : "numtally";
    std::fputs("\nUsage: numtally function arguments [...]\n", out);
    std::fputs("\nSimple functions:\n", out);
    std::fprintf(out, "   %s z-table\n", name);
    std::fprintf(out, "   %s z-score x mean SD|SEM\n", name);
    std::fprintf(out, "   %s z-score x mean SSD n\n", name);
    std::fprintf(out, "   %s normal-cdf x [mean SD] (defaults: 0 1)\n\n",
                 name);
    std::fprintf(out, "   %s t-score x-bar expected-mean SD n\n", name);
    std::fprintf(out, "   %s t-cdf x-bar n\n", name);
    std::fputs("\nTabular data:\n", out);
    std::fprintf(out,
                 "   %s [--verbose] [--delim 'string'] \\\n"
                 "       function1 [param1] --row|--col N1 \\\n"
                 "       [function2 [param2] --row|--col N2 ...] \\\n"
                 "       < input-file\n",
                 name);
    std::fputs("\nFor tabular data at least one of the following functions "
               "is required:\n\n",
               out);
    for (size_t i = 0; i < tally_function_count; ++i)
        if (tally_functions[i].usage != nullptr)
            std::fprintf(out, "  %s\n", tally_functions[i].usage);
    std::fputs("\nDefault delimiter is TAB.  The delimiter string may be "
               "multiple characters.\n",
               out);
    std::fputs("Multiple consecutive spaces are treated as a single "
               "delimiter.\n",
               out);
    std::fputs("\nExample: numtally sample-SD --col 9 pop-var --col 10 < "
               "sample.tsv\n",
               out);
    std::fputs("Example: echo '3 6 1 8 2' | numtally mean --row 1\n\n",
               out);
}

} // namespace

void print_usage(char *argv[])
{
    write_usage(argv, stderr);
}

void print_help(char *argv[])
{
    write_usage(argv, stdout);
    std::fputs("More functions:\n\n", stdout);
    for (size_t i = 0; i < tally_function_count; ++i) {
        const tally_function_t &f = tally_functions[i];
        if (f.usage != nullptr || f.refusal != nullptr)
            continue;
        std::printf("  %s\n", f.help != nullptr ? f.help : f.word);
    }
    std::fputs(
        "\nOptions:\n\n"
        "  --delims STRING     the delimiters, each byte one (also --delim);\n"
        "                      default: blanks and tabs, a run of them one\n"
        "  --csv               comma-separated, with double-quoted fields\n"
        "  --header            the first line names the columns: --col NAME\n"
        "                      (--col =NAME for a name made of digits)\n"
        "  --by COLUMNS        one report per key (columns by number or name)\n"
        "  --skip-missing      empty fields and NA, N/A, NaN, nan, NULL, null\n"
        "                      count in no statistic\n"
        "  --quantile-type N   quantiles by Hyndman and Fan's definition N\n"
        "                      (1 to 9, as R's type = N; default 6)\n"
        "  --format FORMAT     report (the labelled lines), or records:\n"
        "                      tsv, csv or json (one row per group)\n"
        "  --long              with --format: one record per result\n"
        "  --digits N          every number with N significant digits\n"
        "                      (1 to 17)\n"
        "  --threads N         read the input on N threads (default: every\n"
        "                      processor it may use); the same output\n"
        "  --memory SIZE       the memory of kept values (bytes, K, M or G;\n"
        "                      default: half of what it may use); past it\n"
        "                      they go to temporary files; the same output\n"
        "  --verbose           echo every field read\n"
        "  --help              this text, on standard output\n"
        "  --version           the version\n"
        "\nInput: standard input, or the files named after the functions\n"
        "(\"-\": standard input), read in order as one; gzip and zstd input\n"
        "is decompressed.\n"
        "\nShards: a part of the input on each machine or process, one report:\n\n"
        "  --state-out FILE    write the part's state to FILE (\"-\": standard\n"
        "                      output) instead of a report; no row functions\n"
        "  --merge FILE...     the report of the parts whose states the files\n"
        "                      hold, in order; only --format, --long and\n"
        "                      --digits may stand with it\n",
        stdout);
}

void usage(char *argv[])
{
    print_usage(argv);
    std::exit(EX_USAGE);
}
