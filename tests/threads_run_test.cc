// Whole runs on threads: two tally_run calls at once on two threads, and
// runs of four threads over one input's chunks (plain and grouped, kept
// values, sums that need their rests), each report the same as one pass's.
// Built under ThreadSanitizer by the tsan label (NUMTALLY_TSAN), where any
// report of a race fails it.  Exits 0 when all holds, 1 with a message.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "chunks.h"
#include "functions.h"
#include "run_list.h"
#include "tallyf-list-run.h"
#include "value-spill.h"
#include "xt.h"

[[noreturn]] void usage(char **)
{
    std::fputs("usage\n", stderr);
    std::exit(64);
}

namespace {

int failures = 0;

void fail(const std::string &what)
{
    std::fprintf(stderr, "threads_run_test: %s\n", what.c_str());
    ++failures;
}


// Lines of a value, a value far from it in magnitude, and a key.
std::string input(int lines, int seed)
{
    std::string s;
    char buf[96];
    for (int i = 0; i < lines; ++i) {
        const int k = (i * 7919 + seed) % 1000;
        std::snprintf(buf, sizeof buf, "%d.%03d\t%de%d\tk%d\n", k - 500, i % 1000,
                      k % 9 + 1, (i % 2 == 0 ? 1 : -1) * (k % 300), k % 13);
        s += buf;
    }
    return s;
}

// What a run prints on standard output, with its status.
template <class Run>
std::string captured(Run run, bool *ok)
{
    std::fflush(stdout);
    FILE *tmp = std::tmpfile();
    const int saved = dup(1);
    dup2(fileno(tmp), 1);
    *ok = run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out;
    std::rewind(tmp);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0)
        out.append(buf, n);
    std::fclose(tmp);
    return out;
}

const std::vector<std::string> kPlain = {
    "numtally", "mean", "--col", "1", "median", "--col", "1", "sum",
    "--col", "2", "sample-SD", "--col", "2", "correlation", "--col", "1",
    "--col", "2"};

// One pass over the text into a string of its report.
std::string one_pass(const std::string &text, const tally_run_options_t &options,
                     bool *ok)
{
    RunList l(kPlain);
    return captured(
        [&] {
            FILE *in = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
            tally_error_t err;
            std::string notes;
            const bool r = tally_run(&l.list, in, options, &err, &notes);
            std::fclose(in);
            return r;
        },
        ok);
}

} // namespace

int main(int argc, char *argv[])
{
    const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;
    const std::string a = input(lines, 1), b = input(lines, 2);
    tally_run_options_t options;

    // Two whole runs at once, each into its own report (notes kept).
    {
        bool ok_a = false, ok_b = false, ran = false;
        std::string notes_a, notes_b;
        RunList la(kPlain), lb(kPlain);
        const std::string out = captured(
            [&] {
                std::thread t([&] {
                    FILE *in = fmemopen(const_cast<char *>(b.data()), b.size(), "r");
                    tally_error_t err;
                    ok_b = tally_run(&lb.list, in, options, &err, &notes_b);
                    std::fclose(in);
                });
                FILE *in = fmemopen(const_cast<char *>(a.data()), a.size(), "r");
                tally_error_t err;
                ok_a = tally_run(&la.list, in, options, &err, &notes_a);
                std::fclose(in);
                t.join();
                return true;
            },
            &ran);
        if (!ok_a || !ok_b || out.empty())
            fail("two runs at once failed");
    }

    // Four threads over small chunks, plain and grouped, against one pass;
    // then past a memory limit so small that every chunk's values and the
    // merged ones spill to runs in temporary files.
    for (const uint64_t limit : {uint64_t{0}, uint64_t{4096}})
        for (const bool grouped : {false, true}) {
            tally_run_options_t o;
            if (grouped) {
                o.by[0] = 3;
                o.nby = 1;
            }
            bool ok1 = false, ok4 = false;
            const std::string want = one_pass(a, o, &ok1);
            tally_values_set_limit(limit);
            RunList l(kPlain);
            const std::string got = captured(
                [&] {
                    tally_chunk_run_t run;
                    run.threads = 4;
                    run.chunk_bytes = 4096;
                    const auto feed = tally_memory_feed(
                        reinterpret_cast<const unsigned char *>(a.data()),
                        a.size());
                    tally_error_t err;
                    std::string notes;
                    return tally_run_threaded(&l.list, feed.get(), o, run,
                                              &err, &notes);
                },
                &ok4);
            if (limit != 0) {
                tally_values_set_limit(0);
                // The spilled values are a mapping the runs give back, not
                // an array to free.
                tally_values_release_all();
                for (int i = 0; i < l.list.count; ++i)
                    l.list.functions[i].nums = nullptr;
            }
            if (!ok1 || !ok4 || want != got)
                fail(std::string(grouped ? "grouped" : "plain") +
                     " run on four threads" +
                     (limit != 0 ? " past the memory limit" : "") +
                     " differs from one pass");
        }
    return failures == 0 ? 0 : 1;
}
