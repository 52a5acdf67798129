// The Student t density and lower-tail probability of module tallyf: the
// values the commands print depend on the exact midpoint sum, so they are
// checked to 1e-10, and the sum as a whole against an independent Student t
// probability computed in long double.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "tallyf.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// ---- Reference: Student t probability from the regularized incomplete
// beta function, I_x(a, b) by its continued fraction (modified Lentz).

// Continued fraction of I_x(a, b); y is 1 - x, passed in so that it keeps
// its digits when x is close to 1.
long double beta_fraction(long double a, long double b, long double x)
{
    const long double tiny = 1e-300L;
    const long double eps = 1e-21L;
    long double c = 1;
    long double d = 1 - (a + b) * x / (a + 1);
    if (std::fabs(d) < tiny)
        d = tiny;
    d = 1 / d;
    long double f = d;
    for (int m = 1; m < 100000; ++m) {
        const long double m2 = 2.0L * m;
        // even step
        long double num = m * (b - m) * x / ((a + m2 - 1) * (a + m2));
        d = 1 + num * d;
        if (std::fabs(d) < tiny)
            d = tiny;
        c = 1 + num / c;
        if (std::fabs(c) < tiny)
            c = tiny;
        d = 1 / d;
        f *= d * c;
        // odd step
        num = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
        d = 1 + num * d;
        if (std::fabs(d) < tiny)
            d = tiny;
        c = 1 + num / c;
        if (std::fabs(c) < tiny)
            c = tiny;
        d = 1 / d;
        const long double delta = d * c;
        f *= delta;
        if (std::fabs(delta - 1) < eps)
            break;
    }
    return f;
}

long double incomplete_beta(long double a, long double b, long double x,
                            long double y)
{
    if (x <= 0)
        return 0;
    if (y <= 0)
        return 1;
    const long double log_front = a * std::log(x) + b * std::log(y) -
                                  (std::lgamma(a) + std::lgamma(b) -
                                   std::lgamma(a + b));
    const long double front = std::exp(log_front);
    if (x < (a + 1) / (a + b + 2))
        return front * beta_fraction(a, b, x) / a;
    return 1 - front * beta_fraction(b, a, y) / b;
}

// Exact probability that a Student t value with df degrees of freedom lies
// below t.
long double exact_t_cdf(long double df, long double t)
{
    const long double t2 = t * t;
    const long double tail =
        0.5L * incomplete_beta(df / 2, 0.5L, df / (df + t2), t2 / (df + t2));
    return t < 0 ? tail : 1 - tail;
}

TEST(ExactTCdf, AgreesWithClosedForms)
{
    // One degree of freedom: the Cauchy distribution.
    for (long double t : {-30.0L, -2.0L, -0.3L, 0.0L, 0.7L, 5.0L, 1000.0L}) {
        const long double cauchy = 0.5L + std::atan(t) / 3.14159265358979323846L;
        EXPECT_NEAR(static_cast<double>(exact_t_cdf(1, t)),
                    static_cast<double>(cauchy), 1e-16) << t;
    }
    // Two degrees of freedom: 1/2 + t / (2 sqrt(2 + t^2)).
    for (long double t : {-9.0L, -1.0L, 0.25L, 3.0L}) {
        const long double two = 0.5L + t / (2 * std::sqrt(2 + t * t));
        EXPECT_NEAR(static_cast<double>(exact_t_cdf(2, t)),
                    static_cast<double>(two), 1e-16) << t;
    }
    // Large df tends to the normal curve.
    EXPECT_NEAR(static_cast<double>(exact_t_cdf(1e7L, 1.96L)),
                0.5 * std::erfc(-1.96 / std::sqrt(2.0)), 1e-7);
}

// ---- t_pdf

TEST(TPdf, KnownDensities)
{
    EXPECT_NEAR(t_pdf(2, 0), 0.3183098862, 1e-10); // 1/pi
    EXPECT_NEAR(t_pdf(5, 0), 0.375, 1e-10);
    EXPECT_NEAR(t_pdf(5, 1), 0.2146625258, 1e-10);
}

