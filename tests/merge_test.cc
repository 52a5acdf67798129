// Merged parts against one pass: random inputs cut at random line
// boundaries into 2 to 8 parts, each part's pass into records of its own,
// merged in input order; the report, the notices and the status must be
// those of one pass over the whole, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "chunks.h"
#include "functions.h"
#include "run_list.h"
#include "tallyf-list-run.h"
#include "xt.h"

[[noreturn]] void usage(char **)
{
    std::fputs("usage\n", stderr);
    std::exit(64);
}

namespace {

struct Outcome {
    bool ok;
    int status;
    std::string out, notes, message;
};


// The two runs ended alike: status, message, report and notices.
void expect_same(const Outcome &a, const Outcome &b)
{
    EXPECT_EQ(a.ok, b.ok) << a.message << b.message;
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.message, b.message);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.notes, b.notes);
}

template <class Run>
Outcome capture(Run run)
{
    Outcome o;
    tally_error_t err;
    testing::internal::CaptureStdout();
    o.ok = run(&err, &o.notes);
    std::fflush(stdout);
    o.out = testing::internal::GetCapturedStdout();
    o.status = err.status;
    o.message = err.message;
    return o;
}

// A value as a file might hold it: small integers, decimals, numbers far
// apart in magnitude (so that sums need more than two doubles), now and
// then an empty field, an infinity or a NaN.
std::string random_field(std::mt19937_64 &rng, bool wild)
{
    std::uniform_int_distribution<int> pick(0, 99);
    const int k = pick(rng);
    std::uniform_int_distribution<int> small(-50, 50);
    char buf[64];
    if (k < 30)
        return std::to_string(small(rng));
    if (k < 60) {
        std::snprintf(buf, sizeof buf, "%d.%02d", small(rng), pick(rng));
        return buf;
    }
    if (k < 80) {
        std::uniform_int_distribution<int> exp(wild ? -300 : -20,
                                               wild ? 300 : 20);
        std::snprintf(buf, sizeof buf, "%de%d", small(rng), exp(rng));
        return buf;
    }
    if (k < 90) {
        std::uniform_real_distribution<double> u(-1, 1);
        std::snprintf(buf, sizeof buf, "%.17g", u(rng) * 1e16);
        return buf;
    }
    if (!wild || k < 94)
        return k % 2 != 0 ? "" : "NA";
    static const char *const odd[] = {"inf", "-inf", "nan", "1e308",
                                      "-1e308", "4.9e-324"};
    return odd[k % 6];
}

// Every function over columns, with its parameter.
struct Word {
    std::string word, param;
    bool two; // --col X --col Y
};

std::vector<Word> all_words()
{
    std::vector<Word> words;
    for (size_t i = 0; i < tally_function_count; ++i) {
        const tally_function_t &f = tally_functions[i];
        if (f.refusal != nullptr)
            continue;
        Word w{f.word, "", f.param == tally_param_t::two_columns};
        if (f.param == tally_param_t::divisions)
            w.param = "4";
        else if (f.param == tally_param_t::expected_mean)
            w.param = "1.5";
        else if (f.param == tally_param_t::percentiles)
            w.param = "10,50,95";
        else if (f.param == tally_param_t::count)
            w.param = "2";
        words.push_back(w);
    }
    return words;
}

// The bytes of a source handed out a few at a time, as a pipe gives them.
struct Trickle {
    const std::string *bytes;
    size_t at = 0;
    std::mt19937_64 *rng;
    xt_dsv_source_t source{read, this};

    static size_t read(void *ctx, unsigned char *dst, size_t room, int *)
    {
        auto *t = static_cast<Trickle *>(ctx);
        size_t n = std::min(room, t->bytes->size() - t->at);
        n = std::min<size_t>(n, 1 + (*t->rng)() % 300);
        std::copy_n(t->bytes->data() + t->at, n, dst);
        t->at += n;
        return n;
    }
};

} // namespace

