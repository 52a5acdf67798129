// Two records and two value arenas filled on two threads at once while the
// main thread forks: each child must be able to go on (make and fault in
// an array of its own, feed a record) and end, and every value must be
// kept.  Built under ThreadSanitizer by the tsan label (NUMTALLY_TSAN) and
// run under valgrind's memcheck by the valgrind label, where it must
// report nothing: no race, no lost storage, no touched memory that was
// given back.  Exits 0 when all holds, 1 with a message otherwise.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tallyf.h"
#include "value-chain.h"
#include "xt-prefault.h"
#include "xt.h"

namespace {

// Values a record: 24 MB by default, many requests (argv[1] may say fewer).
uint64_t kValues = 3'000'000;

std::atomic<int> failures{0};

void fail(const char *what)
{
    std::fprintf(stderr, "threads_test: %s\n", what);
    failures.fetch_add(1);
}

// One thread's work: a value-keeping record, a z-score record with its
// lazy file, and a chain in an arena of its own, fed the same values.
void work(int seed, std::atomic<bool> *done)
{
    for (int round = 0; round < 2; ++round) {
        tallyf_t kept, listed;
        tallyf_init(&kept);
        kept.code = TALLYF_MODE;
        tallyf_init(&listed);
        listed.code = TALLYF_POP_Z_SCORES;
        tally_value_chain_t chain{};
        uint64_t sum = 0;
        {
            tally_value_arena_t arena;
            for (uint64_t i = 0; i < kValues; ++i) {
                const double x = static_cast<double>((i * 7 + seed) % 1000);
                tallyf_process_val(&kept, x);
                if (i % 16 == 0)
                    tallyf_process_val(&listed, x);
                arena.push(&chain, x);
                sum += static_cast<uint64_t>(x);
            }
            std::vector<double> back(kValues);
            tally_value_arena_t::gather(chain, kValues, back.data());
            for (uint64_t i = 0; i < kValues; i += 4099)
                if (back[i] != static_cast<double>((i * 7 + seed) % 1000))
                    fail("a chained value changed");
        } // the arena gives its chunks back here
        if (kept.num_count != kValues || kept.sum != static_cast<double>(sum))
            fail("the record's sums are wrong");
        for (uint64_t i = 0; i < kValues; i += 4099)
            if (kept.nums[i] != static_cast<double>((i * 7 + seed) % 1000))
                fail("a kept value changed");
        xt_free(kept.nums);
        if (listed.tmp_file == nullptr || std::fflush(listed.tmp_file) != 0)
            fail("the listing's file failed");
        else
            std::fclose(listed.tmp_file);
        std::fclose(kept.tmp_file);
    }
    done->store(true);
}

// The child: an array of its own faulted in and written, a record fed.
[[noreturn]] void child()
{
    constexpr size_t n = size_t{1} << 21; // 16 MB
    auto *v = static_cast<double *>(xt_grow_huge(nullptr, 0, n, sizeof(double)));
    xt_prefault(v, n * sizeof(double));
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<double>(i);
    xt_free(v);
    tallyf_t tf;
    tallyf_init(&tf);
    tf.code = TALLYF_MODE;
    for (int i = 0; i < 600'000; ++i)
        tallyf_process_val(&tf, i);
    std::_Exit(tf.num_count == 600'000 ? 0 : 3);
}

// Waits up to 60 seconds for the child: false when it hangs or fails.
bool child_ends(pid_t pid)
{
    for (int tenths = 0; tenths < 600; ++tenths) {
        int status;
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                return true;
            std::fprintf(stderr, "threads_test: child status %d\n", status);
            return false;
        }
        usleep(100'000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1)
        kValues = std::strtoull(argv[1], nullptr, 10);
    // Forks at most (argv[2]): 0 under a memory checker, whose leak check
    // in a child would count what the parent's threads hold, and under
    // ThreadSanitizer, whose runtime does not support such a fork.
    const int max_forks = argc > 2 ? std::atoi(argv[2]) : 40;
    std::atomic<bool> done1{false}, done2{false};
    std::thread t1(work, 1, &done1), t2(work, 2, &done2);
    int forks = 0;
    while (forks < max_forks && !(done1.load() && done2.load())) {
        const pid_t pid = fork();
        if (pid < 0) {
            fail("fork failed");
            break;
        }
        if (pid == 0)
            child();
        ++forks;
        if (!child_ends(pid))
            fail("a child hung or failed");
        usleep(20'000);
    }
    t1.join();
    t2.join();
    if (forks == 0 && max_forks != 0)
        fail("no fork while the threads worked");
    if (failures.load() != 0)
        return 1;
    std::printf("threads_test: %d forks, all children ended\n", forks);
    return 0;
}
