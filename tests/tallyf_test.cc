#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>

#include "bivariate.h"
#include "exact-fixed.h"
#include "mad.h"
#include "moments.h"
#include "positive-means.h"
#include "tallyf.h"
#include "two-sample.h"
#include "xt.h"

namespace {

// A record of the given code fed the given values, as the list sets it up.
tallyf_t record(tallyf_code_t code, std::initializer_list<double> values,
                uint32_t partitions = 0)
{
    tallyf_t tf;
    tf.code = code;
    tallyf_init(&tf);
    tf.row = 1;
    if (code == TALLYF_QUANTILE) {
        tf.partitions = partitions;
        tf.nums = static_cast<double *>(xt_malloc(1024, sizeof(double)));
        tf.array_size = 1024;
    }
    for (double v : values)
        tallyf_process_val(&tf, v);
    return tf;
}

std::string quantile_lines(tallyf_t tf)
{
    testing::internal::CaptureStdout();
    tallyf_quantiles(&tf, "Row", 1);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(Record, InitClearsCountsButKeepsWhatTheListSets)
{
    tallyf_t tf;
    tf.code = TALLYF_SAMPLE_T_SCORE;
    tf.expected_mean = 5;
    tf.sum = 9;
    tf.num_count = 9;
    tf.shift = tf.sum_d = tf.sum_d_lo = tf.sum_d_2 = tf.sum_d_2_lo = 9;
    tf.shift_count = 9;
    tallyf_init(&tf);
    EXPECT_EQ(tf.shift, 0);
    EXPECT_EQ(tf.shift_count, 0u);
    EXPECT_EQ(tf.sum_d, 0);
    EXPECT_EQ(tf.sum_d_lo, 0);
    EXPECT_EQ(tf.sum_d_2, 0);
    EXPECT_EQ(tf.sum_d_2_lo, 0);
    EXPECT_EQ(tf.code, TALLYF_SAMPLE_T_SCORE);
    EXPECT_EQ(tf.expected_mean, 5);
    EXPECT_EQ(tf.row, 0u);
    EXPECT_EQ(tf.rows, nullptr);
    EXPECT_EQ(tf.cols, nullptr);
    EXPECT_EQ(tf.sum, 0);
    EXPECT_EQ(tf.num_count, 0u);
    EXPECT_EQ(tf.nums, nullptr);
    EXPECT_NE(tf.tmp_file, nullptr);
}

TEST(Record, SumsFollowTheCode)
{
    const tallyf_t mean = record(TALLYF_MEAN, {3, 6, 1, 8, 2});
    EXPECT_EQ(mean.sum, 20);
    EXPECT_EQ(mean.num_count, 5u);
    EXPECT_EQ(mean.sum_x_2, 0); // only sum and count for a mean

    for (tallyf_code_t code : {TALLYF_POP_VAR, TALLYF_SAMPLE_SE,
                               TALLYF_SAMPLE_T_SCORE, TALLYF_POP_Z_SCORES}) {
        const tallyf_t tf = record(code, {3, 6, 1, 8, 2});
        EXPECT_EQ(tf.sum_x, tf.sum);
        EXPECT_EQ(tf.sum_x_2, 114);
        EXPECT_EQ(tallyf_sum_squares(&tf), 34);
    }
}

TEST(Record, ValuesWithoutAReportStillCount)
{
    const tallyf_t tf = record(static_cast<tallyf_code_t>(99), {1, 2});
    EXPECT_EQ(tf.sum, 3);
    EXPECT_EQ(tf.num_count, 2u);
}

TEST(SumSquares, EdgeValues)
{
    const tallyf_t none = record(TALLYF_POP_VAR, {});
    EXPECT_TRUE(std::isnan(tallyf_sum_squares(&none)));
    const tallyf_t one = record(TALLYF_POP_VAR, {7.25});
    EXPECT_EQ(tallyf_sum_squares(&one), 0);
    const tallyf_t neg = record(TALLYF_POP_VAR, {-1, -2, -3});
    EXPECT_EQ(neg.sum, -6);
    EXPECT_EQ(neg.sum_x_2, 14);
    EXPECT_EQ(tallyf_sum_squares(&neg), 2);
    const tallyf_t inf = record(TALLYF_POP_VAR, {1, INFINITY});
    EXPECT_TRUE(std::isinf(inf.sum));
    EXPECT_TRUE(std::isnan(tallyf_sum_squares(&inf)));
}

TEST(SumSquares, CancellationNeverGoesNegative)
{
    const tallyf_t tenths = record(TALLYF_POP_VAR, {0.1, 0.1, 0.1});
    EXPECT_EQ(tenths.sum_x, 0.30000000000000004);
    EXPECT_EQ(tenths.sum_x_2, 0.030000000000000006);
    const double ss = tallyf_sum_squares(&tenths);
    EXPECT_EQ(ss, 0);
    EXPECT_FALSE(std::signbit(ss)); // prints 0.000000, not -0.000000
    EXPECT_EQ(tallyf_mean(&tenths), 0.1);
    // Large close values keep every digit (the one-pass formula gave 0).
    const tallyf_t big =
        record(TALLYF_POP_VAR, {1000000001, 1000000002, 1000000003});
    EXPECT_EQ(tallyf_sum_squares(&big), 2);
}

TEST(SumSquares, RecordSetUpByHandUsesThePlainSums)
{
    // Sums given through the fields, the exact ones left at 0: the one-pass
    // formula and sum / n, as ever.
    tallyf_t tf;
    tf.code = TALLYF_SAMPLE_VAR;
    tallyf_init(&tf);
    tf.num_count = 5;
    tf.sum = tf.sum_x = 20;
    tf.sum_x_2 = 114;
    EXPECT_EQ(tallyf_sum_squares(&tf), 34);
    EXPECT_EQ(tallyf_mean(&tf), 4);
    // Values fed after that do not cover the count: still the plain sums.
    tallyf_process_val(&tf, 4);
    EXPECT_EQ(tallyf_sum_squares(&tf), 34);
    EXPECT_EQ(tallyf_mean(&tf), 4);
}

TEST(Mean, EdgeValues)
{
    const tallyf_t none = record(TALLYF_MEAN, {});
    EXPECT_TRUE(std::isnan(tallyf_mean(&none)));
    const tallyf_t inf = record(TALLYF_SAMPLE_SD, {1, INFINITY});
    EXPECT_EQ(tallyf_mean(&inf), INFINITY);
    const tallyf_t nan = record(TALLYF_MEAN, {NAN, 1});
    EXPECT_TRUE(std::isnan(tallyf_mean(&nan)));
}

// ---- Exact sums against tests/reference/sums.tsv (Python fractions).

std::vector<double> data_set(const std::string &name)
{
    std::vector<double> xs;
    if (name == "numacc1") {
        xs = {10000001, 10000003, 10000002};
    } else if (name == "numacc3" || name == "numacc4") {
        const bool four = name == "numacc4";
        xs.push_back(four ? 10000000.2 : 1000000.2);
        for (int i = 0; i < 500; ++i) {
            xs.push_back(four ? 10000000.1 : 1000000.1);
            xs.push_back(four ? 10000000.3 : 1000000.3);
        }
    } else if (name == "epoch") {
        for (uint64_t i = 0; i < 100000; ++i)
            xs.push_back(static_cast<double>(1700000000 + i * 7919 % 86401));
    } else if (name == "tera") {
        for (uint64_t i = 0; i < 20000; ++i)
            xs.push_back(static_cast<double>(1000000000000 + i % 11));
    } else if (name == "milli") {
        char text[32];
        for (int i = 0; i < 100000; ++i) {
            std::snprintf(text, sizeof text, "%d.%03d", 1000000000 + i / 1000,
                          i % 1000);
            xs.push_back(std::strtod(text, nullptr));
        }
    } else if (name == "mixed") {
        for (int i = 1; i <= 1000; ++i)
            xs.push_back(static_cast<double>(i % 7 - 3) * 1e15 + i * 0.1);
    } else if (name == "far") {
        xs.push_back(1e6);
        for (int i = 1; i <= 100000; ++i)
            xs.push_back(i * 0.001);
    } else if (name == "interval") {
        for (auto [x, k] : {std::pair{1e15, 14671}, {-1e15, 14330}, {1.0, 333},
                            {0.5, 333}, {3.0, 334}})
            xs.insert(xs.end(), k, x);
    } else {
        const double big = 1.7976931348623157e308;
        static const std::map<std::string, std::vector<double>> small = {
            {"one-huge", {1e301}},
            {"two-largest", {1e308, 1e308}},
            {"huge-pair", {1e152, 0}},
            {"wide-pair", {1.5e154, 0}},
            {"beyond", {1e155, -1e155}},
            {"cancel", {1e308, 1e308, -1e308, -1e308, 3}},
            {"ends", {6.66e153, big, -big}},
            {"tie", {5e-324, 0}},
            {"tie-reversed", {0, 5e-324}},
        };
        xs = small.at(name);
    }
    return xs;
}

TEST(ExactSums, MeanAndSumOfSquaresAreTheExactValuesRounded)
{
    std::ifstream in(REFERENCE_DIR "/sums.tsv");
    std::string line;
    int sets = 0;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string name, n, mean, ss, sum, sum_x_2, ci_low, ci_high;
        f >> name >> n >> mean >> ss >> sum >> sum_x_2 >> ci_low >> ci_high;
        const std::vector<double> xs = data_set(name);
        ASSERT_EQ(xs.size(), std::stoul(n)) << name;
        ++sets;
        for (tallyf_code_t code : {TALLYF_MEAN, TALLYF_SAMPLE_VAR,
                                   TALLYF_POP_Z_SCORES, TALLYF_QUANTILE}) {
            tallyf_t tf = record(code, {}, 2);
            for (double x : xs)
                tallyf_process_val(&tf, x);
            EXPECT_EQ(tallyf_mean(&tf), std::strtod(mean.c_str(), nullptr))
                << name << " code " << code;
            // The plain running sums are what they always were.
            EXPECT_EQ(tf.sum, std::strtod(sum.c_str(), nullptr)) << name;
            EXPECT_EQ(tf.num_count, xs.size());
            if (code == TALLYF_SAMPLE_VAR || code == TALLYF_POP_Z_SCORES) {
                const double sum_squares = tallyf_sum_squares(&tf);
                EXPECT_EQ(sum_squares, std::strtod(ss.c_str(), nullptr))
                    << name;
                // The interval as the report derives it.
                const double n = static_cast<double>(xs.size());
                const double se = n > 1 ? std::sqrt(sum_squares / (n - 1)) /
                                              std::sqrt(n)
                                        : 0;
                double low, high;
                tallyf_mean_interval(&tf, se + se, &low, &high);
                EXPECT_EQ(low, std::strtod(ci_low.c_str(), nullptr)) << name;
                EXPECT_EQ(high, std::strtod(ci_high.c_str(), nullptr)) << name;
                EXPECT_EQ(tf.sum_x, tf.sum) << name;
                EXPECT_EQ(tf.sum_x_2, std::strtod(sum_x_2.c_str(), nullptr))
                    << name;
            } else {
                EXPECT_EQ(tf.sum_x_2, 0) << name;
            }
        }
    }
    EXPECT_EQ(sets, 18);
}

TEST(Quantiles, ValuesArrayGrowsByDoublingAndKeepsItsValues)
{
    tallyf_t tf = record(TALLYF_QUANTILE, {}, 2);
    for (int i = 0; i < 1025; ++i)
        tallyf_process_val(&tf, i);
    EXPECT_EQ(tf.array_size, 2048u);
    EXPECT_EQ(tf.num_count, 1025u);
    for (int i = 0; i < 1025; ++i)
        ASSERT_EQ(tf.nums[i], i);
    // Straight after tallyf_init a value-keeping record has no array: its
    // first value gives it one (the sanitizer build sees any write past it).
    for (tallyf_code_t code : {TALLYF_QUANTILE, TALLYF_MODE, TALLYF_IQ_RANGE,
                               TALLYF_BOX_PLOT}) {
        tallyf_t bare;
        bare.code = code;
        tallyf_init(&bare);
        for (int i = 0; i < 100; ++i)
            tallyf_process_val(&bare, i);
        ASSERT_GE(bare.array_size, 100u);
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(bare.nums[i], i);
    }
}

TEST(Quantiles, WorkedExample)
{
    EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {3, 6, 1, 8, 2}, 4)),
              "Row 1 low            1.000000\n"
              "Row 1 quantile(0.25) 1.500000\n"
              "Row 1 quantile(0.50) 3.000000\n"
              "Row 1 quantile(0.75) 7.000000\n"
              "Row 1 high           8.000000\n");
}

