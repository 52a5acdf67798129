// The engine's state of one record: what a pass collects for it (counts,
// plain and exact sums, bounds, kept values, its listing's file), apart
// from what was asked of it.  The feeders, the exact sums and their merge
// and settle (lib/feed.h, lib/exact-sums.h) work on this state alone; the
// installed record (tallyf_t, lib/tallyf.h) is the request around it, so
// its fields keep their names for the library's callers.
#ifndef NUMTALLY_LIB_TALLY_STATE_H
#define NUMTALLY_LIB_TALLY_STATE_H

#include <cstdint>
#include <cstdio>

#include "shifted-sums.h"

struct tally_state_t {
    double sum;             // every value fed
    double *nums;           // value-keeping codes (tallyf_keeps_values): the
                            // values, sorted at report time; give back with
                            // xt_free (xt.h)
    uint64_t num_count;     // values fed
    uint64_t array_size;    // capacity of nums, in values
    double sum_x;           // codes 5 to 12 and 16: sum of the values
    double sum_x_2;         // codes 5 to 12 and 16: sum of their squares
    double sum_y;           // two-column functions: sums of the second
    double sum_y_2;         //   column's values, their squares and the
    double sum_x_y;         //   products of the pairs, rounded from pairs
                            //   when the pass ends (as are their sum,
                            //   sum_x, sum_x_2 and num_count)
    FILE *tmp_file;         // z-scores: every value, as 8 raw bytes, in order

    // Exact sums, beside the plain ones above: every value x enters as its
    // deviation d = x - shift from the record's first value, summed without
    // losing a rounding error (each sum is the unevaluated pair hi + lo).
    // They count only while shift_count equals num_count; a record whose
    // sums were set by hand (shift_count 0) computes from the plain sums.
    double shift;           // the first value fed
    uint64_t shift_count;   // values that entered the sums below
    double sum_d;           // every value: sum of d, high part
    double sum_d_lo;        //   and its rounding errors
    double sum_d_2;         // codes 5 to 12: sum of d * d, high part
    double sum_d_2_lo;      //   and its rounding errors
    double low;             // range, chi-sq-fit: the first value in sorted
    double high;            // order and the last (NaN before any value and
                            // once a NaN was fed)
    double scaled_lo;       // NaN while the exact sums hold their values as
                            // they are.  Once a sum would have overflowed
                            // they are scaled, sum_d and sum_d_lo by 2^-66,
                            // sum_d_2 and sum_d_2_lo by 2^-1120; the low
                            // part of the last sum the code keeps (sum_d_2_lo,
                            // sum_d_lo without squares) then lives here, and
                            // a NaN in its own field sends every value past
                            // the fast path.

    // The sums of both columns of a two-column record (x the first, y the
    // second; as pairs of one line, or as two samples for welch-t).  A
    // record that keeps squares holds pairs at 0 once the pass ends, but
    // where its sum of squared deviations is too small for its digits to
    // survive in doubles (below 2^-600): then lane 0 holds the sums d,
    // d_lo times 2^-e and d2, d2_lo times 2^-2e, with e in e2[0].
    tallyf_sums2_t pairs;

    // Value-keeping codes past the memory limit (lib/value-spill.h): how
    // many of the num_count values went out to sorted runs in a temporary
    // file (nums holds those after them), and those runs; 0 and null for a
    // record that keeps every value in nums.
    uint64_t spilled;
    struct tally_value_runs_t *runs;
};

#endif
