// Geometric and harmonic means.
#include "positive-means.h"

#include <cmath>

#include "double-double.h"

namespace {

// True when x can enter the sums; notes NaN, infinities and values at or
// below 0 otherwise.
inline bool usable(tallyf_positive_sums_t *s, double x)
{
    ++s->n;
    if (x > 0 && x < INFINITY)
        return true;
    if (std::isnan(x))
        s->nan = true;
    else if (x > 0)
        s->inf = true;
    else
        ++s->not_positive;
    return false;
}

// Adds q + q_lo to the harmonic sum, in the manner of Sum2.
inline void add_recip(tallyf_positive_sums_t *s, double q, double q_lo)
{
    const double t = s->recips + q;
    s->recips_lo += error_free::sum_error(s->recips, q, t) + q_lo;
    s->recips = t;
}

inline bool defined(const tallyf_positive_sums_t *s)
{
    return s->n != 0 && s->not_positive == 0 && !s->nan;
}

} // namespace

void tallyf_positive_init(tallyf_positive_sums_t *s)
{
    *s = {};
}

void tallyf_geo_add(tallyf_positive_sums_t *s, double x)
{
    if (!usable(s, x))
        return;
    int e;
    const double m = std::frexp(x, &e); // 0.5 <= m < 1, exactly
    s->exponents += e;
    // Kahan's compensated sum of ln m, each within [-0.7, 0].
    const long double y = std::log(static_cast<long double>(m)) - s->logs_error;
    const long double t = s->logs + y;
    s->logs_error = (t - s->logs) - y;
    s->logs = t;
}

void tallyf_harm_add(tallyf_positive_sums_t *s, double x)
{
    if (!usable(s, x))
        return;
    // Most sums never leave the middle of the range: 1 / x = q + q_lo, q_lo
    // from the exact remainder 1 - q x.
    if (!s->recips_scaled && x >= 0x1p-900 && s->recips < 0x1p900) {
        const double q = 1 / x;
        add_recip(s, q, std::fma(-q, x, 1.0) / x);
        return;
    }
    // Beyond, the sum is kept times 2^-recips_exp, the binary exponent of
    // its largest term (or of the sum when it turned scaled), so that it
    // stays below 2n + 2 however small the values: x = m 2^e, 1 / x =
    // (1 / m) 2^-e.
    int e;
    const double m = std::frexp(x, &e);
    if (!s->recips_scaled) {
        s->recips_scaled = true;
        s->recips_exp = s->recips > 0 ? std::ilogb(s->recips) : -e;
        s->recips = std::ldexp(s->recips, -s->recips_exp);
        s->recips_lo = std::ldexp(s->recips_lo, -s->recips_exp);
    }
    if (-e > s->recips_exp) {
        const int down = -e - s->recips_exp;
        s->recips = std::ldexp(s->recips, -down);
        s->recips_lo = std::ldexp(s->recips_lo, -down);
        s->recips_exp = -e;
    }
    const int to_sum = -e - s->recips_exp;
    const double q = 1 / m;
    add_recip(s, std::ldexp(q, to_sum),
              std::ldexp(std::fma(-q, m, 1.0) / m, to_sum));
}

double tallyf_geo_mean(const tallyf_positive_sums_t *s)
{
    if (!defined(s))
        return NAN;
    if (s->inf)
        return INFINITY;
    // 2^(E / n) exp(L / n), with E / n split into a whole k and r / n.
    const int64_t n = static_cast<int64_t>(s->n);
    int64_t k = s->exponents / n;
    int64_t r = s->exponents % n;
    if (r < 0) {
        --k;
        r += n;
    }
    const long double g =
        std::exp2(static_cast<long double>(r) / n) *
        std::exp(s->logs / static_cast<long double>(n));
    return std::ldexp(static_cast<double>(g), static_cast<int>(k));
}

double tallyf_harm_mean(const tallyf_positive_sums_t *s)
{
    if (!defined(s))
        return NAN;
    const dd_t sum = dd_norm(s->recips, s->recips_lo);
    if (!(sum.hi > 0))
        return s->n == 0 ? NAN : INFINITY; // every value infinite
    return std::ldexp(dd_round(dd_div(dd(static_cast<double>(s->n)), sum)),
                      -s->recips_exp);
}