TEST(Quantiles, InterpolatesByTheNPlusOneRule)
{
    EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {4, 2}, 2)),
              "Row 1 low            2.000000\n"
              "Row 1 quantile(0.50) 3.000000\n"
              "Row 1 high           4.000000\n");
    EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {1, 2, 3, 4}, 4)),
              "Row 1 low            1.000000\n"
              "Row 1 quantile(0.25) 1.250000\n"
              "Row 1 quantile(0.50) 2.500000\n"
              "Row 1 quantile(0.75) 3.750000\n"
              "Row 1 high           4.000000\n");
    EXPECT_EQ(quantile_lines(
                  record(TALLYF_QUANTILE, {9, 8, 7, 6, 5, 4, 3, 2, 1}, 3)),
              "Row 1 low            1.000000\n"
              "Row 1 quantile(0.33) 3.333333\n"
              "Row 1 quantile(0.67) 6.666667\n"
              "Row 1 high           9.000000\n");
    const std::string deciles = quantile_lines(
        record(TALLYF_QUANTILE, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10));
    EXPECT_NE(deciles.find("Row 1 quantile(0.10) 1.100000\n"),
              std::string::npos);
    EXPECT_NE(deciles.find("Row 1 quantile(0.90) 9.900000\n"),
              std::string::npos);
}

