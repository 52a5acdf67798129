// The program's usage text.
#ifndef NUMTALLY_APP_USAGE_H
#define NUMTALLY_APP_USAGE_H

// Writes the usage text to standard error, naming the program by argv[0]
// (or "numtally" when argv is empty), and exits with status 64.
[[noreturn]] void usage(char *argv[]);

// Writes the usage text as usage() does, and returns.  The list of
// functions comes from the function table (lib/functions.h).
void print_usage(char *argv[]);

// "--help": the usage text, then one line for each function and option it
// leaves out, on standard output.
void print_help(char *argv[]);

#endif