// Chunks on threads against one pass: random inputs and options (as the
// merged parts' below, and now and then a field that is no number, an
// unclosed quote, or CSV keys that hold line ends and quotes, inside
// quotes or not), 1 to 8 threads, random chunk sizes, from memory or
// trickled from a source as a pipe gives it.
TEST(ThreadedChunks, ReportAsOnePassOverTheWhole)
{
    const std::vector<Word> words = all_words();
    std::mt19937_64 rng(20261211);
    for (int trial = 0; trial < 400; ++trial) {
        const bool wild = trial % 3 == 0;
        const bool header = rng() % 4 == 0;
        const bool skip = rng() % 3 == 0;
        const bool csv = rng() % 3 == 0;
        const char delim = csv ? ',' : '\t';
        const int cols = 1 + static_cast<int>(rng() % 3);
        bool by = rng() % 3 == 0;
        static const char *const keys[] = {"a", "b", "\"c\nd\"", "\"e\"\"f\"", "", "g\"h", "\"i,\n\"\"\""};
        // Now and then only keys that fool the quotes counted from the
        // start (a quote inside an unquoted field) beside quoted line ends:
        // cuts inside quoted fields, found by the chunk before.
        static const char *const fooling[] = {"g\"h", "\"c\nd\"", "\"i,\n\"\"\"", "a"};
        const bool fool = csv && rng() % 3 == 0;
        by = by || fool;
        const int nkeys = fool ? 4 : 1 + static_cast<int>(rng() % (csv ? 7 : 2));
        const int nlines = static_cast<int>(rng() % (trial % 5 == 0 ? 600 : 60));
        const int fault = rng() % 6 == 0 ? static_cast<int>(rng() % (nlines + 1)) : -1;
        std::string whole;
        if (header) {
            for (int c = 0; c < cols + (by ? 1 : 0); ++c)
                whole += (c != 0 ? std::string(1, delim) : "") + "c" +
                         std::to_string(c + 1);
            whole += '\n';
        }
        for (int l = 0; l < nlines; ++l) {
            for (int c = 0; c < cols; ++c) {
                if (c != 0)
                    whole += delim;
                std::string field = random_field(rng, wild);
                if (l == fault && c == cols - 1)
                    field = rng() % 2 == 0 ? "x1" : (csv ? "\"1" : "1y");
                whole += csv && rng() % 5 == 0 ? '"' + field + '"' : field;
            }
            if (by) {
                whole += delim;
                whole += (fool ? fooling : keys)[rng() % nkeys];
            }
            if (l + 1 < nlines || rng() % 4 != 0)
                whole += '\n';
        }
        std::vector<std::string> argv{"numtally"};
        const int nfunctions = 1 + static_cast<int>(rng() % 6);
        for (int f = 0; f < nfunctions; ++f) {
            const Word &w = words[rng() % words.size()];
            argv.push_back(w.word);
            if (!w.param.empty())
                argv.push_back(w.param);
            if (!w.two && !by && rng() % 10 == 0) { // a row: one pass
                argv.push_back("--row");
                argv.push_back(std::to_string(1 + rng() % (nlines + 2)));
                continue;
            }
            for (int c = 0; c < (w.two ? 2 : 1); ++c) {
                argv.push_back("--col");
                argv.push_back(std::to_string(1 + rng() % cols));
            }
        }
        tally_chunk_run_t run;
        run.threads = 1 + static_cast<int>(rng() % 8);
        run.chunk_bytes = 1 + rng() % (rng() % 2 == 0 ? 64 : 4096);
        // From memory, from a file read with pread, or trickled from a
        // source as a pipe gives it.
        const int from = static_cast<int>(rng() % 3);
        const bool trickle = from == 2;

        std::string cmd;
        for (const auto &a : argv)
            cmd += a + " ";
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + cmd +
                     (header ? "--header " : "") + (by ? "--by LAST " : "") +
                     (skip ? "--skip-missing " : "") + (csv ? "--csv " : "") +
                     "--threads " + std::to_string(run.threads) + " chunks " +
                     std::to_string(run.chunk_bytes) +
                     (from == 0 ? " from memory" : from == 1 ? " from a file" : " trickled") +
                     " over\n" + whole);
        tally_run_options_t options;
        options.header = header;
        options.skip_missing = skip;
        if (by) {
            options.by[0] = static_cast<uint32_t>(cols + 1);
            options.nby = 1;
        }
        if (csv) {
            options.delims = ",";
            options.quotes = true;
        }
        RunList one(argv);
        const Outcome a = capture([&](tally_error_t *err, std::string *notes) {
            FILE *in = whole.empty() ? std::tmpfile()
                                     : fmemopen(whole.data(), whole.size(), "r");
            const bool ok = tally_run(&one.list, in, options, err, notes);
            std::fclose(in);
            return ok;
        });
        RunList threaded(argv);
        const Outcome b = capture([&](tally_error_t *err, std::string *notes) {
            Trickle t{&whole, 0, &rng};
            FILE *file = std::tmpfile();
            std::fwrite(whole.data(), 1, whole.size(), file);
            std::fflush(file);
            const auto feed =
                trickle ? tally_source_feed(&t.source)
                : from == 1
                    ? tally_file_feed(fileno(file), 0, whole.size())
                    : tally_memory_feed(
                          reinterpret_cast<const unsigned char *>(whole.data()),
                          whole.size());
            const bool ok = tally_run_threaded(&threaded.list, feed.get(),
                                               options, run, err, notes);
            std::fclose(file);
            return ok;
        });
        expect_same(a, b);
        if (testing::Test::HasFailure())
            return;
    }
}

