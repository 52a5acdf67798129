#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "xt.h"

namespace {

// One field as the reader returns it: its text, what ended it, its length.
struct Field {
    std::string text;
    int end;
    size_t len;
    bool operator==(const Field &o) const
    {
        return text == o.text && end == o.end && len == o.len;
    }
};

std::ostream &operator<<(std::ostream &os, const Field &f)
{
    return os << "{\"" << f.text << "\", " << f.end << ", " << f.len << "}";
}

// Reads input to its end through the reader, as the list does, with the
// stream's buffer of stdio_buffer bytes (0: the default).
std::vector<Field> read_all(const std::string &input, const char *delims,
                            size_t size, size_t stdio_buffer)
{
    std::string copy = input;
    FILE *f = fmemopen(copy.data(), copy.size(), "r");
    std::vector<char> iobuf(stdio_buffer + 1);
    if (stdio_buffer != 0)
        setvbuf(f, iobuf.data(), _IOFBF, stdio_buffer);
    std::vector<Field> out;
    std::vector<char> buf(size + 1, 'X');
    size_t len = 0;
    int end;
    while ((end = xt_dsv_read_field(f, buf.data(), size, delims, &len)) != -1)
        out.push_back({std::string(buf.data(), std::min(len, size - 1)), end,
                       len});
    std::fclose(f);
    return out;
}

// The fields of input; tiny stream buffers, which refill between any two
// characters, must not change them.
std::vector<Field> fields(const std::string &input, const char *delims,
                          size_t size = 4096)
{
    const auto plain = read_all(input, delims, size, 0);
    for (size_t b : {1, 2, 3})
        EXPECT_EQ(read_all(input, delims, size, b), plain)
            << "stream buffer of " << b << " bytes";
    return plain;
}

Field F(const std::string &t, int end) { return {t, end, t.size()}; }

TEST(DsvReader, SplitsOnEveryDelimiterAndNewline)
{
    EXPECT_EQ(fields("1,2;3\n4\n", ",;"),
              (std::vector<Field>{F("1", ','), F("2", ';'), F("3", '\n'),
                                  F("4", '\n')}));
    // A newline ends a field even when it is not among the delimiters.
    EXPECT_EQ(fields("a\nb\n", ""),
              (std::vector<Field>{F("a", '\n'), F("b", '\n')}));
}

TEST(DsvReader, NonSpaceDelimitersNeverCollapse)
{
    EXPECT_EQ(fields("1\t\t3\n", " \t"),
              (std::vector<Field>{F("1", '\t'), F("", '\t'), F("3", '\n')}));
    EXPECT_EQ(fields(",\n", ","),
              (std::vector<Field>{F("", ','), F("", '\n')}));
}

TEST(DsvReader, SpaceRunsAreOneDelimiterAndBlankEdgesMakeNoField)
{
    EXPECT_EQ(fields("  3   6 1  \n", " \t"),
              (std::vector<Field>{F("3", ' '), F("6", ' '), F("1", '\n')}));
    // Spaces beside another delimiter merge into it.
    EXPECT_EQ(fields("1 \t 2\n", " \t"),
              (std::vector<Field>{F("1", '\t'), F("2", '\n')}));
    // Without space among the delimiters, spaces are ordinary characters.
    EXPECT_EQ(fields(" 5 ,6\n", ","),
              (std::vector<Field>{F(" 5 ", ','), F("6", '\n')}));
}

TEST(DsvReader, EmptyAndBlankLinesAreEmptyFieldsEndedByNewline)
{
    EXPECT_EQ(fields("1\n\n   \n2\n", " \t"),
              (std::vector<Field>{F("1", '\n'), F("", '\n'), F("", '\n'),
                                  F("2", '\n')}));
    EXPECT_TRUE(fields("", " ").empty());
}

TEST(DsvReader, LastLineWithoutNewlineIsNotLost)
{
    EXPECT_EQ(fields("1 2\n3 4", " \t"),
              (std::vector<Field>{F("1", ' '), F("2", '\n'), F("3", ' '),
                                  F("4", '\n')}));
    EXPECT_EQ(fields("3 4   ", " "),
              (std::vector<Field>{F("3", ' '), F("4", '\n')}));
    // A delimiter just before the end still ends a field: one more follows.
    EXPECT_EQ(fields("1,2,", ","),
              (std::vector<Field>{F("1", ','), F("2", ','), F("", '\n')}));
    EXPECT_EQ(fields("1\t  ", " \t"),
              (std::vector<Field>{F("1", '\t'), F("", '\n')}));
}

TEST(DsvReader, CrLfEndsALine)
{
    EXPECT_EQ(fields("1,2\r\n3\r\n", ","),
              (std::vector<Field>{F("1", ','), F("2", '\n'), F("3", '\n')}));
    EXPECT_EQ(fields("1 2  \r\n\r\n", " "),
              (std::vector<Field>{F("1", ' '), F("2", '\n'), F("", '\n')}));
    // A CR elsewhere is an ordinary character; one at the very end ends
    // the line.
    EXPECT_EQ(fields("1\r2\n3\r", ","),
              (std::vector<Field>{F("1\r2", '\n'), F("3", '\n')}));
    EXPECT_EQ(fields("1  \r2\n", " "),
              (std::vector<Field>{F("1", ' '), F("\r2", '\n')}));
}

TEST(DsvReader, LongFieldIsConsumedWholeAndReportsItsLength)
{
    const std::string big(5000, '7');
    const auto got = fields(big + " 8\n", " ", 4096);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].len, 5000u);
    EXPECT_EQ(got[0].text, std::string(4095, '7'));
    EXPECT_EQ(got[1], F("8", '\n'));
}