TEST(Quantiles, PositionComesFromTheOrderOfOperations)
{
    // With 6 partitions over 17 values the fifth position works out as
    // 14.999999999999998, not 15: the value lies just below the 15th.
    tallyf_t tf = record(TALLYF_QUANTILE, {}, 6);
    for (int i = 0; i < 14; ++i)
        tallyf_process_val(&tf, 0);
    for (int i = 0; i < 3; ++i)
        tallyf_process_val(&tf, 1e9);
    EXPECT_NE(quantile_lines(tf).find("Row 1 quantile(0.83) 999999999.999998\n"),
              std::string::npos);
}

TEST(Quantiles, PositionsOutsideTheValuesReadTheNearestEnd)
{
    EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {5}, 4)),
              "Row 1 low            5.000000\n"
              "Row 1 quantile(0.25) 5.000000\n"
              "Row 1 quantile(0.50) 5.000000\n"
              "Row 1 quantile(0.75) 5.000000\n"
              "Row 1 high           5.000000\n");
    // q 0.25 with 2 values sits at 0.75: the lowest value.
    EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {2, 1}, 4)),
              "Row 1 low            1.000000\n"
              "Row 1 quantile(0.25) 1.000000\n"
              "Row 1 quantile(0.50) 1.500000\n"
              "Row 1 quantile(0.75) 2.000000\n"
              "Row 1 high           2.000000\n");
    // q 0.75 with 3 values sits at 3: the highest value.
    EXPECT_NE(quantile_lines(record(TALLYF_QUANTILE, {1, 2, 3}, 4))
                  .find("quantile(0.75) 3.000000\n"),
              std::string::npos);
}

