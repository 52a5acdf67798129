// What the two sinks of the pass (the plain run's and the grouped run's)
// share: the feeding of a line's paired columns.
#ifndef NUMTALLY_LIB_SINK_H
#define NUMTALLY_LIB_SINK_H

#include "feed.h"
#include "pass.h"

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

#endif
