// The distribution commands: one-shot computations from the command line.
#ifndef NUMTALLY_APP_DISTRIBUTION_H
#define NUMTALLY_APP_DISTRIBUTION_H

// Runs the distribution command that the argument count and first argument
// name, if there is one, and returns true; returns false, having done
// nothing, when no command has that shape.
bool run_distribution_command(int argc, char *argv[]);

#endif
