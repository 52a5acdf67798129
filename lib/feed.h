// Feeding values to records: one feeder per kind of record (what it keeps,
// lib/functions.h), each with the exact-sum body inlined, in two builds: with
// the fused multiply-add for the error of a square and without it (Dekker's
// product).  Both give the same exact error, so sums never depend on the
// machine.  A pass chooses its feeders once, before its first value.
#ifndef NUMTALLY_LIB_FEED_H
#define NUMTALLY_LIB_FEED_H

#include "functions.h"
#include "tallyf.h"

// Adds one value to what the record keeps, as tallyf_process_val does for a
// record of that kind.  A value-keeping record must have an array.
using tally_feeder_t = void (*)(tallyf_t *tf, double x);

// The feeders of every kind, indexed by tally_feed_t, for the processor the
// program runs on (decided once).
const tally_feeder_t *tally_feeders();

// The feeder for records of this kind.
inline tally_feeder_t tally_feeder(tally_feed_t kind)
{
    return tally_feeders()[static_cast<int>(kind)];
}

// Feeds a two-column record (tally_feeds_pairs) the fields of one line: x
// and y point to the values of its first and second column, null where the
// line has no such field.  pairs takes a line only when both are there;
// samples takes each value into its own column's sample.  Counts in
// num_count the pairs (samples: the first column's values), and keeps the
// plain sums sum_x, sum_x_2, sum_y, sum_y_2 and (pairs) sum_x_y.
void tally_feed_pair(tallyf_t *tf, tally_feed_t kind, const double *x,
                     const double *y);

#endif