TEST(DsvReader, BufferIsAlwaysTerminated)
{
    std::string copy = "123456789\n";
    FILE *f = fmemopen(copy.data(), copy.size(), "r");
    char buf[5];
    size_t len;
    EXPECT_EQ(xt_dsv_read_field(f, buf, sizeof buf, " ", &len), '\n');
    EXPECT_STREQ(buf, "1234");
    EXPECT_EQ(len, 9u);
    std::fclose(f);
}

TEST(DsvReader, NulBytesStayInTheField)
{
    const auto got = fields(std::string("1\0002 3\n", 6), " ");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].len, 3u);
    EXPECT_EQ(got[0].text, std::string("1\0002", 3));
}

TEST(DsvReader, DelimiterSetMayChangeBetweenCalls)
{
    std::string copy = "1:2 3:4\n";
    FILE *f = fmemopen(copy.data(), copy.size(), "r");
    char buf[16];
    size_t len;
    EXPECT_EQ(xt_dsv_read_field(f, buf, sizeof buf, ":", &len), ':');
    EXPECT_EQ(xt_dsv_read_field(f, buf, sizeof buf, " ", &len), ' ');
    EXPECT_STREQ(buf, "2");
    EXPECT_EQ(xt_dsv_read_field(f, buf, sizeof buf, ":", &len), ':');
    EXPECT_STREQ(buf, "3");
    std::fclose(f);
}

TEST(DoubleOrder, SortsNumbersThenNans)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> v = {3, nan, -inf, 0.0, -0.0, inf, -2, -nan, 1e-310};
    std::qsort(v.data(), v.size(), sizeof(double), xt_double_cmp);
    EXPECT_EQ(v[0], -inf);
    EXPECT_EQ(v[1], -2);
    EXPECT_TRUE(std::signbit(v[2]) && v[2] == 0); // -0 before +0
    EXPECT_TRUE(!std::signbit(v[3]) && v[3] == 0);
    EXPECT_EQ(v[4], 1e-310);
    EXPECT_EQ(v[5], 3);
    EXPECT_EQ(v[6], inf);
    EXPECT_TRUE(std::isnan(v[7]) && std::isnan(v[8]));
}

TEST(DoubleOrder, OnlyIdenticalBitsCompareEqual)
{
    const double a = std::numeric_limits<double>::quiet_NaN();
    const double b = -a;
    EXPECT_NE(xt_double_cmp(&a, &b), 0);
    EXPECT_EQ(xt_double_cmp(&a, &a), 0);
    EXPECT_EQ(xt_double_cmp(&a, &b), -xt_double_cmp(&b, &a));
    EXPECT_TRUE(xt_double_less(1, 2));
    EXPECT_FALSE(xt_double_less(2, 2));
    // Agrees with the comparison function everywhere.
    const double vals[] = {-1, 0.5, -0.0, 0.0, a, b, 1e308};
    for (double x : vals)
        for (double y : vals)
            EXPECT_EQ(xt_double_less(x, y), xt_double_cmp(&x, &y) < 0);
}

TEST(Alloc, ReallocKeepsValues)
{
    auto *p = static_cast<double *>(xt_malloc(1024, sizeof(double)));
    for (int i = 0; i < 1024; ++i)
        p[i] = i;
    p = static_cast<double *>(xt_realloc(p, 2048, sizeof(double)));
    EXPECT_EQ(p[1023], 1023);
    std::free(p);
}

TEST(Alloc, ExhaustionThrowsToTheCaller)
{
    EXPECT_THROW(xt_malloc(SIZE_MAX / 2, 4), std::bad_alloc);
    EXPECT_THROW(xt_realloc(nullptr, std::numeric_limits<size_t>::max() / 16,
                            8),
                 std::bad_alloc);
    EXPECT_THROW(xt_grow_huge(nullptr, 0, SIZE_MAX / 16, 8), std::bad_alloc);
}

} // namespace
