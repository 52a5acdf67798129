// A function's words on the command line, read into the next record of the
// list: what was asked (code, parameter, row or column).
#ifndef NUMTALLY_LIB_REQUEST_H
#define NUMTALLY_LIB_REQUEST_H

#include <string>

#include "tally-error.h"
#include "tallyf-list.h"

// Reads the function whose word (code) stands at argv[*arg]: its parameter
// as its descriptor says, then "--row"/"--col" and a number, into the next
// record, and leaves *arg on the number.  A code that no word has takes no
// parameter.  False, with the message and status 64 (or the usage text), on
// any argument error; the list then holds what it held.
bool tally_add_request(tallyf_list_t *list, tallyf_code_t code, int *arg,
                       int argc, char *argv[], tally_error_t *err);

// What the program's command line takes beyond one number after
// "--row"/"--col": lists and ranges ("2-5,7"), each item one more record
// of the same function, in list order; and with names_allowed, columns by
// name ("units,price"), whose records get column 0 and their name in
// names[record] (empty for the others) until the header line is read; a
// name longer than the field limit is refused (64).  The 64-record limit
// counts the records after expansion.
struct tally_request_extras_t {
    bool names_allowed;
    std::string *names; // per record of the list
    std::string *names2 = nullptr; // the second column of a pair, per record
};

bool tally_add_request(tallyf_list_t *list, tallyf_code_t code, int *arg,
                       int argc, char *argv[], tally_error_t *err,
                       const tally_request_extras_t &extras);

#endif
