// The kinds of state a record keeps, and so how each value is fed to it:
// one feeder per kind (lib/feed.h).  Each function's descriptor row
// (lib/functions.h) names its kind.
#ifndef NUMTALLY_LIB_FEED_KIND_H
#define NUMTALLY_LIB_FEED_KIND_H

#include <cstdint>

// What a record keeps beyond the exact sum of its values, and so how each
// value is fed to it (lib/feed.h has one feeder per kind).
enum class tally_feed_t : uint8_t {
    sum,            // the exact sum alone (mean, and every code not listed)
    squares,        // plus the sums of squares (the variance family)
    squares_listed, // plus every value in input order (z-score listings)
    squares_bounds, // plus the lowest and highest value (chi-sq-fit)
    bounds,         // the lowest and highest value (range)
    values,         // every value in memory (quantile, mode, ...)
    // Two columns of one line, fed by the pass at the line's end (pairs);
    // one value at a time they keep the exact sum alone.
    pairs,          // both fields present: a pair (covariance, ...)
    samples,        // each field present: a value of its own sample (welch-t)
};
inline constexpr int TALLY_FEED_KINDS = 8;

// True for the kinds the pass feeds at a line's end from two columns.
inline bool tally_feeds_pairs(tally_feed_t kind)
{
    return kind == tally_feed_t::pairs || kind == tally_feed_t::samples;
}

#endif
