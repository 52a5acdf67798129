// The option table.
#include "options.h"

#include <cstring>

namespace {

bool delims(tally_cli_t *cli, int *arg, int argc, char *argv[],
            tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    cli->run.delims = argv[*arg]; // the argument itself, of any length
    return true;
}

bool help(tally_cli_t *, int *, int, char *[], tally_error_t *err)
{
    return tally_fail_usage(err);
}

bool version(tally_cli_t *cli, int *, int, char *[], tally_error_t *err)
{
    cli->show_version = true;
    err->status = 0;
    return false;
}

bool verbose(tally_cli_t *cli, int *, int, char *[], tally_error_t *)
{
    cli->run.verbose = true;
    return true;
}

} // namespace

// Tested in this order, before the function words.
const tally_option_t tally_options[] = {
    {"--delims", delims, "STRING"},
    {"--help", help, nullptr},
    {"--version", version, nullptr},
    {"--verbose", verbose, nullptr},
};

const size_t tally_option_count = sizeof tally_options / sizeof tally_options[0];

const tally_option_t *tally_option_by_word(const char *word)
{
    for (const tally_option_t &o : tally_options)
        if (std::strcmp(word, o.word) == 0)
            return &o;
    return nullptr;
}
