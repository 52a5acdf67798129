// A function's words on the command line, read into the next record of the
// list: what was asked (code, parameter, row or column).
#ifndef NUMTALLY_LIB_REQUEST_H
#define NUMTALLY_LIB_REQUEST_H

#include "tally-error.h"
#include "tallyf-list.h"

// Reads the function whose word (code) stands at argv[*arg]: its parameter
// as its descriptor says, then "--row"/"--col" and a number, into the next
// record, and leaves *arg on the number.  A code that no word has takes no
// parameter.  False, with the message and status 64 (or the usage text), on
// any argument error; the list then holds what it held.
bool tally_add_request(tallyf_list_t *list, tallyf_code_t code, int *arg,
                       int argc, char *argv[], tally_error_t *err);

#endif
