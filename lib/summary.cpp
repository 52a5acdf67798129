// The summary block.
#include "summary.h"

#include <cmath>

#include "double-double.h"
#include "order-points.h"
#include "shifted-sums.h"

tallyf_summary_t tallyf_summary(double *v, uint64_t n)
{
    // The SD scales with the values: values beyond 2^500 are scaled down by
    // a power of 2 first, so that their squares cannot overflow.
    double largest = 0;
    for (uint64_t i = 0; i < n; ++i)
        largest = std::fmax(largest, std::fabs(v[i]));
    const int scale = largest > 0x1p500 && std::isfinite(largest)
                          ? std::ilogb(largest) - 500
                          : 0;
    tallyf_sums1_t sums;
    tallyf_sums1_init(&sums);
    for (uint64_t i = 0; i < n; ++i)
        tallyf_sums1_add(&sums, std::ldexp(v[i], -scale));
    const tallyf_centred_t c = tallyf_sums1_centred(&sums);
    tallyf_summary_t s;
    s.count = n;
    s.mean = std::ldexp(c.mean, scale);
    s.sd = std::ldexp(dd_round(dd_sqrt(dd_div({c.ss, c.ss_lo},
                                              dd(static_cast<double>(n) - 1)))),
                      scale);
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
