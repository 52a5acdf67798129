// The field reader against a reference: the plain reader that takes one
// character at a time from getc and documents the behaviour in xt.h.  The
// fast reader scans the stream's buffer itself, so every way a field can
// meet the end of that buffer is tried: tiny and odd stdio buffers, long
// fields, every delimiter set shape, stdio calls between fields, and
// xt_dsv_skip_line in the middle of lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "xt-dsv.h"
#include "xt.h"

#include "dsv_reference.h"

namespace {

struct Field {
    std::string text; // the buffer up to its terminator
    int end;
    size_t len;
    bool operator==(const Field &o) const
    {
        return text == o.text && end == o.end && len == o.len;
    }
};

std::ostream &operator<<(std::ostream &os, const Field &f)
{
    os << "{\"";
    for (unsigned char c : f.text)
        if (c >= 32 && c < 127)
            os << c;
        else
            os << "\\x" << std::hex << static_cast<int>(c) << std::dec;
    return os << "\", " << f.end << ", " << f.len << "}";
}

using Reader = int (*)(FILE *, char *, size_t, const char *, size_t *);

// What a test does between two fields.
enum Action { NOTHING, PEEK, SKIP_LINE, SKIP_0, SKIP_1, SKIP_3 };

struct Script {
    std::string input;
    const char *delims;
    size_t size;         // field buffer
    size_t stdio_buffer; // 0: the stream's own
    bool real_file;      // a temporary file rather than fmemopen
    std::vector<Action> actions; // one per field, cycled
    bool quotes = false; // quoted fields (the pass reader and the reference)
    bool skip_bom = false; // the pass reader skips a byte order mark
    std::string bom = "";  // bytes before the input that only it reads
};

// A quote fault ends a run; it shows up as a field "<fault>".
bool faulted(std::vector<Field> &out, int end)
{
    if (end >= -1)
        return false;
    out.push_back({"<fault>", end, 0});
    return true;
}

// The script's input as a stream: a temporary file or fmemopen over copy,
// with the script's stdio buffer (iobuf) when it asks for one.
FILE *open_input(const Script &s, std::string &copy, std::vector<char> &iobuf)
{
    FILE *f;
    if (s.real_file) {
        f = std::tmpfile();
        std::fwrite(copy.data(), 1, copy.size(), f);
        std::rewind(f);
    } else {
        f = fmemopen(copy.data(), copy.size(), "r");
    }
    if (s.stdio_buffer != 0)
        setvbuf(f, iobuf.data(), _IOFBF, s.stdio_buffer);
    return f;
}

// Reads the whole input with read, doing the script's actions between
// fields; a skipped line shows up as a field "<skip>".
std::vector<Field> run(const Script &s, Reader read, bool use_skip)
{
    reference::quotes = s.quotes;
    std::string copy = s.input;
    std::vector<char> iobuf(s.stdio_buffer + 1);
    FILE *f = open_input(s, copy, iobuf);

    std::vector<Field> out;
    std::vector<char> buf(s.size + 32, 'Z');
    size_t len = 0;
    for (size_t i = 0;; ++i) {
        const int end = read(f, buf.data(), s.size, s.delims, &len);
        if (end == -1 || faulted(out, end))
            break;
        out.push_back({std::string(buf.data()), end, len});
        const Action a = s.actions.empty() ? NOTHING
                                           : s.actions[i % s.actions.size()];
        if (a == PEEK) {
            // Another stdio user between two fields.
            const int c = std::getc(f);
            if (c != EOF)
                std::ungetc(c, f);
        } else if (a == SKIP_0 || a == SKIP_1 || a == SKIP_3) {
            const size_t count = a == SKIP_0 ? 0 : a == SKIP_1 ? 1 : 3;
            size_t skipped = 0;
            int e = -1;
            if (use_skip) {
                e = xt_dsv_skip_fields(f, s.delims, count, &skipped);
            } else {
                while (skipped < count) {
                    e = read(f, buf.data(), s.size, s.delims, &len);
                    if (e < 0)
                        break;
                    ++skipped;
                    if (e == '\n')
                        break;
                }
            }
            out.push_back({"<skip>", e, skipped});
            if (e < -1)
                break;
        } else if (a == SKIP_LINE && end != '\n') {
            out.push_back({"<skip>", 0, 0});
            if (use_skip) {
                xt_dsv_skip_line(f);
            } else {
                int e;
                while ((e = read(f, buf.data(), s.size, s.delims, &len)) >= 0 &&
                       e != '\n') {
                }
                if (faulted(out, e))
                    break;
            }
        }
    }
    EXPECT_FALSE(std::ferror(f));
    std::fclose(f);
    return out;
}

void expect_same(const Script &s)
{
    const auto want = run(s, reference::read_field, false);
    const auto got = run(s, xt_dsv_read_field, true);
    ASSERT_EQ(got, want) << "delims \"" << s.delims << "\", field buffer "
                         << s.size << ", stdio buffer " << s.stdio_buffer
                         << (s.real_file ? ", file" : ", fmemopen");
}

const char *const kDelimSets[] = {
    " \t", " ", "\t", ",", " ,", "\r", " \r", ",\r", ":;|", "abcde", "\n", "",
};

std::string random_input(std::mt19937 &rng, size_t length)
{
    // Mostly number-like fields, with every byte that matters to the reader.
    static const char kBytes[] = "0123456789012345678901234.-e  \t\t,,\n\n\r:ab";
    std::uniform_int_distribution<size_t> pick(0, sizeof kBytes - 2);
    std::uniform_int_distribution<int> odd(0, 99);
    std::string s;
    while (s.size() < length) {
        const int r = odd(rng);
        if (r == 0)
            s += '\0';
        else if (r == 1)
            s += std::string(std::uniform_int_distribution<size_t>(10, 40)(rng),
                             '7'); // longer than one sixteen-byte scan
        else if (r == 2)
            s += "\r\n";
        else if (r == 3)
            s += "   ";
        else
            s += kBytes[pick(rng)];
    }
    return s;
}

TEST(DsvReaderSpeed, MatchesTheReferenceOnHandPickedInputs)
{
    const std::string inputs[] = {
        "",
        "\n",
        "1",
        "1\n2\n",
        "1 2\t3\n",
        "  1  2  \n",
        "1,,2,\n,\n",
        "1,",
        "1 ,",
        "1 \t",
        "1\t",
        "1 ",
        "1 \r",
        "1  \r\n",
        "1 ,2\n",
        "1 \r\n2 \r3\r",
        "1\r2\r\n\r",
        "1234.5678\n-98.25\n0.001\n",
        "12345678901234567890123456789 1\n",
        "a\tb\tc\n\n\n",
        std::string("1\0002 3\n", 6),
        std::string(5000, '8') + " 9\n",
    };
    // Each input also comes after a first line, so that it starts in a
    // buffer that stdio has already filled.
    for (const std::string &text : inputs)
        for (const std::string &in : {text, "0\n" + text})
            for (const char *d : kDelimSets)
                for (size_t size : {1, 2, 5, 16, 17, 4096})
                    for (size_t b : {0, 1, 2, 3, 15, 16, 17})
                        expect_same({in, d, size, b, false, {}});
}

TEST(DsvReaderSpeed, MatchesTheReferenceOnRandomInputs)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        const std::string in = random_input(
            rng, std::uniform_int_distribution<size_t>(0, 600)(rng));
        const char *d = kDelimSets[round % std::size(kDelimSets)];
        const size_t sizes[] = {1, 3, 8, 16, 17, 24, 4096};
        const size_t buffers[] = {0, 1, 2, 5, 16, 31, 64, 4096};
        const size_t size = sizes[rng() % std::size(sizes)];
        const size_t buffer = buffers[rng() % std::size(buffers)];
        expect_same({in, d, size, buffer, round % 3 == 0, {}});
        if (HasFatalFailure())
            return;
    }
}

