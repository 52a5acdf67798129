#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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
