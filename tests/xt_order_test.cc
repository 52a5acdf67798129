// xt_double_sort and xt_double_select against std::sort with xt_double_less:
// bit for bit the same
// array, whatever the values (NaNs of every sign and payload, zeros of both
// signs, infinities, subnormals, long runs of equal values).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "xt.h"

namespace {

std::vector<uint64_t> bits(const std::vector<double> &v)
{
    std::vector<uint64_t> out;
    for (double x : v)
        out.push_back(std::bit_cast<uint64_t>(x));
    return out;
}

// Selection of a few ranks (the ends, the middle, a quartile, a random
// one) gives the values the sort puts there.
void expect_selected_like_sort(std::vector<double> v,
                               const std::vector<double> &sorted)
{
    const size_t n = v.size();
    if (n == 0)
        return;
    std::vector<size_t> ranks = {0, n / 4, n / 2, (n * 7919) % n, n - 1};
    std::sort(ranks.begin(), ranks.end());
    ranks.erase(std::unique(ranks.begin(), ranks.end()), ranks.end());
    std::vector<double> got(ranks.size());
    xt_double_select(v.data(), n, ranks.data(), ranks.size(), got.data());
    for (size_t i = 0; i < ranks.size(); ++i)
        ASSERT_EQ(std::bit_cast<uint64_t>(got[i]),
                  std::bit_cast<uint64_t>(sorted[ranks[i]]))
            << "rank " << ranks[i] << " of " << n;
    // Reordered at most: the same values.
    std::sort(v.begin(), v.end(), xt_double_less);
    ASSERT_EQ(bits(v), bits(sorted));
}

void expect_sorted_like_std(std::vector<double> v)
{
    std::vector<double> want = v;
    std::sort(want.begin(), want.end(), xt_double_less);
    expect_selected_like_sort(v, want);
    xt_double_sort(v.data(), v.size());
    ASSERT_EQ(bits(v), bits(want)) << v.size() << " values";
}

double special(std::mt19937_64 &rng)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double table[] = {
        0.0, -0.0, inf, -inf, std::nan(""), -std::nan(""),
        std::bit_cast<double>(uint64_t{0x7FF0000000000001}), // signalling
        std::bit_cast<double>(uint64_t{0xFFF8000000000123}),
        std::numeric_limits<double>::denorm_min(),
        -std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(), 1.0, -1.0, 0.5,
    };
    return table[rng() % std::size(table)];
}

TEST(DoubleSort, EmptyAndTinyArrays)
{
    xt_double_sort(nullptr, 0);
    expect_sorted_like_std({});
    expect_sorted_like_std({3.0});
    expect_sorted_like_std({2.0, -0.0, 0.0, 1.0});
}

TEST(DoubleSort, RandomBitPatternsOfEverySize)
{
    std::mt19937_64 rng(99);
    for (size_t n : {2, 47, 48, 49, 255, 256, 257, 1000, 4096, 20000, 70000}) {
        std::vector<double> v(n);
        for (double &x : v)
            x = std::bit_cast<double>(rng()); // NaNs, subnormals, all of it
        expect_sorted_like_std(v);
        if (HasFatalFailure())
            return;
    }
}

TEST(DoubleSort, DataLikeValuesWithDuplicatesAndSpecials)
{
    std::mt19937_64 rng(7);
    std::normal_distribution<double> gauss(1000, 300);
    for (size_t n : {100, 5000, 300000, 1100000}) {
        std::vector<double> v(n);
        for (double &x : v) {
            const uint64_t r = rng() % 100;
            if (r < 3)
                x = special(rng);
            else if (r < 40)
                x = std::round(gauss(rng)); // many equal values
            else
                x = std::round(gauss(rng) * 1e4) / 1e4;
        }
        expect_sorted_like_std(v);
        if (HasFatalFailure())
            return;
    }
}

// Data packed in a few slices of a wide range (a bell curve with one far
// outlier each side): the selection refines the slices it wants.
TEST(DoubleSort, PackedDataWithFarOutliers)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> gauss(1000, 50);
    for (double far : {0.0, 1e300}) {
        std::vector<double> v(300000);
        for (double &x : v)
            x = std::round(gauss(rng) * 1e4) / 1e4;
        v[7] = far;
        v[99] = -far;
        expect_sorted_like_std(v);
        if (HasFatalFailure())
            return;
    }
}

TEST(DoubleSort, AllEqualAndAlreadyOrdered)
{
    expect_sorted_like_std(std::vector<double>(10000, 42.5));
    expect_sorted_like_std(std::vector<double>(70000, 42.5));
    expect_sorted_like_std(std::vector<double>(10000, -std::nan("")));
    std::vector<double> up(10000), down(10000);
    for (size_t i = 0; i < up.size(); ++i) {
        up[i] = static_cast<double>(i) - 5000;
        down[i] = -up[i];
    }
    expect_sorted_like_std(up);
    expect_sorted_like_std(down);
}

} // namespace