TEST(MergedParts, ReportAsOnePassOverTheWhole)
{
    const std::vector<Word> words = all_words();
    std::mt19937_64 rng(20261210);
    for (int trial = 0; trial < 250; ++trial) {
        const bool wild = trial % 3 == 0;
        // The options, each now and then: a header line, missing values
        // skipped, CSV with quoted fields.
        const bool header = rng() % 4 == 0;
        const bool skip = rng() % 3 == 0;
        const bool csv = rng() % 4 == 0;
        const char delim = csv ? ',' : '\t';
        const int cols = 1 + static_cast<int>(rng() % 3);
        // Two samples of one column told apart by a key column after the
        // values (welch-t --split), its keys in any order and now and then
        // a third, which the run refuses.
        const bool split = rng() % 3 == 0;
        static const char *const samples[] = {"x", "y", "x", "y", "z"};
        const int nsamples = rng() % 4 == 0 ? 5 : 4;
        // Grouped by a key column after those, of a few keys.
        const bool by = rng() % 3 == 0;
        static const char *const keys[] = {"a", "b", "c", "d e", "", "f"};
        const int nkeys = 1 + static_cast<int>(rng() % 6);
        const int nlines = 1 + static_cast<int>(rng() % (trial % 5 == 0 ? 400 : 40));
        std::vector<std::string> lines;
        for (int l = 0; l < nlines; ++l) {
            std::string line;
            for (int c = 0; c < cols; ++c) {
                if (c != 0)
                    line += delim;
                const std::string field = random_field(rng, wild);
                line += csv && rng() % 5 == 0 ? '"' + field + '"' : field;
            }
            if (split) {
                line += delim;
                line += samples[rng() % nsamples];
            }
            if (by) {
                line += delim;
                line += keys[rng() % nkeys];
            }
            line += '\n';
            lines.push_back(line);
        }
        if (header) {
            std::string names;
            for (int c = 0; c < cols + (split ? 1 : 0) + (by ? 1 : 0); ++c)
                names += (c != 0 ? std::string(1, delim) : "") + "c" +
                         std::to_string(c + 1);
            lines.insert(lines.begin(), names + "\n");
        }
        std::vector<std::string> argv{"numtally"};
        const int nfunctions = 1 + static_cast<int>(rng() % 6);
        if (split) {
            for (const char *w : {"welch-t", "--col"})
                argv.push_back(w);
            argv.push_back(std::to_string(1 + rng() % cols));
            argv.push_back("--split");
            argv.push_back(std::to_string(cols + 1));
        }
        for (int f = 0; f < nfunctions; ++f) {
            const Word &w = words[rng() % words.size()];
            argv.push_back(w.word);
            if (!w.param.empty())
                argv.push_back(w.param);
            if (!w.two && !by && rng() % 5 == 0) { // a row, perhaps beyond the last
                argv.push_back("--row");
                argv.push_back(std::to_string(1 + rng() % (lines.size() + 1)));
                continue;
            }
            for (int c = 0; c < (w.two ? 2 : 1); ++c) {
                argv.push_back("--col");
                argv.push_back(std::to_string(1 + rng() % cols));
            }
        }
        // Cut points: 1 to 7 line boundaries (parts may be empty).
        const int nparts = 2 + static_cast<int>(rng() % 7);
        std::vector<size_t> cuts{0};
        // The header line, where there is one, is in the first part.
        const size_t first = header ? 1 : 0;
        for (int p = 1; p < nparts; ++p)
            cuts.push_back(first + rng() % (lines.size() + 1 - first));
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(lines.size());
        std::string whole;
        std::vector<std::string> parts;
        for (int p = 0; p < nparts; ++p) {
            std::string part;
            for (size_t l = cuts[p]; l < cuts[p + 1]; ++l)
                part += lines[l];
            whole += part;
            parts.push_back(part);
        }

        std::string cmd;
        for (const auto &a : argv)
            cmd += a + " ";
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + cmd +
                     (header ? "--header " : "") + (by ? "--by LAST " : "") +
                     (skip ? "--skip-missing " : "") + (csv ? "--csv " : "") +
                     "over\n" + whole);
        tally_run_options_t options;
        options.header = header;
        options.skip_missing = skip;
        if (by) {
            options.by[0] = static_cast<uint32_t>(cols + (split ? 2 : 1));
            options.nby = 1;
        }
        if (csv) {
            options.delims = ",";
            options.quotes = true;
        }
        RunList one(argv);
        const Outcome a = capture([&](tally_error_t *err, std::string *notes) {
            FILE *in = fmemopen(whole.data(), whole.size(), "r");
            const bool ok = tally_run(&one.list, in, options, err, notes);
            std::fclose(in);
            return ok;
        });
        RunList merged(argv);
        const Outcome b = capture([&](tally_error_t *err, std::string *notes) {
            std::vector<FILE *> in;
            for (auto &p : parts) // fmemopen of no bytes: an empty file
                in.push_back(p.empty() ? std::tmpfile()
                                       : fmemopen(p.data(), p.size(), "r"));
            const bool ok = tally_run_parts(&merged.list, in.data(),
                                            nparts, options, err, notes);
            for (FILE *f : in)
                std::fclose(f);
            return ok;
        });
        expect_same(a, b);
        if (testing::Test::HasFailure())
            return;
    }
}

