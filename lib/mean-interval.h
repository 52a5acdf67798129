// The mean's interval of the sample blocks, mean - 2 SE to mean + 2 SE,
// each bound the exact mean plus or minus twice the standard error taken
// unrounded, then rounded once.
#ifndef NUMTALLY_LIB_MEAN_INTERVAL_H
#define NUMTALLY_LIB_MEAN_INTERVAL_H

#include "tallyf.h"

// se is the standard error as the block prints it; where the record has no
// usable exact sums, the bounds are those of tallyf_mean_interval with
// se + se.
void tally_mean_interval_2se(const tallyf_t *tf, double se, double *low,
                             double *high);

#endif