TEST(DsvReaderSpeed, OtherStdioCallsBetweenFieldsChangeNothing)
{
    std::mt19937 rng(777);
    for (int round = 0; round < 200; ++round) {
        const std::string in = random_input(rng, 300);
        expect_same({in, kDelimSets[round % std::size(kDelimSets)], 4096,
                     std::vector<size_t>{0, 1, 7, 16}[round % 4], round % 2 == 0,
                     {NOTHING, PEEK, PEEK, NOTHING, PEEK}});
        if (HasFatalFailure())
            return;
    }
}

TEST(DsvSkipLine, LeavesTheReaderAtTheNextLine)
{
    std::mt19937 rng(4242);
    for (int round = 0; round < 300; ++round) {
        const std::string in = random_input(rng, 400);
        expect_same({in, kDelimSets[round % std::size(kDelimSets)], 4096,
                     std::vector<size_t>{0, 1, 2, 9, 16}[round % 5],
                     round % 2 == 1, {NOTHING, SKIP_LINE, PEEK, SKIP_LINE}});
        if (HasFatalFailure())
            return;
    }
}

TEST(DsvSkipFields, ConsumesWhatTheReaderWouldHaveRead)
{
    std::mt19937 rng(5150);
    for (int round = 0; round < 300; ++round) {
        const std::string in = random_input(rng, 400);
        expect_same({in, kDelimSets[round % std::size(kDelimSets)], 4096,
                     std::vector<size_t>{0, 1, 3, 16, 40}[round % 5],
                     round % 2 == 0,
                     {SKIP_1, NOTHING, SKIP_3, PEEK, SKIP_0, SKIP_LINE}});
        if (HasFatalFailure())
            return;
    }
}

