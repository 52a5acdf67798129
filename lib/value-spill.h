// Kept values past the memory limit (--memory): a value-keeping record
// whose array would grow beyond its share of the limit writes the array
// out as a sorted run to a temporary file ($TMPDIR) and fills it again.  At
// report time the runs are merged into one sorted file, mapped read-only in
// place of the array and known to be sorted (tally_values_known_sorted), so
// that the order statistics read the few positions they need from it and
// every statistic is the one the values in memory give.  The functions
// whose results depend on the order the values came in (geometric and
// harmonic mean, skewness, kurtosis) and a part that writes its state
// (--state-out) keep their runs in input order, merged by concatenation.
#ifndef NUMTALLY_LIB_VALUE_SPILL_H
#define NUMTALLY_LIB_VALUE_SPILL_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "tally-error.h"
#include "tallyf.h"

// The memory kept values may take, in bytes, for the runs that start after
// the call (0: no limit, every value in memory).  shares: how many arrays
// fill at once (the value-keeping records, times the threads), each taking
// an equal part.
void tally_values_set_limit(uint64_t bytes);
uint64_t tally_values_limit();
void tally_values_set_shares(uint64_t shares);

// Half of the memory this process may use: the least of the cgroup's limit
// (memory.max), the machine's memory and the address space and data
// limits (RLIMIT_AS, RLIMIT_DATA) that are set.
uint64_t tally_values_default_limit();

// Runs keep input order (a part's state is written as its values came)
// rather than sorted order, for the runs that start after the call.
void tally_values_keep_input_order(bool keep);

// How many values an array may hold before it spills (at least 2; the
// largest uint64_t without a limit).
uint64_t tally_values_cap();

// Makes the record's values whole again after the pass: where some went to
// runs, nums becomes the mapping of them all (sorted, or in input order
// for the codes that need it; give back with tally_values_release_all, not
// xt_free) and spilled 0.  A run that could not be written or read back
// fails here (74), naming the cause.
bool tally_values_gather(tallyf_t *tf, tally_error_t *err);

// Gives back every mapping and temporary file of the runs made so far
// (the records that held them must not be read again).
void tally_values_release_all();

// The kept values of a grouped run's records, past the limit: runs of
// segments (a record's key, its values), keys ascending within a run,
// merged at report time into one file of values, key by key, each key's
// values run after run (so in the order they came).
class tally_keyed_runs_t {
public:
    tally_keyed_runs_t() = default;
    tally_keyed_runs_t(const tally_keyed_runs_t &) = delete;
    tally_keyed_runs_t &operator=(const tally_keyed_runs_t &) = delete;
    ~tally_keyed_runs_t();

    bool any() const { return !ends_.empty(); }

    // Adds a segment to the run being written (keys ascending); end_run
    // closes it.  A failure is kept for merge.
    void put(uint64_t key, const double *v, uint64_t n);
    void end_run();

    // Merges the runs; false (74, naming the cause) where a run could not
    // be made, written or read back.
    bool merge(tally_error_t *err);

    // The next n values of the merged file, key by key.
    bool next(double *out, uint64_t n, tally_error_t *err);

private:
    void write(const void *p, size_t bytes);

    FILE *file_ = nullptr;
    std::vector<uint64_t> ends_; // each run's end, in bytes
    uint64_t size_ = 0;          // bytes written
    int error_ = 0;
    bool unmade_ = false;
    FILE *merged_ = nullptr;
    uint64_t read_ = 0;          // bytes of merged_ read by next
};

#endif