TEST(Quantiles, NoValuesShowNan)
{
    EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {}, 2)),
              "Row 1 low            nan\n"
              "Row 1 quantile(0.50) nan\n"
              "Row 1 high           nan\n");
}

TEST(Quantiles, FewPartitionsPrintOnlyTheEnds)
{
    for (uint32_t p : {0u, 1u})
        EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {2, -1}, p)),
                  "Row 1 low            -1.000000\n"
                  "Row 1 high           2.000000\n");
}

TEST(Quantiles, NanMakesEveryLineNan)
{
    EXPECT_EQ(quantile_lines(record(TALLYF_QUANTILE, {NAN, 1}, 0)),
              "Row 1 low            nan\n"
              "Row 1 high           nan\n");
}

TEST(ExactFixed, FormatsLikePrintfOfTheExactValue)
{
    // x * a/2 + y * b/2; the values from tests/reference/exact_fixed.py.
    struct {
        double x;
        int a;
        double y;
        int b;
        const char *text;
    } const cases[] = {
        {0x1.2a05f20001000p+33, 2, -0x1.56e1fc2f8f359p-997, -2, "10000000000.007813"},
        {0x1.0000000000000p-7, 2, 0x0.0p+0, 0, "0.007812"},
        {0x1.4f8b588e368f1p-19, 2, 0x0.0p+0, 0, "0.000003"},
        {-0x1.12e0be826d695p-30, 2, 0x0.0p+0, 0, "-0.000000"},
        {0x0.0000000000001p-1022, 1, 0x0.0p+0, 0, "0.000000"},
        {0x1.fffffffffffffp+1023, 5, 0x1.fffffffffffffp+1023, 5, "898846567431157854072637118658521783990352837629224982994587384015786303900142693802947793163834390857702294767571912321171606634447320913842337733517687584930249552882756410381227450451946644720379342542275669711522916184516114740829042796660616741373989131020723615843690885904596499406252020130920624291840.000000"},
        {0x1.999999999999ap-4, 5, 0x1.3333333333333p-2, -3, "-0.200000"},
        {-0x1.4000000000000p+1, 2, 0x1.4000000000000p+1, 2, "0.000000"},
    };
    for (const auto &c : cases) {
        exact_fixed_t v;
        exact_fixed_clear(&v);
        exact_fixed_add(&v, c.x, c.a);
        exact_fixed_add(&v, c.y, c.b);
        char text[400];
        exact_fixed_format(&v, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.x << " " << c.a << " " << c.y;
    }
    exact_fixed_t fence; // 2.5 * 0.1 - 1.5 * 0.3 lies just above -0.2
    exact_fixed_clear(&fence);
    exact_fixed_add(&fence, 0.1, 5);
    exact_fixed_add(&fence, 0.3, -3);
    EXPECT_EQ(exact_fixed_cmp(&fence, -0.2), 1);
    EXPECT_EQ(exact_fixed_cmp(&fence, -0.19999999999999996), -1);
}

TEST(ZScoreRecord, TemporaryFileKeepsExactValuesInOrder)
{
    tallyf_t tf = record(TALLYF_SAMPLE_Z_SCORES, {0.0000004, -3, 1e300});
    std::fflush(tf.tmp_file);
    std::rewind(tf.tmp_file);
    double back[4];
    ASSERT_EQ(std::fread(back, sizeof(double), 4, tf.tmp_file), 3u);
    EXPECT_EQ(back[0], 0.0000004);
    EXPECT_EQ(back[1], -3);
    EXPECT_EQ(back[2], 1e300);
    EXPECT_EQ(tf.sum_x, tf.sum);
}

TEST(ZScoreRecord, OtherCodesLeaveTheirFileEmpty)
{
    tallyf_t tf = record(TALLYF_SAMPLE_SD, {1, 2});
    std::fflush(tf.tmp_file);
    std::fseek(tf.tmp_file, 0, SEEK_END);
    EXPECT_EQ(std::ftell(tf.tmp_file), 0);
}

// Descriptors open in this process.
int open_descriptors()
{
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd)
        n += fcntl(fd, F_GETFD) != -1;
    return n;
}

