// The options of the tabular command line: one table of option words, each
// with what it does to the run.  main reads the arguments from left to
// right, tries this table first, then the function words (lib/functions.h).
#ifndef NUMTALLY_APP_OPTIONS_H
#define NUMTALLY_APP_OPTIONS_H

#include <cstddef>
#include <cstdint>

#include "tally-error.h"
#include "tallyf-list-run.h"

// What the command line asked for beyond the functions.
struct tally_cli_t {
    tally_run_options_t run;
    bool show_version = false;  // --version: print it and end, status 0
    bool show_help = false;     // --help: print the help and end, status 0
    int quantile_type = 6;      // --quantile-type N (tallyf_choose_quantile_type)
    bool delims_given = false;  // --delims stood on the line (--csv keeps it)
    // --state-out FILE: the part's state to FILE ("-": standard output)
    // instead of a report; --merge: the report of the state files named.
    const char *state_out = nullptr;
    bool merge = false;
    int threads = 0;            // --threads N (0: the processors it may use)
    uint64_t memory = 0;        // --memory SIZE, in bytes (0: the default,
                                // tally_values_default_limit)
};

struct tally_option_t {
    const char *word;
    // Applies the option standing at argv[*arg], consuming its value (leave
    // *arg on the last word used).  False ends the command line: with err
    // set for an error, or with err->status 0 after --version or
    // --help.
    bool (*apply)(tally_cli_t *cli, int *arg, int argc, char *argv[],
                  tally_error_t *err);
    const char *value;  // what its value is, for documentation; null: none
};

extern const tally_option_t tally_options[];
extern const size_t tally_option_count;

// The option of a word (whole word, case-sensitive), or null.
const tally_option_t *tally_option_by_word(const char *word);

#endif
