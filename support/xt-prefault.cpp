// The prefault thread.
#include "xt-prefault.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>

namespace {

constexpr size_t kThreadBytes = size_t{2} << 20;

void populate(uintptr_t start, uintptr_t end)
{
#if defined(MADV_POPULATE_WRITE)
    constexpr uintptr_t kPage = 4096;
    start = (start + kPage - 1) & ~(kPage - 1);
    end &= ~(kPage - 1);
    if (end > start)
        madvise(reinterpret_cast<void *>(start), end - start,
                MADV_POPULATE_WRITE); // refused or failed: nothing changes
#else
    static_cast<void>(start);
    static_cast<void>(end);
#endif
}

bool second_processor()
{
#if defined(CPU_COUNT)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return CPU_COUNT(&set) > 1;
#endif
    return std::thread::hardware_concurrency() > 1;
}

struct range_t {
    uintptr_t start = 0, end = 0; // empty: none
    bool overlaps(uintptr_t s, uintptr_t e) const
    {
        return start < e && s < end;
    }
    bool empty() const { return start >= end; }
};

// The thread and its requests.  Everything but the two counters is under
// mutex; the thread waits on posted (bumped by each request and by the
// stop), and whoever gives memory back waits on finished (bumped each time
// the thread is done with a range) while the thread works in it.
struct helper_t {
    std::mutex mutex;
    range_t pending;           // the request not yet begun
    range_t busy;              // the range being faulted in now
    bool running = false;      // a thread serves the requests
    bool unavailable = false;  // none to be had (or stopped at exit)
    bool exit_join = false;    // the stop at exit is registered
    pthread_t thread{};
    std::atomic<uint32_t> posted{0};
    std::atomic<uint32_t> finished{0};
    std::atomic<bool> ever{false}; // a thread has served: forget must look
};

helper_t helper;

void *serve(void *)
{
    std::unique_lock<std::mutex> lock(helper.mutex);
    for (;;) {
        if (!helper.running)
            return nullptr; // stopped
        if (helper.pending.empty()) {
            const uint32_t seen = helper.posted.load(std::memory_order_relaxed);
            lock.unlock();
            helper.posted.wait(seen, std::memory_order_acquire);
            lock.lock();
            continue;
        }
        helper.busy = helper.pending;
        helper.pending = range_t{};
        const range_t r = helper.busy;
        lock.unlock();
        populate(r.start, r.end);
        lock.lock();
        helper.busy = range_t{};
        helper.finished.fetch_add(1, std::memory_order_release);
        helper.finished.notify_all();
    }
}

// At exit: the thread ends and is joined, so that nothing of it is left
// (a memory checker would count its storage as lost); requests after that
// are served in place.
void stop_at_exit()
{
    pthread_t thread;
    {
        std::lock_guard<std::mutex> lock(helper.mutex);
        helper.unavailable = true;
        if (!helper.running)
            return;
        helper.running = false;
        helper.pending = range_t{};
        thread = helper.thread;
        helper.posted.fetch_add(1, std::memory_order_release);
    }
    helper.posted.notify_all();
    pthread_join(thread, nullptr);
}

// Starts the thread, the lock held: false when there is none to be had.
bool start_thread()
{
    if (!second_processor())
        return false;
    // Signals are for the caller's threads, never for this one.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    const bool started =
        pthread_create(&helper.thread, nullptr, serve, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (!started)
        return false;
    helper.running = true;
    helper.ever.store(true, std::memory_order_relaxed);
    if (!helper.exit_join)
        helper.exit_join = std::atexit(stop_at_exit) == 0;
    return true;
}

// A fork while another thread holds the lock would leave the child's copy
// locked for ever: the fork waits for the lock, and the child, which has
// no thread, starts one afresh at its first request.
void before_fork() { helper.mutex.lock(); }
void after_fork_parent() { helper.mutex.unlock(); }
void after_fork_child()
{
    helper.pending = range_t{};
    helper.busy = range_t{};
    helper.running = false;
    helper.mutex.unlock();
}

[[maybe_unused]] const int fork_handlers =
    pthread_atfork(before_fork, after_fork_parent, after_fork_child);

} // namespace

void xt_prefault(void *p, size_t bytes)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    // A small range is not worth a thread.
    if (bytes >= kThreadBytes) {
        std::unique_lock<std::mutex> lock(helper.mutex);
        if (helper.running || (!helper.unavailable && start_thread())) {
            helper.pending = range_t{start, start + bytes};
            helper.posted.fetch_add(1, std::memory_order_release);
            lock.unlock();
            helper.posted.notify_one();
            return;
        }
        helper.unavailable = true;
    }
    populate(start, start + bytes);
}

void xt_prefault_forget(const void *p, size_t bytes)
{
    if (p == nullptr || !helper.ever.load(std::memory_order_relaxed))
        return;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t end = start + bytes;
    std::unique_lock<std::mutex> lock(helper.mutex);
    if (helper.pending.overlaps(start, end))
        helper.pending = range_t{};
    while (helper.busy.overlaps(start, end)) {
        const uint32_t seen = helper.finished.load(std::memory_order_relaxed);
        lock.unlock();
        helper.finished.wait(seen, std::memory_order_acquire);
        lock.lock();
    }
}