// The pass reader over the same script: its own buffer of the given
// capacity, filled from the stream's descriptor (a real file) or by fread
// (fmemopen), after a character taken and put back so that stdio holds
// bytes when it starts.
std::vector<Field> run_pass_reader(const Script &s, size_t capacity)
{
    std::string copy = s.bom + s.input;
    std::vector<char> iobuf(s.stdio_buffer + 1);
    FILE *f = open_input(s, copy, iobuf);
    const int c = std::getc(f);
    if (c != EOF)
        std::ungetc(c, f);

    static xt_dsv_reader_t r;
    const unsigned flags = (s.quotes ? XT_DSV_QUOTES : 0u) |
                           (s.skip_bom ? XT_DSV_SKIP_BOM : 0u);
    xt_dsv_pos_t pos = xt_dsv_reader_open(&r, f, s.delims, capacity, flags);
    std::vector<Field> out;
    for (size_t i = 0;; ++i) {
        const char *field;
        size_t len;
        const int end = xt_dsv_reader_next(&r, &pos, &field, &len);
        if (end == -1 || faulted(out, end))
            break;
        out.push_back({xt_dsv_reader_text(&r, field, len), end, len});
        const Action a = s.actions.empty() ? NOTHING
                                           : s.actions[i % s.actions.size()];
        if (a == SKIP_0 || a == SKIP_1 || a == SKIP_3) {
            const size_t count = a == SKIP_0 ? 0 : a == SKIP_1 ? 1 : 3;
            size_t skipped = 0;
            const int e = xt_dsv_reader_skip_fields(&r, &pos, count, &skipped);
            out.push_back({"<skip>", e, skipped});
            if (e < -1)
                break;
        } else if (a == SKIP_LINE && end != '\n') {
            out.push_back({"<skip>", 0, 0});
            if (faulted(out, xt_dsv_reader_skip_line(&r, &pos)))
                break;
        }
    }
    EXPECT_EQ(r.error, 0);
    std::fclose(f);
    return out;
}

void expect_pass_reader_same(const Script &s, size_t capacity)
{
    Script ref = s;
    ref.size = XT_DSV_FIELD_MAX + 1;
    const auto want = run(ref, reference::read_field, false);
    const auto got = run_pass_reader(s, capacity);
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    ASSERT_EQ(got, want)
        << "first difference at field " << i << ": "
        << (i < got.size() ? got[i] : Field{"<none>", 0, 0}) << " for "
        << (i < want.size() ? want[i] : Field{"<none>", 0, 0}) << "\n"
        << "delims \"" << s.delims << "\", capacity " << capacity
        << (s.quotes ? ", quoted" : "") << (s.skip_bom ? ", BOM skipped" : "")
        << ", stdio buffer " << s.stdio_buffer
        << (s.real_file ? ", file" : ", fmemopen");
}

