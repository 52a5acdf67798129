// The distribution commands: one-shot normal and Student t computations from
// the command line.  Each writes its results to standard output and returns
// 0, or, for an operand it refuses, says which on standard error, writes
// nothing to standard output and returns 64; none reads standard input.
#ifndef NUMTALLY_APP_DISTRIBUTION_H
#define NUMTALLY_APP_DISTRIBUTION_H

// Runs the distribution command that the argument count and first argument
// name, if there is one, stores its status in *status and returns true;
// returns false, having done nothing, when no command has that shape.
bool run_distribution_command(int argc, char *argv[], int *status);

// Prints the standard normal table: a header of offsets 0.00 to 0.09, then
// rows -3.0 to 3.0, each probability below the row value moved away from
// zero by the column's offset.
int print_z_table(void);

// normal-cdf x (argc 3: a refused x gives a message and the usage text,
// status 64) or normal-cdf x mean SD (argc 5; SD not below 0): the
// probability below x and its complement.
int cmd_normal_cdf(int argc, char *argv[]);

// z-score x mean SD (argc 5), or z-score x mean SSD n (argc 6) for a sample
// mean, with SSD / sqrt(n) as the SD: the z-score, then P(x) and 1 - P on
// that normal curve.  SD and SSD not below 0; n from 1 to 4294967295.
int cmd_z_score(int argc, char *argv[]);

// t-score x-bar expected-mean SD n: the t-score with n - 1 degrees of
// freedom, then its Student t probability and 1 - P.  SD not below 0; n
// from 1 to 4294967295.
int cmd_t_score(int argc, char *argv[]);

// t-cdf t n: the Student t probability below t for a sample of n (1 to
// 4294967295), and 1 - P.
int cmd_t_cdf(int argc, char *argv[]);

// t-table: announces on standard error that it is not implemented.
int cmd_t_table(int argc, char *argv[]);

#endif
