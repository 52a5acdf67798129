// What the two sinks of the pass (the plain run's and the grouped run's)
// share: the feeding of a line's paired columns.
#ifndef NUMTALLY_LIB_SINK_H
#define NUMTALLY_LIB_SINK_H

#include "feed.h"
#include "pass.h"
#include "split-keys.h"
#include "tallyf.h"

// Feeds a two-column record of the given kind the values of its columns
// among a line's staged values (pass.h).
template <bool Fma>
[[gnu::always_inline]] inline void
tally_feed_line_pair(tallyf_t *tf, tally_feed_t kind,
                     const tally_staged_t *staged, int n)
{
    const double *x = nullptr, *y = nullptr;
    for (int k = 0; k < n; ++k) {
        if (staged[k].col->number == tf->col)
            x = &staged[k].value;
        if (staged[k].col->number == tf->col2)
            y = &staged[k].value;
    }
    if (x != nullptr || y != nullptr)
        tally_feed_pair<Fma>(tf, kind, x, y);
}

// Feeds a welch-t --split record the value of its column among a line's
// staged values, into the sample the line's key in slot names (keys, the
// run's keys of the record); a third or later key feeds nothing.  False
// where the line has the value but no key field.
template <bool Fma>
[[gnu::always_inline]] inline bool
tally_feed_line_split(tallyf_t *tf, tally_split_keys_t *keys, int slot,
                      const tally_staged_t *staged, int n,
                      const tally_line_key_t &key)
{
    for (int k = 0; k < n; ++k) {
        if (staged[k].col->number != tf->col)
            continue;
        if ((key.filled >> slot & 1) == 0)
            return false;
        const int lane = keys->lane(key.bytes + key.start[slot],
                                    key.end[slot] - key.start[slot]);
        if (lane < 2)
            tally_feed_body::exact_sample<Fma>(tf, lane, staged[k].value);
        return true;
    }
    return true;
}

#endif
