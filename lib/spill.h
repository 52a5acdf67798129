// The values of every z-score listing of a grouped run, in one temporary
// file for the whole run: (state, value) records in input order, written as
// the pass feeds them and read back at report time a window of states at a
// time, each state's values scattered by the counts into memory.
#ifndef NUMTALLY_LIB_SPILL_H
#define NUMTALLY_LIB_SPILL_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "report.h"
#include "tally-error.h"

class tally_spill_t {
public:
    // Makes the file now, so that a run that cannot keep its values says
    // so before reading input (74).
    bool open(tally_error_t *err);

    // Appends one value of a state.  Errors are found by finish().
    void put(uint64_t state, double x)
    {
        const record_t r{state, x};
#if defined(__GLIBC__)
        fwrite_unlocked(&r, sizeof r, 1, file_);
#else
        std::fwrite(&r, sizeof r, 1, file_);
#endif
    }

    // Calls each(state, value) for every record put so far, in the order
    // put (a later part's listings, merged into an earlier part's file).
    // False when the file cannot be read back (74).
    template <class Each>
    bool replay(Each each, tally_error_t *err)
    {
        if (file_ == nullptr)
            return true;
        if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)
            return replay_failed(err);
        record_t r;
        while (std::fread(&r, sizeof r, 1, file_) == 1)
            each(r.state, r.value);
        return !std::ferror(file_) || replay_failed(err);
    }

    // Checks that the file holds all the records put, count in all (74).
    bool finish(uint64_t count, tally_error_t *err);

    // Reads the values of the states first to last - 1 into memory; counts
    // has each one's number of values (0 for states that list nothing).
    bool load(uint64_t first, uint64_t last, const uint64_t *counts,
              tally_error_t *err);

    // The values of a state of the loaded window, in input order.
    tally_listing_t values_of(uint64_t state) const
    {
        const uint64_t k = state - first_;
        return {values_.data() + start_[k], start_[k + 1] - start_[k]};
    }

private:
    bool replay_failed(tally_error_t *err);

    struct record_t {
        uint64_t state;
        double value;
    };
    FILE *file_ = nullptr;
    std::vector<double> values_;
    std::vector<uint64_t> start_;   // per state of the window, and the end
    uint64_t first_ = 0;
};

#endif
