// The spread of the population and sample blocks, each figure rounded once
// from the exact sums; and the mean's interval of the sample blocks,
// mean - 2 SE to mean + 2 SE, each bound the exact mean plus or minus twice
// the standard error taken unrounded, then rounded once.
#ifndef NUMTALLY_LIB_MEAN_INTERVAL_H
#define NUMTALLY_LIB_MEAN_INTERVAL_H

struct tallyf_t;

// The variance ss / divisor, the SD (its square root) and the standard
// error sqrt(ss / (divisor n)), ss the sum of squared deviations and n the
// count, each from the exact sums to about 80 bits and then rounded once.
// False, with nothing written, where the record has no usable exact sums;
// a figure that would leave the normal range of doubles is NaN (the
// caller's own stands).
struct tally_spread_t {
    double var, sd, se;
};
bool tally_spread(const tallyf_t *tf, double divisor, tally_spread_t *out);

// se is the standard error as the block prints it; where the record has no
// usable exact sums, the bounds are those of tallyf_mean_interval with
// se + se.
void tally_mean_interval_2se(const tallyf_t *tf, double se, double *low,
                             double *high);

#endif
