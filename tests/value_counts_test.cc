// The counts by buckets (distinct, top) against a plain reference: the
// values sorted with std::sort in xt_double_less's order, equal values
// counted in runs; and the fixed-point field writer against printf.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "printer.h"
#include "value-counts.h"
#include "xt.h"

namespace {

// The runs of the sorted values: every NaN one value, -0 and 0 one value,
// each shown as the first of its run.
std::vector<tally_counted_t> reference_runs(std::vector<double> v)
{
    std::sort(v.begin(), v.end(), xt_double_less);
    std::vector<tally_counted_t> runs;
    for (double x : v) {
        if (!runs.empty() &&
            (runs.back().value == x ||
             (std::isnan(runs.back().value) && std::isnan(x))))
            ++runs.back().count;
        else
            runs.push_back({x, 1});
    }
    return runs;
}

std::vector<tally_counted_t> reference_top(const std::vector<double> &v,
                                           uint64_t k)
{
    std::vector<tally_counted_t> runs = reference_runs(v);
    std::stable_sort(runs.begin(), runs.end(),
                     [](const tally_counted_t &a, const tally_counted_t &b) {
                         return a.count > b.count;
                     });
    if (runs.size() > k)
        runs.resize(k);
    return runs;
}

// Values of every kind: NaNs of both signs and several payloads, both
// infinities and zeros, subnormals, ordinary numbers; from a pool of
// pool_size of them (few: many repeats), or fresh each time (0).
std::vector<double> mixed(std::mt19937_64 &rng, size_t n, size_t pool_size)
{
    const double specials[] = {
        NAN,
        -NAN,
        std::bit_cast<double>(uint64_t{0x7FF0000000000001}),
        std::bit_cast<double>(uint64_t{0xFFF4000000000000}),
        INFINITY,
        -INFINITY,
        0.0,
        -0.0,
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(),
        std::bit_cast<double>(uint64_t{0x000FFFFFFFFFFFFF}),
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
    };
    const auto fresh = [&] {
        const uint64_t r = rng();
        switch (r % 8) {
        case 0:
            return specials[(r >> 8) % std::size(specials)];
        case 1:
            return std::bit_cast<double>(rng()); // any bits at all
        case 2: // subnormal
            return std::bit_cast<double>((rng() >> 12) | (r & (uint64_t{1} << 63)));
        default: // a decimal with four places, as in a data file
            return static_cast<double>(static_cast<int64_t>(rng() % 20000001) -
                                       10000000) / 1e4;
        }
    };
    std::vector<double> pool;
    for (size_t i = 0; i < pool_size; ++i)
        pool.push_back(fresh());
    std::vector<double> v(n);
    for (double &x : v)
        x = pool_size != 0 ? pool[rng() % pool_size] : fresh();
    return v;
}

void expect_same(const std::vector<tally_counted_t> &got,
                 const std::vector<tally_counted_t> &want, const char *what)
{
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(std::bit_cast<uint64_t>(got[i].value),
                  std::bit_cast<uint64_t>(want[i].value))
            << what << " row " << i << ": " << got[i].value << " against "
            << want[i].value;
        EXPECT_EQ(got[i].count, want[i].count) << what << " row " << i;
    }
}

// Distinct and top over arrays small and past the size that takes more
// than one thread, mostly distinct and mostly repeated, on 1 to 3 threads.
TEST(ValueCounts, DistinctAndTopAsSortedRuns)
{
    std::mt19937_64 rng(20261211);
    struct shape_t {
        size_t n, pool;
    };
    const shape_t shapes[] = {{0, 0},        {1, 0},       {7, 3},
                              {5000, 0},     {5000, 40},   {300000, 0},
                              {300000, 500}, {400000, 90000}};
    for (int threads = 1; threads <= 3; ++threads) {
        tally_choose_count_threads(threads);
        for (const shape_t &s : shapes) {
            const std::vector<double> v = mixed(rng, s.n, s.pool);
            const std::string what = "n " + std::to_string(s.n) + " pool " +
                                     std::to_string(s.pool) + " threads " +
                                     std::to_string(threads);
            EXPECT_EQ(tally_count_distinct(v.data(), v.size()),
                      reference_runs(v).size())
                << what;
            for (uint64_t k : {uint64_t{1}, uint64_t{10}, uint64_t{1000000}})
                expect_same(tally_count_top(v.data(), v.size(), k),
                            reference_top(v, k), what.c_str());
        }
    }
    tally_choose_count_threads(1);
}