// Quoted input: fields of every shape with delimiters, line ends, CR LF
// and doubled quotes inside, a quote inside an unquoted field, and now and
// then a fault (a quote left open, text after a closing quote).  Long:
// most quoted fields span several 64-byte blocks, with quotes in runs, so
// that doubled quotes and closing quotes meet the blocks' edges.
std::string random_quoted_input(std::mt19937 &rng, size_t length,
                                const std::string &delims, bool long_fields)
{
    const std::string ends = delims + "\n\n";
    static const char kInside[] = "0123456789.-e ,\t\n\r:;|ab";
    std::uniform_int_distribution<int> odd(0, 999);
    std::string s;
    while (s.size() < length) {
        const int r = odd(rng);
        if (r < 250) {
            if (!s.empty() && ends.find(s.back()) == std::string::npos)
                s += ends[rng() % ends.size()]; // at the start of a field
            s += '"';
            const size_t n = rng() % (r < 10 || long_fields ? 200 : 12);
            // (Long: half the fields with quotes in runs, half with few.)
            const unsigned spread = !long_fields ? 40 : r % 2 != 0 ? 12 : 300;
            for (size_t i = 0; i < n; ++i) {
                const unsigned k = rng() % spread;
                s += k < 4 ? std::string("\"\"") : k < 6 ? std::string("\r\n")
                     : std::string(1, kInside[k % (sizeof kInside - 1)]);
            }
            if (r != 0)
                s += '"';
            if (r == 1)
                s += 'x'; // text after the closing quote
            else if (r % 5 == 0)
                s += "\r\n";
            else
                s += ends[rng() % ends.size()];
        } else if (r < 260) {
            s += "a\"b"; // a quote inside an unquoted field
        } else if (r < 262) {
            s += "\"\r"; // a closing quote and a lone CR
        } else {
            s += random_input(rng, 1 + rng() % 6);
        }
    }
    return s;
}

// A delimiter set of 1 to 8 bytes drawn from those that mean something to
// the reader or to the input's numbers; now and then the quote itself,
// which turns quoting off.  Past four stop bytes (the delimiters, LF, CR
// and the quote) fields are no longer found with vector compares.
std::string random_delims(std::mt19937 &rng)
{
    static const char kPool[] = ",;:|\t !#a\r.-0";
    const size_t n = 1 + rng() % 8;
    std::string d;
    while (d.size() < n) {
        const char c = rng() % 50 == 0 ? '"' : kPool[rng() % (sizeof kPool - 1)];
        if (d.find(c) == std::string::npos)
            d += c;
    }
    return d;
}

// Random scripts for the pass reader: every way a field meets the end of
// the reader's buffer and of its 64-byte blocks (tiny and odd capacities,
// long fields), every delimiter set (quoted input: random sets every other
// round), skips between fields.
void random_pass_reader_scripts(unsigned seed, int rounds, bool quotes,
                                bool long_fields = false)
{
    std::mt19937 rng(seed);
    std::string delim_set;
    const size_t capacities[] = {1, 2, 3, 7, 16, 63, 64, 65, 130, 0};
    const size_t long_capacities[] = {129, 191, 257, 1000, 0, 0};
    const std::vector<Action> scripts[] = {
        {}, {NOTHING, SKIP_LINE}, {SKIP_1, NOTHING, SKIP_3, SKIP_0, SKIP_LINE}};
    for (int round = 0; round < rounds; ++round) {
        const char *delims = kDelimSets[round % std::size(kDelimSets)];
        if (quotes && round % 2 != 0) {
            delim_set = random_delims(rng);
            delims = delim_set.c_str();
        }
        const size_t length =
            std::uniform_int_distribution<size_t>(0, long_fields ? 4000 : 900)(rng);
        Script s{quotes ? random_quoted_input(rng, length, delims, long_fields)
                        : random_input(rng, length),
                 delims, 0, std::vector<size_t>{0, 1, 5, 64}[round % 4],
                 round % 2 == 0, scripts[round % std::size(scripts)]};
        if (round % 50 == 0)
            s.input += std::string(5000, '4') + "\t1 2\n"; // beyond the field limit
        s.quotes = quotes;
        s.skip_bom = quotes && round % 7 == 0;
        if (s.skip_bom)
            s.bom = "\xEF\xBB\xBF";
        expect_pass_reader_same(
            s, long_fields ? long_capacities[rng() % std::size(long_capacities)]
                           : capacities[rng() % std::size(capacities)]);
        if (testing::Test::HasFatalFailure())
            return;
    }
}

