#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tallyf-list.h"

// The program supplies usage(); here it only says so and exits the same way.
[[noreturn]] void usage(char **)
{
    std::fputs("usage\n", stderr);
    std::exit(64);
}

namespace {

// Builds a list from a command line (argv[0] included) the way main does
// for function words: the word at arg, its code, and the rest consumed.
struct TabularRun {
    tallyf_list_t list;
    std::vector<std::string> words;
    std::vector<char *> argv;

    explicit TabularRun(std::vector<std::string> w) : words(std::move(w))
    {
        tallyf_list_init(&list);
        for (auto &s : words)
            argv.push_back(s.data());
        argv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words.size()); }

    // Adds the function at index arg; returns where the index was left.
    int add(int arg, tallyf_code_t code)
    {
        tallyf_list_add_func(&list, code, &arg, argc(), argv.data());
        return arg;
    }

    // Runs the pass over input and returns what it printed.
    std::string process(const std::string &input, const char *delims = " \t",
                        int flags = 0)
    {
        std::string copy = input;
        FILE *in = fmemopen(copy.data(), copy.size(), "r");
        testing::internal::CaptureStdout();
        tallyf_list_process_stream(&list, in, delims, flags);
        std::fflush(stdout);
        std::fclose(in);
        return testing::internal::GetCapturedStdout();
    }
};

// "%f" text times 2^m, exactly, rounded to six decimals as "%f" rounds (ties
// to even); the text must be exact (a double of 2^47 or more prints every
// digit).  Binary big numbers in 32-bit words, least significant first.
std::string scale_text(const std::string &text, int m)
{
    using big = std::vector<uint32_t>;
    const bool negative = text[0] == '-';
    big n;
    const auto mul_add = [&n](uint32_t f, uint32_t a) {
        uint64_t carry = a;
        for (uint32_t &w : n) {
            carry += uint64_t{w} * f;
            w = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        if (carry != 0)
            n.push_back(static_cast<uint32_t>(carry));
    };
    for (char c : text) // units of 10^-6: the digits without the point
        if (c >= '0' && c <= '9')
            mul_add(10, static_cast<uint32_t>(c - '0'));
    const auto bit = [&n](size_t i) {
        return i / 32 < n.size() && ((n[i / 32] >> (i % 32)) & 1) != 0;
    };
    if (m >= 0) {
        n.insert(n.begin(), static_cast<size_t>(m / 32), 0);
        mul_add(uint32_t{1} << (m % 32), 0);
    } else {
        const size_t r = static_cast<size_t>(-m);
        // Rounding: the first bit dropped, any below it, the last kept.
        const bool half = bit(r - 1);
        bool below = false;
        for (size_t i = 0; i + 1 < r && !below; ++i)
            below = bit(i);
        big q((n.size() * 32 > r ? n.size() * 32 - r : 0) / 32 + 1, 0);
        for (size_t i = 0; i < q.size() * 32; ++i)
            if (bit(i + r))
                q[i / 32] |= uint32_t{1} << (i % 32);
        n = q;
        if (half && (below || bit(0)))
            mul_add(1, 1);
    }
    std::string digits;
    for (bool zero = false; !zero;) { // divide by 10, collecting remainders
        uint64_t rem = 0;
        zero = true;
        for (size_t i = n.size(); i-- > 0;) {
            const uint64_t cur = (rem << 32) | n[i];
            n[i] = static_cast<uint32_t>(cur / 10);
            rem = cur % 10;
            zero = zero && n[i] == 0;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rem));
    }
    while (digits.size() < 7)
        digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - 6, '.');
    return (negative ? "-" : "") + digits; // "%f" signs -0.000000 too
}

