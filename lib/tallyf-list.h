// The function list of a tabular run: built from the command line, it drives
// the single pass over the input and prints the report.
#ifndef NUMTALLY_LIB_TALLYF_LIST_H
#define NUMTALLY_LIB_TALLYF_LIST_H

#include <cstdint>
#include <cstdio>

#include "tallyf.h"

inline constexpr int TALLYF_LIST_MAX = 64;

// Flags of tallyf_list_process_stream.
inline constexpr int32_t TALLYF_LIST_VERBOSE = 1; // echo every field read

struct tallyf_list_t {
    int32_t count;                        // records in use, 0 to 64
    tallyf_t functions[TALLYF_LIST_MAX];  // in command-line order
};

// Empties the list and initialises all 64 records (each gets its temporary
// file stream; only z-score records make a file, when the pass starts).
void tallyf_list_init(tallyf_list_t *list);

// Appends the function whose word stands at argv[*arg], consuming its
// parameter (quantile, sample-t-score), "--row"/"--col" and number; leaves
// *arg on the number.  Returns 0; any argument error ends the process (64).
int tallyf_list_add_func(tallyf_list_t *list, tallyf_code_t code, int *arg,
                         int argc, char *argv[]);

// Reads stream once, feeding each selected field to its records, then prints
// every record's report in list order.  Returns 0.  A selected field that is
// not a number ends the process (65); a failed read or temporary file, 74.
int tallyf_list_process_stream(tallyf_list_t *list, FILE *stream,
                               const char *delims, int32_t flags);

// Supplied by the program: prints the usage text and exits with status 64.
[[noreturn]] void usage(char *argv[]);

#endif
