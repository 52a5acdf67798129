// The engine's exact sums of a record: the one concept behind every sum,
// mean and sum of squares the program prints, for single values and groups
// alike.  During a pass a record's sum_d + sum_d_lo is the exact sum of the
// values taken by the fast path (shift 0; the plain sums are made when the
// pass ends), or, for records that keep squares, the record's two-lane sums
// hold the values, their squares and the squares' rounding errors (see
// exact_squares in lib/feed.h), as they hold pairs for the two-column
// records; what the fast path cannot hold exactly (an addition
// that would round, a sum that would overflow, a value that is not finite)
// goes to the record's rest, a wide exact number made when first needed.
// So the state is exact, and two states merge exactly: a pass over parts
// of an input, merged, holds what one pass over the whole holds.
//
// When the pass ends, tally_settle writes the record's fields as the
// report reads them (lib/tally-state.h): the shift, the sums about it as
// double-double pairs (scaled where beyond the range of doubles) and the
// plain sums, each a function of the exact sums alone, so that the report
// of merged parts is the report of one pass, digit for digit.
// Internal to the library.
#ifndef NUMTALLY_LIB_EXACT_SUMS_H
#define NUMTALLY_LIB_EXACT_SUMS_H

#include "exact-wide.h"
#include "feed-kind.h"
#include "tally-state.h"

// The rests of the records of one run (a run makes one and keeps it until
// its report is printed); a record names its rest by its index, kept in
// the record's scaled_lo field while the pass runs (NaN: no rest).
class tally_rest_scope_t {
public:
    tally_rest_scope_t();
    ~tally_rest_scope_t();
    tally_rest_scope_t(const tally_rest_scope_t &) = delete;
    tally_rest_scope_t &operator=(const tally_rest_scope_t &) = delete;

private:
    void *outer_;
};

// Adds x to the record's rest (its square too when squares): the slow path
// of the exact sums.  Counts nothing.
// A run's records filled on a thread of their own keep their rests in that
// thread's scope: the thread takes them out of it when the records are done
// (by record, in order), and the thread that goes on with the records (the
// merge, the report) gives them to its own.  Records without a rest are
// left as they are.
class tally_rests_held_t {
public:
    tally_rests_held_t();
    ~tally_rests_held_t();
    tally_rests_held_t(const tally_rests_held_t &) = delete;
    tally_rests_held_t &operator=(const tally_rests_held_t &) = delete;
    // Takes the state's rest, if any, out of this thread's scope.
    void take(const tally_state_t *s);
    // Gives the rests, in the order taken, to this thread's scope and to
    // the same states (the same states, in the same order).
    void give(tally_state_t *s);

private:
    void *held_;
    size_t next_ = 0;
};

[[gnu::noinline, gnu::cold]] void tally_rest_add(tally_state_t *tf, double x,
                                                 bool squares);

// The same for a pair of one line of a two-column record, and for one
// value of a two-sample record's lane (0: the first column, 1: the second).
// Count nothing.
[[gnu::noinline, gnu::cold]] void tally_rest_pair(tally_state_t *tf, double x,
                                                  double y);
[[gnu::noinline, gnu::cold]] void tally_rest_sample(tally_state_t *tf, int lane,
                                                    double x);

// Empties what the record has collected (counts, sums, bounds, kept values,
// its file), keeping what was asked of it (code, row, columns, partitions,
// parameters): a record as a pass starts it.  Gives nothing back: the
// values and the file, if any, are the caller's.
void tally_clear_collected(tally_state_t *tf);

// Swaps the two samples of a welch-t record (its lanes), before it is
// settled: the merge of a later part whose samples stand the other way
// round (welch-t --split, lib/split-keys.h).
void tally_swap_samples(tally_state_t *s);

// True for the kinds whose records keep the sums of squares.
bool tally_kind_squares(tally_feed_t kind);

// After the pass: the record's fields as the report reads them, from its
// exact sums (of a two-column record, its shifted sums tf->pairs, before
// tally_finish_pairs).  Once per record.
void tally_settle(tally_state_t *tf, tally_feed_t kind);

// Appends from's kept values (its runs, then its array) to into's, before
// from's count is added to into's; past the memory limit into spills
// (lib/value-spill.cpp).
void tally_values_append(tally_state_t *into, tally_state_t *from);

// Adds what from holds to into, both of the same request and kind, before
// either is settled: counts, exact sums, bounds, kept values (from's after
// into's) and listed values (from's file appended to into's).  False (74)
// when a listing file cannot be copied.
bool tally_merge_record(tally_state_t *into, tally_state_t *from, tally_feed_t kind);

// A record's rest as plain data, for a part's state kept in a file
// (lib/state-file.h): the wide sums s, q, px[0], px[1], pq[0], pq[1], pxy,
// the lanes' flags, where the first NaN, +inf and -inf came (the record's
// count before them; all ones: none) and the NaN.
struct tally_rest_data_t {
    exact_wide_t wide[7];
    bool lane_nan[2], lane_pos[2], lane_neg[2];
    uint64_t first_nan, first_pos, first_neg;
    double nan_value;
};
// The record's rest; false when it has none.
bool tally_rest_get(const tally_state_t *tf, tally_rest_data_t *d);
// Gives the record (without a rest) one holding d, in the run's rests.
void tally_rest_set(tally_state_t *tf, const tally_rest_data_t &d);

#endif