TEST(AddFunc, ConsumesItsWordsAndLeavesTheIndexOnTheNumber)
{
    TabularRun r({"numtally", "quantile", "3", "--col", "2", "sample-t-score", "5.5",
           "--row", "1", "median", "--row", " 7", "mean", "--col", ""});
    EXPECT_EQ(r.add(1, TALLYF_QUANTILE), 4);
    EXPECT_EQ(r.add(5, TALLYF_SAMPLE_T_SCORE), 8);
    EXPECT_EQ(r.add(9, TALLYF_MEDIAN), 11);
    EXPECT_EQ(r.add(12, TALLYF_MEAN), 14);
    ASSERT_EQ(r.list.count, 4);
    const tallyf_t *f = r.list.functions;
    EXPECT_EQ(f[0].code, TALLYF_QUANTILE);
    EXPECT_EQ(f[0].partitions, 3u);
    EXPECT_EQ(f[0].row, 0u);
    EXPECT_EQ(f[0].col, 2u);
    EXPECT_EQ(f[1].expected_mean, 5.5);
    EXPECT_EQ(f[1].row, 1u);
    EXPECT_EQ(f[2].code, TALLYF_QUANTILE); // median is a quantile of 2
    EXPECT_EQ(f[2].partitions, 2u);
    EXPECT_EQ(f[2].row, 7u);
    EXPECT_EQ(f[3].col, 0u); // the empty number is 0: selects nothing
}

TEST(AddFunc, QuartileIsAQuantileOfFour)
{
    TabularRun r({"numtally", "quartile", "--col", "4294967295"});
    r.add(1, TALLYF_QUARTILE);
    EXPECT_EQ(r.list.functions[0].code, TALLYF_QUANTILE);
    EXPECT_EQ(r.list.functions[0].partitions, 4u);
    EXPECT_EQ(r.list.functions[0].col, 4294967295u);
}

TEST(AddFuncDeathTest, ArgumentErrors)
{
    const auto refuses = [](std::vector<std::string> words, tallyf_code_t code,
                            const char *message) {
        TabularRun r(std::move(words));
        EXPECT_EXIT(r.add(1, code), testing::ExitedWithCode(64), message);
    };
    refuses({"numtally", "quantile"}, TALLYF_QUANTILE, "^usage\n$");
    refuses({"numtally", "quantile", "x", "--row", "1"}, TALLYF_QUANTILE,
            "^Invalid quantile partition count: x\n$");
    refuses({"numtally", "quantile", "-1", "--row", "1"}, TALLYF_QUANTILE,
            "^Invalid quantile partition count: -1\n$");
    refuses({"numtally", "sample-t-score", "5x", "--row", "1"},
            TALLYF_SAMPLE_T_SCORE, "^Invalid expected mean: 5x\n$");
    refuses({"numtally", "mean", "--row"}, TALLYF_MEAN, "^usage\n$");
    // The number is checked before the selection word.
    refuses({"numtally", "mean", "--rows", "1x"}, TALLYF_MEAN,
            "^Invalid row/col: 1x\n$");
    refuses({"numtally", "mean", "--rows", "1"}, TALLYF_MEAN, "^usage\n$");
    // Numbers beyond 32 bits are refused, never wrapped to another row.
    refuses({"numtally", "mean", "--row", "4294967297"}, TALLYF_MEAN,
            "^Invalid row/col: 4294967297\n$");
    refuses({"numtally", "mean", "--col", "-1"}, TALLYF_MEAN,
            "^Invalid row/col: -1\n$");
}

TEST(AddFuncDeathTest, SixtyFifthFunctionIsRefusedBeforeItsArguments)
{
    TabularRun r({"numtally", "mean", "--row", "1", "mean", "nonsense"});
    for (int i = 0; i < TALLYF_LIST_MAX; ++i)
        r.add(1, TALLYF_MEAN);
    EXPECT_EQ(r.list.count, 64);
    EXPECT_EXIT(r.add(4, TALLYF_MEAN), testing::ExitedWithCode(64),
                "^Error: Maximum functions for one run is 64.\n$");
}

TEST(ProcessStream, CrossingOfARowAndAColumnFeedsBoth)
{
    TabularRun r({"numtally", "mean", "--row", "2", "mean", "--col", "2", "mode",
           "--row", "9"});
    r.add(1, TALLYF_MEAN);
    r.add(4, TALLYF_MEAN);
    r.add(7, TALLYF_MODE);
    EXPECT_EQ(r.process("1 2 3\n4 5 6\n7 8\n"),
              "Row 2 mean           5.000000\n"
              "Col 2 mean           5.000000\n"
              "Row 9 mode           nan\n"
              "Row 9 mode-count     0\n");
    EXPECT_EQ(r.list.functions[0].num_count, 3u);
    EXPECT_EQ(r.list.functions[1].num_count, 3u);
    EXPECT_EQ(r.list.functions[2].num_count, 0u);
}

