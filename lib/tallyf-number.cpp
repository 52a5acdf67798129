// Exact results and their printing.
#include "tallyf-number.h"

#include <cmath>
#include <cstdio>

// a * x + b * y with weights in halves, exactly when both are finite.
tallyf_number_t tallyf_number_combine(double x, int x_halves, double y,
                                      int y_halves)
{
    tallyf_number_t r;
    r.exact = std::isfinite(x) && std::isfinite(y);
    exact_fixed_clear(&r.fixed);
    if (r.exact) {
        exact_fixed_add(&r.fixed, x, x_halves);
        exact_fixed_add(&r.fixed, y, y_halves);
        r.value = 0;
    } else {
        r.value = x * (x_halves * 0.5) + y * (y_halves * 0.5);
    }
    return r;
}

// -1, 0, 1 as x lies below, at or above the number (which is exact).
int tallyf_number_compare(double x, const tallyf_number_t *bound)
{
    if (std::isinf(x))
        return x < 0 ? -1 : 1;
    return -exact_fixed_cmp(&bound->fixed, x);
}

void tallyf_format_number(const tallyf_number_t *x, char *buf, size_t size)
{
    if (x->exact)
        exact_fixed_format(&x->fixed, buf, size);
    else
        std::snprintf(buf, size, "%f", x->value);
}
