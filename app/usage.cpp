// The usage text, written to standard error on every command-line error.
#include "usage.h"

#include <cstdio>
#include <cstdlib>

#include <sysexits.h>

#include "functions.h"

void print_usage(char *argv[])
{
    const char *name = argv != nullptr && argv[0] != nullptr ? argv[0]
                                                             : "numtally";
    std::fputs("\nUsage: numtally function arguments [...]\n", stderr);
    std::fputs("\nSimple functions:\n", stderr);
    std::fprintf(stderr, "   %s z-table\n", name);
    std::fprintf(stderr, "   %s z-score x mean SD|SEM\n", name);
    std::fprintf(stderr, "   %s z-score x mean SSD n\n", name);
    std::fprintf(stderr, "   %s normal-cdf x [mean SD] (defaults: 0 1)\n\n",
                 name);
    std::fprintf(stderr, "   %s t-score x-bar expected-mean SD n\n", name);
    std::fprintf(stderr, "   %s t-cdf x-bar n\n", name);
    std::fputs("\nTabular data:\n", stderr);
    std::fprintf(stderr,
                 "   %s [--verbose] [--delim 'string'] \\\n"
                 "       function1 [param1] --row|--col N1 \\\n"
                 "       [function2 [param2] --row|--col N2 ...] \\\n"
                 "       < input-file\n",
                 name);
    std::fputs("\n   Records for other programs: --format tsv|csv|json "
               "(one row per group;\n   --long: one per result); --digits N "
               "(1 to 17 significant digits)\n",
               stderr);
    std::fputs("\nFor tabular data at least one of the following functions "
               "is required:\n\n",
               stderr);
    for (size_t i = 0; i < tally_function_count; ++i)
        if (tally_functions[i].usage != nullptr)
            std::fprintf(stderr, "  %s\n", tally_functions[i].usage);
    std::fputs("\nDefault delimiter is TAB.  The delimiter string may be "
               "multiple characters.\n",
               stderr);
    std::fputs("Multiple consecutive spaces are treated as a single "
               "delimiter.\n",
               stderr);
    std::fputs("\nExample: numtally sample-SD --col 9 pop-var --col 10 < "
               "sample.tsv\n",
               stderr);
    std::fputs("Example: echo '3 6 1 8 2' | numtally mean --row 1\n\n",
               stderr);
}

void usage(char *argv[])
{
    print_usage(argv);
    std::exit(EX_USAGE);
}