// A record's stream is usable at once, but its file is made only when it
// is written to: 64 records cost no descriptor.
TEST(TemporaryFile, BackingFileIsMadeOnFirstWrite)
{
    const int before = open_descriptors();
    static tallyf_t records[64];
    for (tallyf_t &tf : records) {
        tallyf_init(&tf);
        ASSERT_NE(tf.tmp_file, nullptr);
    }
    EXPECT_EQ(open_descriptors(), before);

    FILE *f = records[0].tmp_file;
    char c;
    EXPECT_EQ(std::fread(&c, 1, 1, f), 0u); // an empty file
    uint64_t size = 99;
    ASSERT_EQ(tallyf_tmpfile_size(f, &size), 0);
    EXPECT_EQ(size, 0u);
    // A position taken before the file exists holds once it does.
    ASSERT_EQ(std::fseek(f, 3, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite("xyz", 1, 3, f), 3u);
    ASSERT_EQ(std::fflush(f), 0);
    EXPECT_EQ(open_descriptors(), before + 1);
    ASSERT_EQ(tallyf_tmpfile_size(f, &size), 0);
    EXPECT_EQ(size, 6u);
    std::rewind(f);
    char back[7] = {};
    ASSERT_EQ(std::fread(back, 1, 6, f), 6u);
    EXPECT_EQ(std::string(back, 6), std::string("\0\0\0xyz", 6));
    for (tallyf_t &tf : records)
        std::fclose(tf.tmp_file);
    EXPECT_EQ(open_descriptors(), before);
}

// A file that cannot be made fails the write, never silently.
TEST(TemporaryFile, FileThatCannotBeMadeFailsTheStream)
{
    const char *old = std::getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TMPDIR", "/nonexistent/numtally-tmp", 1);
    FILE *f = tallyf_tmpfile_lazy();
    ASSERT_NE(f, nullptr);
    errno = 0;
    EXPECT_EQ(tallyf_tmpfile_back(f), -1);
    EXPECT_EQ(errno, ENOENT);
    const double x = 1.5;
    std::fwrite(&x, sizeof x, 1, f);
    EXPECT_NE(std::fflush(f), 0);
    EXPECT_TRUE(std::ferror(f));
    std::fclose(f);
    if (old != nullptr)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(Formulas, NormalAndScores)
{
    EXPECT_EQ(normal_cdf(0, 0, 1), 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%f", normal_cdf(1.96, 0, 1));
    EXPECT_STREQ(buf, "0.975002");
    EXPECT_EQ(normal_cdf(1, 0, 0), 1);
    EXPECT_EQ(normal_cdf(-1, 0, 0), 0);
    EXPECT_TRUE(std::isnan(normal_cdf(0, 0, 0)));

    EXPECT_EQ(t_score(25, 10.5, 10, 1), 2.5);
    const double zero_n = t_score(0, 9, 10, 1);
    EXPECT_EQ(zero_n, 0);
    EXPECT_TRUE(std::signbit(zero_n));

    EXPECT_EQ(z_score(110, 100, 15), 10.0 / 15);
    EXPECT_EQ(z_equivalent(130, 100, 15, 500, 100), 700);
}

} // namespace

// ---- Shape, positive means, MAD, two columns and two samples against
// tests/reference/more_stats.tsv (fractions and mpmath).

std::vector<double> hex_list(const std::string &text, char sep)
{
    std::vector<double> xs;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, sep))
        if (!item.empty())
            xs.push_back(std::strtod(item.c_str(), nullptr));
    return xs;
}

