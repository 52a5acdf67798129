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

#endif