// A squares record settles in pairs of doubles where no addition rounds,
// and through its wide rest where one would; both must write the same
// fields to the bit, or a merged run (which may have a rest where one pass
// had none) would print other digits.  Giving a copy of the record a rest
// that holds 0 sends it down the wide path with the same exact sums.
TEST(ExactSums, SettleInPairsAgreesWithTheWideRest)
{
    std::mt19937_64 rng(20261210);
    int fast_cases = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        tally_rest_scope_t scope;
        tallyf_t a;
        tallyf_init(&a);
        a.code = TALLYF_SAMPLE_VAR;
        const int n = 1 + static_cast<int>(rng() % 40);
        const int spread = static_cast<int>(rng() % 60);
        for (int i = 0; i < n; ++i) {
            // A few significant digits at a scale of the trial's choosing,
            // now and then a value far from the others.
            const double digits =
                static_cast<double>(static_cast<int64_t>(rng() % 2000001) - 1000000);
            const int e = -20 + static_cast<int>(rng() % (spread + 1));
            tally_feed<false>(tally_feed_t::squares, &a, std::ldexp(digits, e));
        }
        tallyf_t b = a;
        tally_rest_add(&b, 0.0, true);
        const bool fast = std::isnan(a.scaled_lo);
        fast_cases += fast;
        tally_settle(&a, tally_feed_t::squares);
        tally_settle(&b, tally_feed_t::squares);
        const double fa[] = {a.sum,   a.sum_x,    a.sum_x_2,   a.shift,
                             a.sum_d, a.sum_d_lo, a.sum_d_2, a.sum_d_2_lo};
        const double fb[] = {b.sum,   b.sum_x,    b.sum_x_2,   b.shift,
                             b.sum_d, b.sum_d_lo, b.sum_d_2, b.sum_d_2_lo};
        for (size_t k = 0; k < sizeof fa / sizeof fa[0]; ++k)
            ASSERT_EQ(std::memcmp(&fa[k], &fb[k], sizeof(double)), 0)
                << "trial " << trial << ", field " << k << ": " << fa[k]
                << " against " << fb[k];
    }
    EXPECT_GT(fast_cases, 2000); // most trials took the pairs' path
}
