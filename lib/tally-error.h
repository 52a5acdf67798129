// An error handed back to the caller: what the run must print and the status
// it ends with.  Library code fills one and returns false; the program's main
// (or one of the list's entry points that must end the process) decides.
#ifndef NUMTALLY_LIB_TALLY_ERROR_H
#define NUMTALLY_LIB_TALLY_ERROR_H

#include <string>

struct tally_error_t {
    int status = 0;        // the exit status it calls for (sysexits.h)
    bool usage = false;    // show the usage text (after message, if any)
    std::string message;   // for standard error, newline included; may be
                           // empty when the usage text says it all
    bool in_quotes = false; // the input ended inside a quoted field
};

// Fills err and returns false: the one-line form of most errors.
bool tally_fail(tally_error_t *err, int status, std::string message);

// The message of a failed system call: "numtally: WHAT: strerror(ERR)\n",
// EIO's text when err is 0; status 74.
bool tally_fail_io(tally_error_t *err, const char *what, int errnum);

// Out of memory: "numtally: out of memory\n", status 71.  Library calls
// that return their errors turn the std::bad_alloc of any allocation (their
// own, or a container's growth) into this one.
bool tally_fail_nomem(tally_error_t *err);

// The usage text, with message before it; status 64.
bool tally_fail_usage(tally_error_t *err, std::string message = {});

// The text to print for err: its message, or, for an out-of-memory error
// whose message could not be stored, the usual one.
const char *tally_error_message(const tally_error_t &err);

#endif
