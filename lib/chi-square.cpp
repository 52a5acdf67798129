// The chi-square test of equal expected counts.
#include "chi-square.h"

#include <cerrno>
#include <cmath>

#include <boost/math/special_functions/gamma.hpp>

bool tally_counts_valid(uint64_t n, double low, double high, double *bad)
{
    if (n == 0)
        return true;
    if (!std::isfinite(low) || low < 0) {
        *bad = low;
        return false;
    }
    if (!std::isfinite(high)) {
        *bad = high;
        return false;
    }
    return true;
}

double chi_sq_upper(double df, double x)
{
    using namespace boost::math::policies;
    // Errors come back as NaN (or the limit) with errno set: never an
    // exception, never a message.
    using quiet = policy<domain_error<errno_on_error>, pole_error<errno_on_error>,
                         overflow_error<errno_on_error>,
                         underflow_error<errno_on_error>,
                         denorm_error<errno_on_error>,
                         evaluation_error<errno_on_error>,
                         rounding_error<errno_on_error>,
                         indeterminate_result_error<errno_on_error>>;
    if (!(df > 0) || std::isnan(x))
        return NAN;
    if (x <= 0)
        return 1.0;
    if (std::isinf(x))
        return 0.0;
    const int saved = errno;
    const double p = boost::math::gamma_q(df / 2, x / 2, quiet());
    errno = saved;
    return p;
}

tallyf_chi_sq_t tally_chi_sq(uint64_t k, double total, double mean, double ss,
                             int exp)
{
    if (k < 2 || !(total != 0))
        return {NAN, NAN, NAN};
    // Sum of (O - E)^2 / E with E = total / k, the mean.
    const double statistic = std::ldexp(ss / mean, exp);
    const double df = static_cast<double>(k - 1);
    return {statistic, df, chi_sq_upper(df, statistic)};
}