TEST(DsvPassReader, MatchesTheReferenceOnRandomInputs)
{
    random_pass_reader_scripts(90210, 600, false);
}

TEST(DsvPassReader, QuotedFieldsMatchTheReference)
{
    random_pass_reader_scripts(31337, 800, true);
}

TEST(DsvPassReader, LongQuotedFieldsAcrossBlocksMatchTheReference)
{
    random_pass_reader_scripts(4711, 400, true, true);
}

// A quoted field moved along the 64-byte blocks byte by byte, so that its
// closing quote, a doubled quote and what ends it each stand on either side
// of a block's edge; read and skipped, before every kind of ending and
// fault.
TEST(DsvPassReader, QuotedFieldsAtEveryBlockOffsetMatchTheReference)
{
    const std::string bodies[] = {"", "a\"\"", "\"\"\"\"", std::string(70, 'a'),
                                  "a,\n\"\"" + std::string(66, 'b') + "\"\"",
                                  std::string(130, ',')};
    const std::string endings[] = {",", "\n", "\r\n", "x,", "\r,", ""};
    for (size_t lead = 0; lead < 64; ++lead)
        for (const std::string &body : bodies)
            for (const std::string &ending : endings) {
                std::string line =
                    std::string(lead, '7') + ",\"" + body + "\"" + ending + "9\n";
                Script s{line + line + line + std::string(200, '5'),
                         ",", 0, 0, false, {NOTHING, SKIP_1, SKIP_3}};
                s.quotes = true;
                expect_pass_reader_same(s, 0);
                s.actions = {};
                expect_pass_reader_same(s, 0);
                if (testing::Test::HasFatalFailure())
                    return;
            }
}

// A quoted field whose closing quote falls on every byte of a block, under
// delimiter sets of 1 to 8 bytes: the fields after it are found with the
// set's every byte, in the same block and the next, in buffers that are
// refilled inside the quotes or not at all.
TEST(DsvPassReader, QuotedFieldsEndingOnEveryByteOfABlockUnderAnyDelimiterSet)
{
    std::mt19937 rng(2718);
    std::vector<std::string> sets = {",", ",;", ";,", ",;:|\t", " ,"};
    while (sets.size() < 12)
        sets.push_back(random_delims(rng));
    for (const std::string &d : sets) {
        // Every delimiter of the set once after the quoted field, then a
        // line end.
        std::string tail;
        for (size_t k = 0; k < d.size(); ++k)
            tail += d[k] + std::to_string(k + 5);
        const std::string bodies[] = {std::string(56, 'a'),
                                      "b" + d + "\n\"\"" + std::string(60, 'c'),
                                      std::string(3, 'e')};
        for (size_t lead = 0; lead < 64; ++lead)
            for (const std::string &body : bodies) {
                const std::string line =
                    std::string(lead, '7') + d[0] + "\"" + body + "\"" + tail + "\n";
                Script s{"x" + d + "1\n" + line + line + "y" + d + "2\n",
                         d.c_str(), 0, 0, lead % 2 == 0,
                         lead % 3 == 0 ? std::vector<Action>{}
                                       : std::vector<Action>{NOTHING, SKIP_1}};
                s.quotes = true;
                for (size_t capacity : {0, 64, 97, 150})
                    expect_pass_reader_same(s, capacity);
                if (testing::Test::HasFatalFailure())
                    return;
            }
    }
}