TEST(ProcessStream, RecordSelectingBothWaysGetsTheCrossingOnce)
{
    TabularRun r({"numtally", "mean", "--row", "2"});
    r.add(1, TALLYF_MEAN);
    r.list.functions[0].col = 1; // only possible through the setters
    r.process("10 20\n30 40\n");
    EXPECT_EQ(r.list.functions[0].num_count, 3u); // 30, 40 and 10
    EXPECT_EQ(r.list.functions[0].sum, 80);
}

TEST(ProcessStream, TwoColumnRecordsKeepTheirCountsAndPlainSums)
{
    TabularRun r({"numtally", "covariance", "--col", "1", "--col", "2",
                  "welch-t", "--col", "1", "--col", "2"});
    r.add(1, TALLYF_COVARIANCE);
    r.add(6, TALLYF_WELCH_T);
    r.process("1 2\n3\n4 5\n");
    const tallyf_t &pairs = r.list.functions[0], &samples = r.list.functions[1];
    EXPECT_EQ(pairs.num_count, 2u); // the line without a second field is no pair
    EXPECT_EQ(pairs.sum_x, 5);
    EXPECT_EQ(pairs.sum_x_2, 17);
    EXPECT_EQ(pairs.sum_y, 7);
    EXPECT_EQ(pairs.sum_y_2, 29);
    EXPECT_EQ(pairs.sum_x_y, 22);
    EXPECT_EQ(samples.num_count, 3u);
    EXPECT_EQ(samples.sum, 8);
    EXPECT_EQ(samples.sum_x_2, 26);
    EXPECT_EQ(samples.sum_y, 7);
}

TEST(ProcessStream, EmptyLinesCountAsRowsWithoutValues)
{
    TabularRun r({"numtally", "mean", "--row", "3", "mean", "--col", "1"});
    r.add(1, TALLYF_MEAN);
    r.add(4, TALLYF_MEAN);
    EXPECT_EQ(r.process("1\n\n5\n", " \t", TALLYF_LIST_VERBOSE),
              "       1\n"
              "\n"
              "       5\n"
              "Row 3 mean           5.000000\n"
              "Col 1 mean           3.000000\n");
}

TEST(ProcessStream, EmptyFieldIsZero)
{
    TabularRun r({"numtally", "mean", "--col", "2"});
    r.add(1, TALLYF_MEAN);
    EXPECT_EQ(r.process("1,,3\n1,4\n", ","), "Col 2 mean           2.000000\n");
}

TEST(ProcessStreamDeathTest, BadSelectedFieldsEndTheRun)
{
    const auto refuses = [](const std::string &input, const char *message) {
        TabularRun r({"numtally", "mean", "--col", "2"});
        r.add(1, TALLYF_MEAN);
        EXPECT_EXIT(r.process(input), testing::ExitedWithCode(65), message);
    };
    refuses("1 2\n3 4x\n", "^Invalid number: 4x: row 2, col 2\n$");
    refuses(std::string("1 4\0005\n", 6), "^Invalid number: 4\\\\x005: row 1, col 2\n$");
    // Too long for the buffer: refused, not read from its first digits; the
    // message shows its first 64 bytes.
    refuses("1 " + std::string(5000, '1') + "\n",
            "Invalid number: 1{64}[.][.][.]: row 1");
}

TEST(ProcessStream, UnselectedFieldsAreNeverConverted)
{
    TabularRun r({"numtally", "mean", "--row", "2"});
    r.add(1, TALLYF_MEAN);
    EXPECT_EQ(r.process("heading " + std::string(5000, 'x') + "\n2 4\n"),
              "Row 2 mean           3.000000\n");
}

TEST(ProcessStream, ListingPrintsEveryValueFromTheTemporaryFile)
{
    TabularRun r({"numtally", "pop-z-scores", "--col", "1"});
    r.add(1, TALLYF_POP_Z_SCORES);
    EXPECT_EQ(r.process("0.0000004\n-0.0000004\n"),
              "Col 1 sum-squares    0.000000\n"
              "Col 1 pop-var        0.000000\n"
              "Col 1 pop-SD         0.000000\n"
              "Col 1 pop-mean       0.000000\n"
              "Col 1 z-scores:\n"
              "             Val          z-score CDF = P(x < Val)\n"
              "        0.000000         1.000000         0.841345\n"
              "       -0.000000        -1.000000         0.158655\n");
}

