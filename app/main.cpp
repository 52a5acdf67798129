// numtally: statistics over delimited numbers on standard input, or one-shot
// normal and Student t computations from the command line.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

#include "distribution.h"
#include "functions.h"
#include "header.h"
#include "input.h"
#include "options.h"
#include "order-points.h"
#include "request.h"
#include "suggest.h"
#include "tallyf-list-run.h"
#include "usage.h"
#include "xt-dsv.h"
#include "xt.h"

namespace {

// A closed standard stream would hand its descriptor to the first file the
// run opens, and the report would land in a temporary file.  Hold each closed
// one with /dev/null opened the wrong way round, so that using it fails.
void hold_closed_std_streams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd)
                std::_Exit(EX_OSERR);
        }
    }
}

// The report is only a success once it has reached standard output: the
// status, or 74 when the output could not be written.
int finish_output(int status)
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "numtally: write error: %s\n",
                     std::strerror(errno != 0 ? errno : EIO));
        return EX_IOERR;
    }
    return status;
}

// "--version": the program's name and version on standard output, status 0.
int show_version()
{
    std::printf("numtally %s\n", NUMTALLY_VERSION);
    return finish_output(0);
}

// An error's message, and the usage text when it calls for it; its status.
// Output the run had already written is still flushed, its errors ignored:
// the error's own status stands.
int end_with(int status)
{
    std::fflush(stdout);
    return status;
}

int report_error(const tally_error_t &err, char *argv[])
{
    std::fputs(tally_error_message(err), stderr);
    if (err.usage)
        print_usage(argv);
    return end_with(err.status);
}

// "--help": the help on standard output, status 0.
int show_help(char *argv[])
{
    print_help(argv);
    return finish_output(0);
}

// Whether --help stands on the line as a word of its own (not as the value
// of an option that takes one).
bool help_asked(int argc, char *argv[])
{
    for (int arg = 1; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "--help") == 0)
            return true;
        const tally_option_t *o = tally_option_by_word(argv[arg]);
        if (o != nullptr && o->value != nullptr)
            ++arg;
    }
    return false;
}

// A word that names a file (or "-", standard input).
bool names_file(const char *word)
{
    struct stat st;
    return std::strcmp(word, "-") == 0 ||
           (stat(word, &st) == 0 && !S_ISDIR(st.st_mode));
}

// The line that names a word that is neither an option nor a function,
// standing where one of them was expected.
std::string unknown_word(int arg, int argc, char *argv[])
{
    const char *word = argv[arg];
    // The one-shot computations' words, with operands that did not fit
    // them: the usage text shows their forms.
    for (const char *w : {"z-table", "z-score", "normal-cdf", "t-score", "t-cdf", "t-table"})
        if (std::strcmp(word, w) == 0)
            return {};
    if (std::strcmp(word, "--row") == 0 || std::strcmp(word, "--col") == 0)
        return std::string("numtally: '") + word +
               (arg + 1 < argc ? std::string(" ") + argv[arg + 1] : "") +
               "' comes before any function\n";
    if (names_file(word))
        return std::string("numtally: '") + word +
               "' is a file: give it as input, or as a file operand\n";
    std::string m = word[0] == '-' && word[1] != '\0' ? "numtally: unknown option '"
                                                      : "numtally: unknown function '";
    m += word;
    m += '\'';
    const std::string meant = tally_suggest(word);
    if (!meant.empty())
        m += " (did you mean '" + meant + "'?)";
    return m + "\n";
}