// One value many times over among many distinct ones (its bucket's table
// holds it once), and every value distinct in buckets of about the most
// their tables first take (some grow).
TEST(ValueCounts, BucketsFullerThanTheirShare)
{
    std::vector<double> repeated;
    for (int i = 0; i < 300000; ++i)
        repeated.push_back(i * 0.25);
    repeated.insert(repeated.end(), 700000, 12.5);
    std::vector<double> distinct;
    for (int i = 0; i < 524287; ++i)
        distinct.push_back(i * -0.5);
    for (int threads = 1; threads <= 2; ++threads) {
        tally_choose_count_threads(threads);
        EXPECT_EQ(tally_count_distinct(repeated.data(), repeated.size()),
                  300000u);
        expect_same(tally_count_top(repeated.data(), repeated.size(), 3),
                    reference_top(repeated, 3), "one value many times");
        EXPECT_EQ(tally_count_distinct(distinct.data(), distinct.size()),
                  distinct.size());
    }
    tally_choose_count_threads(1);
}

// The sort on threads puts every bit pattern where std::sort does, the
// split's key repeated or not.
TEST(ValueCounts, SortOnThreadsAsStdSort)
{
    std::mt19937_64 rng(99);
    for (int threads = 1; threads <= 2; ++threads) {
        tally_choose_count_threads(threads);
        for (size_t pool : {size_t{0}, size_t{3}, size_t{2000}}) {
            std::vector<double> v = mixed(rng, 300000, pool);
            std::vector<double> want = v;
            std::sort(want.begin(), want.end(), xt_double_less);
            tally_sort_on_threads(v.data(), v.size());
            ASSERT_TRUE(std::equal(v.begin(), v.end(), want.begin(),
                                   [](double a, double b) {
                                       return std::bit_cast<uint64_t>(a) ==
                                              std::bit_cast<uint64_t>(b);
                                   }))
                << "pool " << pool << " threads " << threads;
        }
    }
    tally_choose_count_threads(1);
}

// Where the shown value of a class is not the first seen: a NaN with its
// sign set before one without, 0 before -0; a tie in count in value order.
TEST(ValueCounts, ShownValuesAndTies)
{
    const std::vector<double> v = {-NAN, 3.0, 0.0, NAN, -0.0, 2.0, 0.0, 3.0};
    const std::vector<tally_counted_t> top = tally_count_top(v.data(), v.size(), 4);
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(std::bit_cast<uint64_t>(top[0].value),
              std::bit_cast<uint64_t>(-0.0)); // zeros: 3, shown as -0
    EXPECT_EQ(top[0].count, 3u);
    EXPECT_EQ(top[1].value, 3.0); // 3 and the NaNs twice: 3 first
    EXPECT_TRUE(std::isnan(top[2].value) && !std::signbit(top[2].value));
    EXPECT_EQ(top[3].value, 2.0);
    EXPECT_EQ(tally_count_distinct(v.data(), v.size()), 4u);
}

std::string by_printf(double x, int decimals)
{
    char text[TALLY_FIXED_ROOM];
    std::snprintf(text, sizeof text, "%16.*f", decimals, x);
    return text;
}

std::string by_writer(double x, int decimals)
{
    char text[TALLY_FIXED_ROOM];
    return std::string(text, tally_format_fixed(x, decimals, text));
}

// Every value printf would round on a tie or carry across digits, every
// range of exponents (the exact path and the one handed to printf), and
// random bits.
TEST(FormatFixed, AsPrintf)
{
    std::vector<double> xs = {0.0,     -0.0,    0.5,       1.5,       2.5,
                              -2.5,    0.0078125, 0.0234375, 999999.9999995,
                              9.5e-7,  5e-7,    -5e-7,     4.9999999999999996e-7,
                              1e-300,  -1e-300, INFINITY,  -INFINITY,
                              NAN,     -NAN,    0x1p93,    0x1p93 - 0x1p41,
                              0x1p94,  1e300,   std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::denorm_min()};
    for (int k = -300; k <= 300; ++k)
        xs.push_back(k / 128.0 + 0.5); // ties at the seventh place
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        xs.push_back(std::bit_cast<double>(rng()));
        // Exponents where the digits are many: 2^-80 to 2^100.
        const int e = static_cast<int>(rng() % 181) - 80;
        xs.push_back(std::ldexp(static_cast<double>(rng() >> 11), e - 53));
        xs.push_back(static_cast<double>(static_cast<int64_t>(rng() % 200000001) -
                                         100000000) / 1e4);
    }
    for (double x : xs) {
        ASSERT_EQ(by_writer(x, 6), by_printf(x, 6)) << std::hexfloat << x;
        ASSERT_EQ(by_writer(x, 0), by_printf(x, 0)) << std::hexfloat << x;
    }
}

} // namespace
