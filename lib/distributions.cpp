// Normal and Student t formulas.
#include "distributions.h"

#include <cerrno>
#include <cmath>

#include <boost/math/distributions/students_t.hpp>

double z_score(double x, double mean, double sd)
{
    return (x - mean) / sd;
}

double z_equivalent(double x, double mean1, double sd1, double mean2,
                    double sd2)
{
    return ((x - mean1) / sd1) * sd2 + mean2;
}

double normal_cdf(double x, double mean, double sd)
{
    return (std::erf((x - mean) / (sd * 1.4142135623730951)) + 1) * 0.5;
}

double t_score(uint32_t n, double x_bar, double mean, double sd)
{
    return (x_bar - mean) / (sd / std::sqrt(static_cast<double>(n)));
}

// The Student t distribution, through the regularised incomplete beta
// function of Boost.Math.  Evaluated in long double, so that t * t cannot
// overflow for any finite double t and the tail keeps its relative accuracy
// far out.  Every error of Boost's is turned into a plain result (NaN, an
// infinity or 0) instead of an exception or a message: these functions
// report nothing.
namespace {

using t_policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::underflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::denorm_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::rounding_error<boost::math::policies::ignore_error>,
    boost::math::policies::indeterminate_result_error<
        boost::math::policies::ignore_error>>;

using t_distribution = boost::math::students_t_distribution<long double, t_policy>;

// Degrees of freedom of a sample of n >= 2 values.
inline long double degrees(uint32_t n)
{
    return static_cast<long double>(n - 1u);
}

// Keeps errno as the caller left it: the library's own calls may set it.
struct errno_kept {
    int saved = errno;
    ~errno_kept() { errno = saved; }
};

} // namespace

double t_pdf(uint32_t n, double x)
{
    if (n < 2 || std::isnan(x))
        return NAN; // no degrees of freedom, or no x
    if (std::isinf(x))
        return 0;
    const errno_kept keep;
    return static_cast<double>(
        boost::math::pdf(t_distribution(degrees(n)), static_cast<long double>(x)));
}

double t_cdf(uint32_t n, double t)
{
    // Without degrees of freedom there is no distribution: every t below 0
    // gets 0 and everything else (both zeros and NaN too) 1.
    if (n < 2)
        return t < 0 ? 0.0 : 1.0;
    if (std::isnan(t))
        return 1.0;
    if (t == 0)
        return 0.5;
    if (t > 0)
        return 1 - t_cdf(n, -t); // the complement of the lower tail, as ever
    if (std::isinf(t))
        return 0.0;
    const errno_kept keep;
    return static_cast<double>(
        boost::math::cdf(t_distribution(degrees(n)), static_cast<long double>(t)));
}

long double student_t_cdf(double df, double t)
{
    if (!(df > 0) || std::isnan(t))
        return NAN;
    if (std::isinf(t))
        return t < 0 ? 0.0L : 1.0L;
    const errno_kept keep;
    return boost::math::cdf(t_distribution(df), static_cast<long double>(t));
}

long double student_t_quantile(double df, double p)
{
    if (!(df > 0) || !(p > 0 && p < 1))
        return NAN;
    const errno_kept keep;
    return boost::math::quantile(t_distribution(df), static_cast<long double>(p));
}