// Two inputs of the reader's fuzz target (fuzz/corpus/reader/skip-*), each
// with a set of more than four stop bytes (the delimiters, LF, CR and the
// quote), which the stop vectors cannot hold: field skips after a quoted
// field that ends on a block's last byte took the next block's stop bits
// from those vectors, and missed the quote or the delimiter that ended
// the next field.
TEST(DsvPassReader, SkipsAfterQuotedFieldsUnderSetsOfMoreThanFourStopBytes)
{
    // " \t" and quotes: an empty line, a quoted field whose closing quote
    // is the second block's first byte, then a quote left open; skipping
    // after the quoted field meets the fault, not a line end.
    Script open_quote{"\n\"" + std::string(62, 'x') + "\"\n\"\n", " \t", 0, 0,
                      false, {SKIP_0, SKIP_3, NOTHING, NOTHING, NOTHING}};
    open_quote.quotes = true;
    expect_pass_reader_same(open_quote, 0);

    // "0", 0x9c and 0x10 with a 5-byte stdio buffer: after nine fields a
    // skip of three fields ends at the delimiter 0x9c, not at the line's
    // end.
    const char wide[] =
        "\x00\x00\x00\x9c\x9c\x9c\x9c\x9c\xad\x9c\x9c\x9c\x9c\x9c\x9c\x9c\x9c"
        "\x9c\x9c\x9c\xff\x9e\x9c\"\x9c\x9c\x9c\x9c\xdf\x9d\xf4" "c\xff\xff\xff"
        "\xff" "0\xff\x9e\n\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\x9c"
        "\x9c\x9c\x9c\xdf\x9d\xf4" "c\n  \xfe \xfe g\"\x9c\x9c\n";
    Script delimiter{std::string(wide, sizeof wide - 1), "0\x9c\x10", 0, 5,
                     false, {NOTHING, SKIP_3, SKIP_3, SKIP_3, NOTHING}};
    delimiter.quotes = true;
    expect_pass_reader_same(delimiter, 4096);
}

// Only a whole mark at the very start is skipped; a part of one is text.
// Every capacity splits it.
TEST(DsvPassReader, SkipsAByteOrderMarkAtTheStart)
{
    for (size_t capacity : {1, 2, 3, 4, 0})
        for (const char *text : {"", "1", "1 2\n", "\xEF\xBB\xBF" "1\n", "\xBB\xBF",
                                 "\xEF\xBB", "\xEF"}) {
            Script s{text, " \t", 0, 0, capacity % 2 == 0, {}};
            s.skip_bom = true;
            s.bom = "\xEF\xBB\xBF";
            expect_pass_reader_same(s, capacity);
            s.input = std::string("\xEF\xBB") + text;
            s.bom = "";
            expect_pass_reader_same(s, capacity);
        }
}

TEST(DsvSkipLine, ReportsNewlineOrEndOfInput)
{
    std::string copy = "a b\r\nc\nlast";
    FILE *f = fmemopen(copy.data(), copy.size(), "r");
    EXPECT_EQ(xt_dsv_skip_line(f), '\n');
    EXPECT_EQ(xt_dsv_skip_line(f), '\n');
    EXPECT_EQ(xt_dsv_skip_line(f), -1); // a last line without a newline
    EXPECT_EQ(xt_dsv_skip_line(f), -1);
    char buf[8];
    size_t len;
    EXPECT_EQ(xt_dsv_read_field(f, buf, sizeof buf, " ", &len), -1);
    std::fclose(f);
}

TEST(DsvSkipLine, EatsTheNewlineOwedAfterADelimiterAtTheEnd)
{
    // "1," at the end of input owes an empty last field; skipping the line
    // takes it, and nothing is left.
    std::string copy = "1,";
    FILE *f = fmemopen(copy.data(), copy.size(), "r");
    char buf[8];
    size_t len;
    EXPECT_EQ(xt_dsv_read_field(f, buf, sizeof buf, ",", &len), ',');
    EXPECT_EQ(xt_dsv_skip_line(f), '\n');
    EXPECT_EQ(xt_dsv_read_field(f, buf, sizeof buf, ",", &len), -1);
    std::fclose(f);
}

} // namespace
