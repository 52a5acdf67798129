// numtally: statistics over delimited numbers on standard input, or one-shot
// normal and Student t computations from the command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sysexits.h>
#include <unistd.h>

#include "distribution.h"
#include "tallyf-list.h"
#include "usage.h"

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

// The report is only a success once it has reached standard output.
void finish_output()
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "numtally: write error: %s\n",
                     std::strerror(errno != 0 ? errno : EIO));
        std::exit(EX_IOERR);
    }
}

// "--version": the program's name and version on standard output, status 0.
[[noreturn]] void show_version()
{
    std::printf("numtally %s\n", NUMTALLY_VERSION);
    finish_output();
    std::exit(0);
}

// The tabular command line: options and function words strictly from left
// to right, then one pass over standard input.
int run_tabular(int argc, char *argv[])
{
    static tallyf_list_t list;
    tallyf_list_init(&list);

    static const struct {
        const char *word;
        tallyf_code_t code;
    } functions[] = {
        {"quantile", TALLYF_QUANTILE},
        {"median", TALLYF_MEDIAN},
        {"quartile", TALLYF_QUARTILE},
        {"mean", TALLYF_MEAN},
        {"pop-var", TALLYF_POP_VAR},
        {"sample-var", TALLYF_SAMPLE_VAR},
        {"pop-SD", TALLYF_POP_SD},
        {"pop-z-scores", TALLYF_POP_Z_SCORES},
        {"sample-SD", TALLYF_SAMPLE_SD},
        {"sample-SE", TALLYF_SAMPLE_SE},
        {"sample-z-scores", TALLYF_SAMPLE_Z_SCORES},
        {"sample-t-score", TALLYF_SAMPLE_T_SCORE},
        {"mode", TALLYF_MODE},
        {"range", TALLYF_RANGE},
        {"iq-range", TALLYF_IQ_RANGE},
        {"box-plot", TALLYF_BOX_PLOT},
        {"chi-sq-fit", TALLYF_CHI_SQ_FIT},
        {"chi-sq-ind", TALLYF_CHI_SQ_IND},
    };

    const char *delims = " \t";
    int verbose = 0;
    for (int arg = 1; arg < argc; ++arg) {
        const char *word = argv[arg];
        if (std::strcmp(word, "--delims") == 0) {
            if (++arg >= argc)
                usage(argv);
            delims = argv[arg];
        } else if (std::strcmp(word, "--help") == 0) {
            usage(argv);
        } else if (std::strcmp(word, "--version") == 0) {
            show_version();
        } else if (std::strcmp(word, "--verbose") == 0) {
            verbose = 1;
        } else {
            bool known = false;
            for (const auto &f : functions) {
                if (std::strcmp(word, f.word) == 0) {
                    tallyf_list_add_func(&list, f.code, &arg, argc, argv);
                    known = true;
                    break;
                }
            }
            if (!known)
                usage(argv);
        }
    }

    // Bigger reads than the default buffer: the pass is one long scan.
    static char input_buffer[1 << 17];
    std::setvbuf(stdin, input_buffer, _IOFBF, sizeof input_buffer);
    return tallyf_list_process_stream(&list, stdin, delims,
                                      verbose ? TALLYF_LIST_VERBOSE : 0);
}

} // namespace

int main(int argc, char *argv[])
{
    hold_closed_std_streams();
    int status = 0;
    if (!run_distribution_command(argc, argv, &status)) {
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
            show_version();
        if (argc < 4)
            usage(argv);
        status = run_tabular(argc, argv);
    }
    finish_output();
    return status;
}
