// The option table.
#include "options.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <sysexits.h>

#include "xt-dsv.h"

namespace {

bool delims(tally_cli_t *cli, int *arg, int argc, char *argv[],
            tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    cli->run.delims = argv[*arg]; // the argument itself, of any length
    cli->delims_given = true;
    return true;
}

bool header(tally_cli_t *cli, int *, int, char *[], tally_error_t *)
{
    cli->run.header = true;
    return true;
}

// Commas unless --delims says otherwise (wherever it stands), and quoting.
bool csv(tally_cli_t *cli, int *, int, char *[], tally_error_t *)
{
    cli->run.quotes = true;
    return true;
}

bool skip_missing(tally_cli_t *cli, int *, int, char *[], tally_error_t *)
{
    cli->run.skip_missing = true;
    return true;
}

// --by COLUMNS: one or more key columns, separated by commas.  A word of
// digits alone is a column number (from 1); any other word is a column name,
// kept for the run to resolve.
bool by(tally_cli_t *cli, int *arg, int argc, char *argv[],
        tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    const std::string text = argv[*arg];
    tally_run_options_t &run = cli->run;
    run.nby = 0;
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        std::string word = text.substr(
            from, comma == std::string::npos ? std::string::npos : comma - from);
        // "=NAME": a name, also one of digits alone.
        const bool named = word.size() > 1 && word[0] == '=';
        if (named)
            word.erase(0, 1);
        if (run.nby == TALLY_KEYS_MAX)
            return tally_fail(err, EX_USAGE,
                              "--by: at most 64 key columns\n");
        const bool digits =
            !named && !word.empty() &&
            word.find_first_not_of("0123456789") == std::string::npos;
        uint64_t number = 0;
        if (digits) {
            for (char c : word) {
                number = number * 10 + static_cast<uint64_t>(c - '0');
                if (number > UINT32_MAX)
                    break;
            }
        }
        if (word.empty() || (digits && (number == 0 || number > UINT32_MAX))) {
            std::string m = "Invalid --by column: ";
            m += word;
            m += '\n';
            return tally_fail(err, EX_USAGE, std::move(m));
        }
        // The header line's fields are kept to the field limit: a longer
        // name could only be told by its first bytes.
        if (!digits && word.size() > XT_DSV_FIELD_MAX)
            return tally_fail(err, EX_USAGE,
                              "--by: a column name longer than " +
                                  std::to_string(XT_DSV_FIELD_MAX) +
                                  " bytes\n");
        run.by[run.nby] = digits ? static_cast<uint32_t>(number) : 0;
        run.by_name[run.nby] = digits ? std::string() : word;
        ++run.nby;
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

// Ends the command line, as --version does: main prints the help.
bool help(tally_cli_t *cli, int *, int, char *[], tally_error_t *err)
{
    cli->show_help = true;
    err->status = 0;
    return false;
}

bool version(tally_cli_t *cli, int *, int, char *[], tally_error_t *err)
{
    cli->show_version = true;
    err->status = 0;
    return false;
}

// --quantile-type N: Hyndman and Fan's definition N, 1 to 9.
bool quantile_type(tally_cli_t *cli, int *arg, int argc, char *argv[],
                   tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    const char *w = argv[*arg];
    if (w[0] < '1' || w[0] > '9' || w[1] != '\0')
        return tally_fail_usage(err, std::string("numtally: --quantile-type "
                                                 "takes 1 to 9, not '") +
                                         w + "'\n");
    cli->quantile_type = w[0] - '0';
    return true;
}

bool verbose(tally_cli_t *cli, int *, int, char *[], tally_error_t *)
{
    cli->run.verbose = true;
    return true;
}

// --format FORMAT: report, tsv, csv or json.
bool format(tally_cli_t *cli, int *arg, int argc, char *argv[],
            tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    static const struct {
        const char *word;
        tally_format_t format;
    } formats[] = {{"report", tally_format_t::report},
                   {"tsv", tally_format_t::tsv},
                   {"csv", tally_format_t::csv},
                   {"json", tally_format_t::json}};
    for (const auto &f : formats) {
        if (std::strcmp(argv[*arg], f.word) == 0) {
            cli->run.layout.format = f.format;
            return true;
        }
    }
    return tally_fail(err, EX_USAGE,
                      std::string("Invalid --format: ") + argv[*arg] +
                          " (report, tsv, csv or json)\n");
}

bool long_rows(tally_cli_t *cli, int *, int, char *[], tally_error_t *)
{
    cli->run.layout.long_rows = true;
    return true;
}

// --digits N: significant digits, 1 to 17.
bool digits(tally_cli_t *cli, int *arg, int argc, char *argv[],
            tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    const char *text = argv[*arg];
    int n = 0;
    bool ok = *text != '\0' && std::strlen(text) <= 2;
    for (const char *c = text; ok && *c != '\0'; ++c) {
        ok = *c >= '0' && *c <= '9';
        n = n * 10 + (*c - '0');
    }
    if (!ok || n < 1 || n > 17)
        return tally_fail(err, EX_USAGE,
                          std::string("Invalid --digits: ") + text +
                              " (1 to 17)\n");
    cli->run.layout.digits = n;
    return true;
}

bool state_out(tally_cli_t *cli, int *arg, int argc, char *argv[],
               tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    cli->state_out = argv[*arg];
    return true;
}

bool merge(tally_cli_t *cli, int *, int, char *[], tally_error_t *)
{
    cli->merge = true;
    return true;
}

// --threads N: passes at once, 1 to 1024.
bool threads(tally_cli_t *cli, int *arg, int argc, char *argv[],
             tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    const char *text = argv[*arg];
    int n = 0;
    bool ok = *text != '\0' && std::strlen(text) <= 4;
    for (const char *c = text; ok && *c != '\0'; ++c) {
        ok = *c >= '0' && *c <= '9';
        n = n * 10 + (*c - '0');
    }
    if (!ok || n < 1 || n > 1024)
        return tally_fail(err, EX_USAGE,
                          std::string("Invalid --threads: ") + text +
                              " (1 to 1024)\n");
    cli->threads = n;
    return true;
}

// --memory SIZE: the memory of kept values, in bytes, or with a suffix K,
// M or G (times 1,024 each); at least 1 KiB, at most 2^60 bytes.
bool memory(tally_cli_t *cli, int *arg, int argc, char *argv[],
            tally_error_t *err)
{
    if (++*arg >= argc)
        return tally_fail_usage(err);
    const char *text = argv[*arg];
    uint64_t n = 0;
    const char *c = text;
    bool ok = *c >= '0' && *c <= '9';
    for (; ok && *c >= '0' && *c <= '9'; ++c) {
        ok = n <= (uint64_t{1} << 60) / 10;
        n = n * 10 + static_cast<uint64_t>(*c - '0');
    }
    int shift = 0;
    if (*c != '\0' && c[1] == '\0')
        shift = *c == 'K' ? 10 : *c == 'M' ? 20 : *c == 'G' ? 30 : -1;
    else if (*c != '\0')
        shift = -1;
    ok = ok && shift >= 0 && n <= (uint64_t{1} << (60 - shift));
    if (ok)
        n <<= shift;
    if (!ok || n < 1024)
        return tally_fail(err, EX_USAGE,
                          std::string("Invalid --memory: ") + text +
                              " (bytes, or with K, M or G; at least 1K)\n");
    cli->memory = n;
    return true;
}

} // namespace

const tally_option_t tally_options[] = {
    {"--delims", delims, "STRING"},
    {"--delim", delims, "STRING"}, // as the usage text spells it
    {"--by", by, "COLUMNS"},
    {"--help", help, nullptr},
    {"--version", version, nullptr},
    {"--verbose", verbose, nullptr},
    {"--header", header, nullptr},
    {"--csv", csv, nullptr},
    {"--skip-missing", skip_missing, nullptr},
    {"--quantile-type", quantile_type, "N"},
    {"--format", format, "FORMAT"},
    {"--long", long_rows, nullptr},
    {"--digits", digits, "N"},
    {"--state-out", state_out, "FILE"},
    {"--merge", merge, nullptr},
    {"--threads", threads, "N"},
    {"--memory", memory, "SIZE"},
};

const size_t tally_option_count = sizeof tally_options / sizeof tally_options[0];

const tally_option_t *tally_option_by_word(const char *word)
{
    for (const tally_option_t &o : tally_options)
        if (std::strcmp(word, o.word) == 0)
            return &o;
    return nullptr;
}
