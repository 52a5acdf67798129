// numtally: statistics over delimited numbers on standard input, or one-shot
// normal and Student t computations from the command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sysexits.h>
#include <unistd.h>

#include "distribution.h"
#include "functions.h"
#include "header.h"
#include "options.h"
#include "request.h"
#include "tallyf-list-run.h"
#include "usage.h"
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

// What the options mean together, once the whole line is read.
bool finish_options(tally_cli_t *cli, const tallyf_list_t &list,
                    const tally_col_names_t &names, tally_error_t *err)
{
    if (cli->run.quotes && !cli->delims_given)
        cli->run.delims = ",";
    for (int i = 0; i < list.count; ++i) {
        if (names.name[i].empty())
            continue;
        if (!cli->run.header)
            // "--header" stood on the line only as another word's value.
            return tally_fail(err, EX_USAGE,
                              "Invalid row/col: " + names.name[i] + "\n");
        cli->run.names = &names;
    }
    if (cli->run.layout.long_rows &&
        cli->run.layout.format == tally_format_t::report)
        return tally_fail(err, EX_USAGE,
                          "--long: needs --format tsv, csv or json\n");
    return true;
}

// The tabular command line: options and function words strictly from left
// to right, then one pass over standard input.
int run_tabular(int argc, char *argv[])
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
    tally_request_extras_t extras{false, names.name};
    for (int arg = 1; arg < argc; ++arg)
        extras.names_allowed |= std::strcmp(argv[arg], "--header") == 0;
    for (int arg = 1; arg < argc; ++arg) {
        const char *word = argv[arg];
        if (const tally_option_t *o = tally_option_by_word(word)) {
            if (!o->apply(&cli, &arg, argc, argv, &err)) {
                if (cli.show_version)
                    return show_version();
                return report_error(err, argv);
            }
        } else if (const tally_function_t *f = tally_function_by_word(word)) {
            const int first = list.count;
            const bool param = f->param != tally_param_t::none &&
                               f->param != tally_param_t::two_columns &&
                               arg + 1 < argc;
            const std::string given =
                param ? std::string(word) + " " + argv[arg + 1] : word;
            if (!tally_add_request(&list, f->code, &arg, argc, argv, &err,
                                   extras))
                return report_error(err, argv);
            for (int k = first; k < list.count; ++k)
                words[k] = given;
        } else {
            tally_fail_usage(&err);
            return report_error(err, argv);
        }
    }

    if (!finish_options(&cli, list, names, &err))
        return report_error(err, argv);

    // Bigger reads than the default buffer: the pass is one long scan.
    static char input_buffer[1 << 17];
    std::setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
    std::string notes;
    if (!tally_run(&list, stdin, cli.run, &err, &notes))
        return report_error(err, argv);
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
    if (argc < 4) {
        print_usage(argv);
        return end_with(EX_USAGE);
    }
    return run_tabular(argc, argv);
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