// Every statistic of data scaled by 2^k: a scale-free one prints the same
// digits at every scale, one of degree d (a mean: 1, a variance: 2) prints
// its value at the largest scale where it is finite (2^900 or 2^400, whose
// "%f" shows every digit) times 2^(d (k - that scale)), wherever that is
// finite, and inf where that overflows.
TEST(ProcessStream, EveryStatisticScalesWithItsData)
{
    struct fn_t {
        const char *word;
        tallyf_code_t code;
        const char *param; // or null
        bool pair;
    };
    const fn_t fns[] = {
        {"mean", TALLYF_MEAN, nullptr, false},
        {"quantile", TALLYF_QUANTILE, "3", false},
        {"median", TALLYF_MEDIAN, nullptr, false},
        {"quartile", TALLYF_QUARTILE, nullptr, false},
        {"pop-var", TALLYF_POP_VAR, nullptr, false},
        {"pop-SD", TALLYF_POP_SD, nullptr, false},
        {"pop-z-scores", TALLYF_POP_Z_SCORES, nullptr, false},
        {"sample-var", TALLYF_SAMPLE_VAR, nullptr, false},
        {"sample-SD", TALLYF_SAMPLE_SD, nullptr, false},
        {"sample-z-scores", TALLYF_SAMPLE_Z_SCORES, nullptr, false},
        {"sample-SE", TALLYF_SAMPLE_SE, nullptr, false},
        {"sample-t-score", TALLYF_SAMPLE_T_SCORE, "5", false},
        {"mode", TALLYF_MODE, nullptr, false},
        {"range", TALLYF_RANGE, nullptr, false},
        {"iq-range", TALLYF_IQ_RANGE, nullptr, false},
        {"box-plot", TALLYF_BOX_PLOT, nullptr, false},
        {"chi-sq-fit", TALLYF_CHI_SQ_FIT, nullptr, false},
        {"count", TALLYF_COUNT, nullptr, false},
        {"sum", TALLYF_SUM, nullptr, false},
        {"min", TALLYF_MIN, nullptr, false},
        {"max", TALLYF_MAX, nullptr, false},
        {"percentile", TALLYF_PERCENTILE, "10,50,90", false},
        {"geo-mean", TALLYF_GEO_MEAN, nullptr, false},
        {"harm-mean", TALLYF_HARM_MEAN, nullptr, false},
        {"skewness", TALLYF_SKEWNESS, nullptr, false},
        {"kurtosis", TALLYF_KURTOSIS, nullptr, false},
        {"mad", TALLYF_MAD, nullptr, false},
        {"summary", TALLYF_SUMMARY, nullptr, false},
        {"covariance", TALLYF_COVARIANCE, nullptr, true},
        {"correlation", TALLYF_CORRELATION, nullptr, true},
        {"regression", TALLYF_REGRESSION, nullptr, true},
        {"welch-t", TALLYF_WELCH_T, nullptr, true},
        {"paired-t", TALLYF_PAIRED_T, nullptr, true},
    };
    const int scales[] = {-1000, -600, -400, -200, 0, 200, 400, 600, 900};
    constexpr size_t kOne = 4; // 2^0
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> spread(1, 9);
    std::vector<double> xs(11), ys(11);
    for (size_t i = 0; i < xs.size(); ++i) {
        xs[i] = spread(random);
        ys[i] = i % 4 == 0 ? xs[i] : spread(random); // ties for the mode
    }
    const auto hex = [](double x) {
        char b[64];
        std::snprintf(b, sizeof b, "%a", x);
        return std::string(b);
    };
    // What one function prints at scale 2^k, line by line.
    const auto run = [&](const fn_t &f, int k) {
        std::vector<std::string> w = {"numtally", f.word};
        if (f.param != nullptr)
            w.push_back(f.code == TALLYF_SAMPLE_T_SCORE
                            ? hex(std::ldexp(std::atof(f.param), k))
                            : f.param);
        for (const char *c : f.pair ? std::vector<const char *>{"1", "2"}
                                    : std::vector<const char *>{"1"}) {
            w.push_back("--col");
            w.push_back(c);
        }
        TabularRun r(w);
        r.add(1, f.code);
        std::string in;
        for (size_t i = 0; i < xs.size(); ++i)
            in += hex(std::ldexp(xs[i], k)) + " " + hex(std::ldexp(ys[i], k)) + "\n";
        std::vector<std::string> lines;
        std::istringstream out(r.process(in));
        for (std::string line; std::getline(out, line);)
            lines.push_back(line);
        return lines;
    };
    // The degree of a statistic in its data; -1: neither (chi-square's
    // probability depends on the size of the counts).
    const auto degree = [](const std::string &name) {
        for (const char *n : {"sum-squares", "pop-var", "sample-var",
                              "pop-covariance", "sample-covariance"})
            if (name == n)
                return 2;
        for (const char *n :
             {"count", "mode-count", "outliers", "plot", "pairs", "first-n",
              "second-n", "t", "df", "p-value", "correlation", "slope",
              "r-squared", "t-score", "pop-skewness", "sample-skewness",
              "pop-ex-kurtosis", "sample-ex-kurtosis", "z-scores:", "Val"})
            if (name == n)
                return 0;
        return name == "P(>chi-sq)" ? -1 : 1;
    };
    // A line split into its head, statistic name and numbers (a listing
    // row: degrees 1, 0, 0).
    struct parsed_t {
        std::string head, name;
        std::vector<std::string> values;
        std::vector<int> degrees;
    };
    const auto parse = [&](const std::string &line) {
        parsed_t p;
        std::istringstream in(line);
        std::vector<std::string> t;
        for (std::string word; in >> word;)
            t.push_back(word);
        if (line.rfind("Col", 0) != 0) { // a listing row or its heading
            p.name = t.empty() ? "" : t[0];
            p.values = t;
            for (size_t i = 0; i < t.size(); ++i)
                p.degrees.push_back(i == 0 && t.size() == 3 ? 1 : 0);
            return p;
        }
        p.head = t[0] + " " + t[1];
        p.name = t.size() > 2 ? t[2] : "";
        size_t first = 3;
        if (t.size() > 3 && t[3].find('%') != std::string::npos) // mean 95%-CI-2SE
            p.name += " " + t[first++];
        const int d = degree(p.name);
        for (size_t i = first; i < t.size(); ++i) {
            std::string v = t[i];
            v.erase(0, v.find_first_not_of('('));
            v.erase(v.find_last_not_of("),") + 1);
            p.values.push_back(v);
            p.degrees.push_back(d);
        }
        return p;
    };
    for (const fn_t &f : fns) {
        std::vector<std::vector<std::string>> out;
        for (int k : scales)
            out.push_back(run(f, k));
        for (size_t s = 0; s < std::size(scales); ++s) {
            const int k = scales[s];
            ASSERT_EQ(out[s].size(), out[kOne].size()) << f.word << " at 2^" << k;
            for (size_t j = 0; j < out[kOne].size(); ++j) {
                const parsed_t got = parse(out[s][j]), base = parse(out[kOne][j]);
                ASSERT_EQ(got.values.size(), base.values.size())
                    << f.word << " at 2^" << k << ": " << out[s][j];
                for (size_t v = 0; v < got.values.size(); ++v) {
                    const int d = base.degrees[v];
                    if (d < 0)
                        continue;
                    std::string expected = base.values[v];
                    // The largest scale where the value stays finite
                    // prints its every digit.
                    const size_t ref = d == 1 ? 8 : 6;
                    const std::string at_ref = parse(out[ref][j]).values.at(v);
                    if (d > 0 && !std::isfinite(std::strtod(at_ref.c_str(), nullptr)))
                        expected = at_ref; // nan or inf at every scale
                    else if (d > 0) {
                        const int m = d * (k - scales[ref]);
                        const double x =
                            std::ldexp(std::strtod(at_ref.c_str(), nullptr), m);
                        expected = std::isinf(x) ? (x > 0 ? "inf" : "-inf")
                                                 : scale_text(at_ref, m);
                    }
                    EXPECT_EQ(got.values[v], expected)
                        << f.word << " at 2^" << k << ": " << out[s][j];
                }
            }
        }
    }
}

TEST(ProcessStreamDeathTest, LostTemporaryFileIsAnErrorNotAShortListing)
{
    TabularRun r({"numtally", "sample-z-scores", "--col", "1"});
    r.add(1, TALLYF_SAMPLE_Z_SCORES);
    std::fclose(r.list.functions[0].tmp_file);
    r.list.functions[0].tmp_file = std::fopen("/dev/full", "w+");
    EXPECT_EXIT(r.process("1\n2\n"), testing::ExitedWithCode(74),
                "^numtally: cannot write temporary file: ");
}

} // namespace
