// The Student t density and lower-tail probability of module tallyf,
// against reference values computed with mpmath (tests/reference/t_dist.py,
// its output committed as tests/reference/t_dist.tsv), closed forms and the
// fixed results at the edges.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "tallyf.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kPi = 3.141592653589793;

struct reference {
    std::string kind; // "cdf" or "pdf"
    uint32_t n;
    double t;
    double value; // the exact value, rounded to double (0 below DBL_MIN)
};

std::vector<reference> read_table()
{
    std::ifstream in(REFERENCE_DIR "/t_dist.tsv");
    std::vector<reference> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind, n, t, value;
        fields >> kind >> n >> t >> value;
        rows.push_back({kind, static_cast<uint32_t>(std::stoul(n)),
                        std::strtod(t.c_str(), nullptr),
                        std::strtod(value.c_str(), nullptr)});
    }
    return rows;
}

const std::vector<reference> &table()
{
    static const std::vector<reference> rows = read_table();
    return rows;
}

TEST(TCdf, MatchesTheReferenceTable)
{
    int checked = 0;
    for (const reference &r : table()) {
        if (r.kind != "cdf")
            continue;
        ++checked;
        const double p = t_cdf(r.n, r.t);
        EXPECT_NEAR(p, r.value, 1e-11) << "n " << r.n << " t " << r.t;
        if (r.value >= 1e-300) {
            EXPECT_NEAR(p / r.value, 1, 1e-10) << "n " << r.n << " t " << r.t;
        }
        // The upper side is the complement of the lower.
        const double q = t_cdf(r.n, -r.t);
        EXPECT_EQ(q, 1 - p) << "n " << r.n << " t " << -r.t;
        EXPECT_NEAR(q, 1 - r.value, 1e-11) << "n " << r.n << " t " << -r.t;
    }
    EXPECT_GT(checked, 300);
}

TEST(TPdf, MatchesTheReferenceTable)
{
    int checked = 0;
    for (const reference &r : table()) {
        if (r.kind != "pdf")
            continue;
        ++checked;
        const double d = t_pdf(r.n, r.t);
        if (r.value >= std::numeric_limits<double>::min()) {
            EXPECT_NEAR(d / r.value, 1, 1e-14) << "n " << r.n << " x " << r.t;
        } else {
            EXPECT_LT(d, 1e-300) << "n " << r.n << " x " << r.t;
        }
        EXPECT_EQ(t_pdf(r.n, -r.t), d) << "n " << r.n << " x " << r.t;
    }
    EXPECT_GT(checked, 100);
}

TEST(TCdf, ClosedFormsForOneAndTwoDegreesOfFreedom)
{
    for (double t : {-30.0, -2.0, -0.3, 0.7, 5.0, 1000.0}) {
        EXPECT_NEAR(t_cdf(2, t), 0.5 + std::atan(t) / kPi, 1e-15) << t;
        EXPECT_NEAR(t_cdf(3, t), 0.5 + t / (2 * std::sqrt(2 + t * t)), 1e-15)
            << t;
    }
    // The Cauchy tail far out, where t * t overflows a double.
    EXPECT_NEAR(t_cdf(2, -1e200) / (1 / (kPi * 1e200)), 1, 1e-12);
}

TEST(TCdf, ValuesTheCommandsPrint)
{
    EXPECT_NEAR(t_cdf(400, 1), 0.841042, 5e-7);
    EXPECT_NEAR(t_cdf(2, -40), 0.007956, 5e-7);
    EXPECT_NEAR(t_cdf(5, 1), 0.8130495168, 1e-10);
    EXPECT_NEAR(t_cdf(10, 2.5), 0.9830690862, 1e-10);
    EXPECT_NEAR(t_cdf(30, -2.5), 0.0091626722, 1e-10);
}

TEST(TCdf, ZeroIsExactlyOneHalf)
{
    for (uint32_t n : {2u, 3u, 30u, 343u, 1000000u, 4294967295u}) {
        EXPECT_EQ(t_cdf(n, 0.0), 0.5) << n;
        EXPECT_EQ(t_cdf(n, -0.0), 0.5) << n;
    }
}

TEST(TCdf, NoDegreesOfFreedomGiveZeroOrOne)
{
    for (uint32_t n : {0u, 1u}) {
        EXPECT_EQ(t_cdf(n, 0.0), 1.0) << n;
        EXPECT_EQ(t_cdf(n, -0.0), 1.0) << n;
        EXPECT_EQ(t_cdf(n, 2.5), 1.0) << n;
        EXPECT_EQ(t_cdf(n, -2.5), 0.0) << n;
        EXPECT_EQ(t_cdf(n, -kInf), 0.0) << n;
        EXPECT_EQ(t_cdf(n, kNaN), 1.0) << n;
    }
}

TEST(TCdf, InfiniteAndNaNT)
{
    for (uint32_t n : {2u, 5u, 342u, 343u, 4294967295u}) {
        EXPECT_EQ(t_cdf(n, kInf), 1.0) << n;
        EXPECT_EQ(t_cdf(n, -kInf), 0.0) << n;
        EXPECT_EQ(t_cdf(n, kNaN), 1.0) << n;
    }
}

TEST(TCdf, ReportsNothingAndKeepsErrno)
{
    // Far tails underflow inside the library: no message, errno untouched.
    testing::internal::CaptureStderr();
    errno = 1234;
    EXPECT_EQ(t_cdf(4294967295u, -1e300), 0.0);
    EXPECT_EQ(t_pdf(4294967295u, 1e300), 0.0);
    EXPECT_EQ(errno, 1234);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(TPdf, EdgeValues)
{
    EXPECT_EQ(t_pdf(2, 0), 1 / kPi);
    EXPECT_EQ(t_pdf(5, 0), 0.375);
    for (uint32_t n : {2u, 5u, 343u, 4294967295u}) {
        EXPECT_EQ(t_pdf(n, kInf), 0.0) << n;
        EXPECT_EQ(t_pdf(n, -kInf), 0.0) << n;
        EXPECT_TRUE(std::isnan(t_pdf(n, kNaN))) << n;
    }
    // No degrees of freedom: no density.
    EXPECT_TRUE(std::isnan(t_pdf(0, 0)));
    EXPECT_TRUE(std::isnan(t_pdf(1, 1)));
}

} // namespace
