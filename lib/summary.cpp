// The summary block.
#include "summary.h"

#include <cmath>

#include "double-double.h"
#include "order-points.h"
#include "shifted-sums.h"

tallyf_summary_t tallyf_summary(double *v, uint64_t n)
{
    tallyf_sums1_t sums;
    tallyf_sums1_init(&sums);
    for (uint64_t i = 0; i < n; ++i)
        tallyf_sums1_add(&sums, v[i]);
    const tallyf_centred_t c = tallyf_sums1_centred(&sums);
    tallyf_summary_t s;
    s.count = n;
    s.mean = c.mean;
    s.sd = dd_round(dd_sqrt(dd_div({c.ss, c.ss_lo},
                                   dd(static_cast<double>(n) - 1))));
    const double quarters[] = {0.25, 0.5, 0.75};
    tallyf_points_t pts;
    tallyf_select_points(v, n, quarters, 3, &pts);
    s.min = tallyf_point_at(&pts, 0);
    s.q1 = tallyf_point_at(&pts, 0.25);
    s.median = tallyf_point_at(&pts, 0.5);
    s.q3 = tallyf_point_at(&pts, 0.75);
    s.max = tallyf_point_at(&pts, 1);
    return s;
}
