// The chi-square test of equal expected counts.
#include "chi-square.h"

#include <cerrno>
#include <cmath>

#include <boost/math/special_functions/gamma.hpp>

bool tallyf_counts_valid(const tallyf_t *tf, double *bad)
{
    if (tf->num_count == 0)
        return true;
    if (!std::isfinite(tf->low) || tf->low < 0) {
        *bad = tf->low;
        return false;
    }
    if (!std::isfinite(tf->high)) {
        *bad = tf->high;
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

tallyf_chi_sq_t tallyf_chi_sq_fit(const tallyf_t *tf)
{
    const uint64_t k = tf->num_count;
    if (k < 2 || !(tf->sum != 0))
        return {NAN, NAN, NAN};
    // Sum of (O - E)^2 / E with E = total / k, the mean.
    // The sum of squares at its own scale, so that counts whose squares
    // pass the largest double still give the quotient.
    int exp;
    const double ss = tallyf_sum_squares_scaled(tf, &exp);
    const double statistic = std::ldexp(ss / tallyf_mean(tf), exp);
    const double df = static_cast<double>(k - 1);
    return {statistic, df, chi_sq_upper(df, statistic)};
}