TEST(TPdf, SymmetricInX)
{
    for (uint32_t n : {2u, 3u, 10u, 342u})
        for (double x : {0.5, 1.0, 3.25, 40.0})
            EXPECT_EQ(t_pdf(n, -x), t_pdf(n, x)) << n << " " << x;
}

TEST(TPdf, InfiniteAndNaNX)
{
    for (uint32_t n : {2u, 5u, 342u}) {
        EXPECT_EQ(t_pdf(n, kInf), 0.0) << n;
        EXPECT_EQ(t_pdf(n, -kInf), 0.0) << n;
        EXPECT_TRUE(std::isnan(t_pdf(n, kNaN))) << n;
    }
}

TEST(TPdf, SampleSizesOutsideTwoTo342)
{
    // n of 0 and 1: Gamma(0) is infinite, the constant NaN.
    EXPECT_TRUE(std::isnan(t_pdf(0, 0)));
    EXPECT_TRUE(std::isnan(t_pdf(1, 1)));
    // n of 343: the denominator overflows, the constant is 0.
    EXPECT_EQ(t_pdf(343, 0), 0.0);
    EXPECT_EQ(t_pdf(343, 2.5), 0.0);
    // From 344 on the numerator overflows too.
    EXPECT_TRUE(std::isnan(t_pdf(344, 0)));
    EXPECT_TRUE(std::isnan(t_pdf(4294967295u, 1)));
}

// ---- t_cdf: the listed values

TEST(TCdf, KnownProbabilities)
{
    EXPECT_NEAR(t_cdf(2, 0), 0.5001805407, 1e-10);
    EXPECT_NEAR(t_cdf(5, 0), 0.5000010529, 1e-10);
    EXPECT_NEAR(t_cdf(5, 1), 0.8130505782, 1e-10);
    EXPECT_NEAR(t_cdf(5, 2.5), 0.9666177822, 1e-10);
    EXPECT_NEAR(t_cdf(10, 1), 0.8282819694, 1e-10);
    EXPECT_NEAR(t_cdf(10, 2.5), 0.9830692464, 1e-10);
    EXPECT_NEAR(t_cdf(30, 1), 0.8372090543, 1e-10);
    EXPECT_NEAR(t_cdf(30, 2.5), 0.9908373685, 1e-10);
    EXPECT_NEAR(t_cdf(30, -2.5), 0.0091626315, 1e-10);
}

TEST(TCdf, BothZerosGiveTheSameValueAboveOneHalf)
{
    for (uint32_t n : {2u, 3u, 30u, 342u}) {
        EXPECT_EQ(t_cdf(n, -0.0), t_cdf(n, 0.0)) << n;
        EXPECT_GT(t_cdf(n, 0.0), 0.5) << n;
    }
}

TEST(TCdf, NegativeTIsTheTailWhoseComplementIsPositiveT)
{
    for (uint32_t n : {3u, 5u, 10u, 100u})
        for (double t : {0.001, 0.5, 1.0, 2.5, 4.0})
            EXPECT_EQ(t_cdf(n, t), 1 - t_cdf(n, -t)) << n << " " << t;
}

TEST(TCdf, NoSliceCountsForSampleSizesBelowTwoOrAbove342)
{
    for (uint32_t n : {0u, 1u, 343u, 344u, 1000u, 4294967295u}) {
        EXPECT_EQ(t_cdf(n, 0.0), 1.0) << n;
        EXPECT_EQ(t_cdf(n, -0.0), 1.0) << n;
        EXPECT_EQ(t_cdf(n, 2.5), 1.0) << n;
        EXPECT_EQ(t_cdf(n, -2.5), 0.0) << n;
        EXPECT_EQ(t_cdf(n, kNaN), 1.0) << n;
    }
}