// "percentile 0.9" asks for the 0.9th percentile, which is what it gets;
// one line per such word says so and names the one likely meant.
std::string percentile_notes(const tallyf_list_t &list)
{
    std::string notes;
    std::vector<std::string> said;
    for (int i = 0; i < list.count; ++i) {
        const tallyf_t &tf = list.functions[i];
        if (tf.code != TALLYF_PERCENTILE || tf.percentiles == nullptr)
            continue;
        const std::string text = tf.percentiles;
        size_t from = 0;
        for (;;) {
            const size_t comma = text.find(',', from);
            const std::string item = text.substr(
                from, comma == std::string::npos ? std::string::npos
                                                 : comma - from);
            const double p = std::strtod(item.c_str(), nullptr);
            if (p > 0 && p < 1 &&
                std::find(said.begin(), said.end(), item) == said.end()) {
                said.push_back(item);
                char meant[64];
                std::snprintf(meant, sizeof meant, "%.15g", p * 100);
                const double whole = p * 100;
                const long w = static_cast<long>(whole);
                const char *suffix = "th";
                if (whole == static_cast<double>(w) && w % 100 / 10 != 1)
                    suffix = w % 10 == 1 ? "st" : w % 10 == 2 ? "nd"
                           : w % 10 == 3 ? "rd" : "th";
                notes += "numtally: percentile " + item + " is the " + item +
                         "th percentile; the " + meant + suffix +
                         " is percentile " + meant + "\n";
            }
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
    }
    return notes;
}

// What the options mean together, once the whole line is read.
bool finish_options(tally_cli_t *cli, const tallyf_list_t &list,
                    tally_col_names_t &names, tally_error_t *err)
{
    if (cli->run.quotes && !cli->delims_given)
        cli->run.delims = ",";
    for (int i = 0; i < list.count; ++i) {
        for (const std::string *name : {&names.name[i], &names.name2[i]}) {
            if (name->empty())
                continue;
            if (!cli->run.header)
                // "--header" stood on the line only as another word's value.
                return tally_fail(err, EX_USAGE,
                                  "Invalid row/col: " + *name +
                                      " (a column name needs --header)\n");
            cli->run.names = &names;
        }
        if (!names.name2[i].empty() || (list.functions[i].col2 != 0 &&
                                        !names.name[i].empty())) {
            const tallyf_t &tf = list.functions[i];
            names.pair_label[i] =
                (names.name[i].empty() ? std::to_string(tf.col) : names.name[i]) +
                (tf.split ? " by " : ",") +
                (names.name2[i].empty() ? std::to_string(tf.col2) : names.name2[i]);
        }
    }
    if (cli->run.layout.long_rows &&
        cli->run.layout.format == tally_format_t::report)
        return tally_fail(err, EX_USAGE,
                          "--long: needs --format tsv, csv or json\n");
    return true;
}

// The tabular command line: options and function words strictly from left
// to right, then one pass over standard input.
int run_tabular(int argc, char *argv[], std::vector<const char *> *files)
{
    static tallyf_list_t list;
    tallyf_list_init(&list);
    static tally_cli_t cli;
    cli = tally_cli_t{};
    tally_error_t err;
    // Columns by name need --header, which may stand anywhere: without the
    // word on the line a name is refused where it stands, as ever.
    static tally_col_names_t names;
    // Each record's function as given, with its parameter: the record
    // layouts name it so.
    static std::string words[TALLYF_LIST_MAX];
    cli.run.layout.words = words;
    tally_request_extras_t extras{false, names.name, names.name2};
    for (int arg = 1; arg < argc; ++arg)
        extras.names_allowed |= std::strcmp(argv[arg], "--header") == 0;
    for (int arg = 1; arg < argc; ++arg) {
        const char *word = argv[arg];
        const tally_option_t *o = tally_option_by_word(word);
        const tally_function_t *f =
            o == nullptr ? tally_function_by_word(word) : nullptr;
        if (!files->empty() && (o != nullptr || f != nullptr)) {
            // The file operands come last.
            tally_fail_usage(&err, std::string("numtally: '") + files->back() +
                                       "' is a file: give it as input, or as "
                                       "a file operand\n");
            return report_error(err, argv);
        }
        if (o != nullptr) {
            if (!o->apply(&cli, &arg, argc, argv, &err)) {
                if (cli.show_version)
                    return show_version();
                return report_error(err, argv);
            }
        } else if (f != nullptr) {
            const int first = list.count;
            const bool param = f->param != tally_param_t::none &&
                               f->param != tally_param_t::two_columns &&
                               arg + 1 < argc &&
                               (f->param != tally_param_t::optional_bins ||
                                (std::strcmp(argv[arg + 1], "--row") != 0 &&
                                 std::strcmp(argv[arg + 1], "--col") != 0));
            const std::string given =
                param ? std::string(word) + " " + argv[arg + 1] : word;
            if (!tally_add_request(&list, f->code, &arg, argc, argv, &err,
                                   extras))
                return report_error(err, argv);
            for (int k = first; k < list.count; ++k)
                words[k] = given;
        } else if (list.count != 0 &&
                   (!files->empty() || names_file(word) ||
                    (tally_suggest(word).empty() && word[0] != '-'))) {
            // After the functions: the files to read, in order.
            files->push_back(word);
        } else {
            tally_fail_usage(&err, unknown_word(arg, argc, argv));
            return report_error(err, argv);
        }
    }

    if (!finish_options(&cli, list, names, &err))
        return report_error(err, argv);
    tallyf_choose_quantile_type(cli.quantile_type);
    tally_input_t *input = tally_input_open(*files, cli.run.header);
    xt_dsv_set_source(stdin, tally_input_source(input));

    // Bigger reads than the default buffer: the pass is one long scan.
    static char input_buffer[1 << 17];
    std::setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
    std::string notes;
    const bool ran = tally_run(&list, stdin, cli.run, &err, &notes);
    tally_input_finish(input);
    if (!ran) {
        if (!tally_input_failed(input, &err) && !files->empty())
            tally_input_name_rows(input, &err);
        return report_error(err, argv);
    }
    notes += percentile_notes(list);
    // The notes follow the report, also where both go to one place.
    const int status = finish_output(0);
    if (status == 0)
        std::fputs(notes.c_str(), stderr);
    return status;
}

} // namespace

// Out of memory outside the calls that return it as their error (reading
// the command line, the one-shot computations): the same message and status.
int out_of_memory()
{
    std::fputs(XT_NOMEM_MESSAGE, stderr);
    return end_with(XT_EXIT_NOMEM);
}

int run(int argc, char *argv[])
{
    int status = 0;
    if (run_distribution_command(argc, argv, &status))
        return status == 0 ? finish_output(0) : end_with(status);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return show_version();
    if (help_asked(argc, argv))
        return show_help(argv);
    if (argc < 4) {
        // Too short for any run: name a word that is no option or function.
        for (int arg = 1; arg < argc; ++arg) {
            const tally_option_t *o = tally_option_by_word(argv[arg]);
            if (o != nullptr) {
                arg += o->value != nullptr;
                continue;
            }
            if (tally_function_by_word(argv[arg]) == nullptr) {
                std::fputs(unknown_word(arg, argc, argv).c_str(), stderr);
                break;
            }
            break;
        }
        print_usage(argv);
        return end_with(EX_USAGE);
    }
    // Static, and so emptied here: a caller may run the program again in
    // one process (the fuzz targets do).
    static std::vector<const char *> files;
    files.clear();
    return run_tabular(argc, argv, &files);
}

// Every path returns its status here; nothing below main ends the process.
int main(int argc, char *argv[])
{
    hold_closed_std_streams();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        return out_of_memory();
    }
}