// Equal as doubles (NaN equal to NaN), or within tolerance when given.
::testing::AssertionResult agrees(double got, double want, double tolerance)
{
    if (std::isnan(want) ? std::isnan(got)
                         : tolerance == 0 ? got == want
                                          : std::fabs(got - want) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << std::hexfloat << got << " (" << std::defaultfloat << got
           << ") where " << std::hexfloat << want << " was expected";
}

std::vector<double> computed(const std::string &kind,
                             const std::vector<double> &xs,
                             const std::vector<double> &ys)
{
    tallyf_sums2_t pair;
    tallyf_sums2_init(&pair);
    for (size_t i = 0; i < ys.size() && i < xs.size(); ++i)
        tallyf_sums2_add(&pair, xs[i], ys[i]);
    if (kind == "moments") {
        const tallyf_moments_t r = tallyf_moments(xs.data(), xs.size());
        return {r.g1, r.g2, r.G1, r.G2};
    }
    if (kind == "means") {
        tallyf_positive_sums_t geo, harm;
        tallyf_positive_init(&geo);
        tallyf_positive_init(&harm);
        for (double x : xs) {
            tallyf_geo_add(&geo, x);
            tallyf_harm_add(&harm, x);
        }
        return {tallyf_geo_mean(&geo), tallyf_harm_mean(&harm)};
    }
    if (kind == "mad") {
        std::vector<double> sorted = xs;
        xt_double_sort(sorted.data(), sorted.size());
        const tallyf_mad_t r = tallyf_mad(sorted.data(), sorted.size());
        return {r.raw, r.scaled};
    }
    if (kind == "pairs") {
        const tallyf_covariance_t c = tallyf_covariance(&pair);
        const tallyf_correlation_t k = tallyf_correlation(&pair);
        const tallyf_regression_t g = tallyf_regression(&pair);
        EXPECT_EQ(k.n, xs.size());
        return {c.pop, c.sample, k.r, k.p,
                g.slope, g.intercept, g.r_squared, g.residual_sd,
                tallyf_sums2_total(&pair, 0), tallyf_sums2_total_squares(&pair, 0),
                tallyf_sums2_total(&pair, 1), tallyf_sums2_total_squares(&pair, 1),
                tallyf_sums2_total_products(&pair)};
    }
    tallyf_t_test_t t;
    if (kind == "welch") {
        tallyf_sums1_t a, b;
        tallyf_sums1_init(&a);
        tallyf_sums1_init(&b);
        for (double x : xs)
            tallyf_sums1_add(&a, x);
        for (double y : ys)
            tallyf_sums1_add(&b, y);
        t = tallyf_welch_t(&a, &b);
        EXPECT_EQ(t.n2, ys.size());
    } else {
        t = tallyf_paired_t(&pair);
    }
    EXPECT_EQ(t.n1, xs.size());
    std::vector<double> r = {t.mean1, t.mean2, t.sd1, t.sd2, t.diff};
    if (kind == "paired")
        r.push_back(t.sd_diff);
    r.insert(r.end(), {t.t, t.df, t.p, t.ci_low, t.ci_high});
    return r;
}

TEST(MoreStatistics, ExactValuesRoundedOnce)
{
    std::ifstream in(REFERENCE_DIR "/more_stats.tsv");
    std::string line;
    int sets = 0;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string kind, name, xs, ys, expected;
        std::getline(f, kind, '\t');
        std::getline(f, name, '\t');
        std::getline(f, xs, '\t');
        std::getline(f, ys, '\t');
        std::getline(f, expected);
        const std::vector<double> want = hex_list(expected, ' ');
        const std::vector<double> got =
            computed(kind, hex_list(xs, ','), ys == "-" ? std::vector<double>{}
                                                        : hex_list(ys, ','));
        ASSERT_EQ(got.size(), want.size()) << kind << " " << name;
        ++sets;
        for (size_t i = 0; i < want.size(); ++i) {
            // Probabilities within 1e-11; the interval's bounds come from a
            // quantile in long double, so within a few units of 2^-60.
            const size_t p_at = kind == "pairs" ? 3 : kind == "welch" ? 7 : 8;
            const bool p = kind != "moments" && kind != "means" &&
                           kind != "mad" && i == p_at;
            const bool ci = (kind == "welch" || kind == "paired") && i > p_at;
            // Shape: within 2^-100 of the moments' scale (a g1 of 1e-32
            // for decimals whose binary values are almost symmetric).
            const double tolerance =
                p ? 1e-11 : ci ? std::fabs(want[i]) * 0x1p-58
                : kind == "moments" ? 0x1p-100 * (1 + std::fabs(want[i])) : 0;
            EXPECT_TRUE(agrees(got[i], want[i], tolerance))
                << kind << " " << name << " result " << i;
        }
    }
    EXPECT_EQ(sets, 26);
}