TEST(TCdf, NoSliceCountsAtOrBeyondTheStopPoint)
{
    EXPECT_EQ(t_cdf(30, 10), 1.0);
    EXPECT_EQ(t_cdf(30, -10), 0.0);
    EXPECT_EQ(t_cdf(2, 1e6), 1.0);
    EXPECT_EQ(t_cdf(2, -1e6), 0.0);
    for (uint32_t n : {2u, 5u, 342u}) {
        EXPECT_EQ(t_cdf(n, kInf), 1.0) << n;
        EXPECT_EQ(t_cdf(n, -kInf), 0.0) << n;
        EXPECT_EQ(t_cdf(n, 1e300), 1.0) << n;
        EXPECT_EQ(t_cdf(n, -1e300), 0.0) << n;
    }
}

TEST(TCdf, NaNIsExactlyOne)
{
    for (uint32_t n : {2u, 5u, 30u})
        EXPECT_EQ(t_cdf(n, kNaN), 1.0) << n;
}

// ---- t_cdf against the exact probability.  The sum leaves out the mass
// beyond the point where the density falls to 1.024e-7, so for t >= 0 it
// exceeds the exact value by about that mass, and for t < 0 falls short of
// it by the same; the midpoint rule adds a little, depending on t.  Each
// band is the documented error, its figures read as rounded below and as
// truncated above (half a unit of the last digit below, one unit above).

struct band {
    uint32_t n;
    double stop;      // distance of the stop point from zero
    double low, high; // result - exact, for t >= 0 short of the stop point
};

const band kBands[] = {
    {2, 1763.09, 1.8045e-4, 1.806e-4},
    {3, 213.74, 1.085e-5, 1.10e-5},
    {4, 75.37, 2.565e-6, 2.59e-6},
    {5, 41.05, 1.045e-6, 1.07e-6},
    {10, 13.31, 1.575e-7, 1.69e-7},
    {30, 7.12, 3.85e-8, 4.9e-8},
    {100, 5.93, 2.25e-8, 3.3e-8},
    {342, 5.63, 1.85e-8, 3.0e-8},
};

TEST(TCdf, WithinTheErrorBandOfTheExactProbability)
{
    const double ts[] = {0,   0.0005, 0.1, 0.5, 1,  1.2345, 1.96, 2.5,
                         3.7, 5,      6.5, 9,   12, 50,     200,  1500};
    for (const band &b : kBands) {
        const long double df = b.n - 1;
        for (double t : ts) {
            if (t > b.stop - 0.5)
                continue;
            const double above =
                t_cdf(b.n, t) - static_cast<double>(exact_t_cdf(df, t));
            EXPECT_GE(above, b.low) << "n " << b.n << " t " << t;
            EXPECT_LE(above, b.high) << "n " << b.n << " t " << t;
            if (t == 0)
                continue;
            const double below =
                static_cast<double>(exact_t_cdf(df, -t)) - t_cdf(b.n, -t);
            EXPECT_GE(below, b.low) << "n " << b.n << " t " << -t;
            EXPECT_LE(below, b.high) << "n " << b.n << " t " << -t;
        }
    }
}

TEST(TCdf, ListedExactValuesMatchTheReference)
{
    EXPECT_NEAR(static_cast<double>(exact_t_cdf(4, 1)), 0.8130495168, 1e-10);
    EXPECT_NEAR(static_cast<double>(exact_t_cdf(4, 2.5)), 0.9666167276, 1e-10);
    EXPECT_NEAR(static_cast<double>(exact_t_cdf(9, 1)), 0.8282818019, 1e-10);
    EXPECT_NEAR(static_cast<double>(exact_t_cdf(9, 2.5)), 0.9830690862, 1e-10);
    EXPECT_NEAR(static_cast<double>(exact_t_cdf(29, 1)), 0.8372090060, 1e-10);
    EXPECT_NEAR(static_cast<double>(exact_t_cdf(29, -2.5)), 0.0091626722,
                1e-10);
}

} // namespace
