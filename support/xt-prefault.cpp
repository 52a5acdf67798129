// The prefault thread.
#include "xt-prefault.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include <sched.h>
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

// The thread and its one pending request.  Made once and never destroyed:
// the thread may still be asleep in it when the process exits.
struct prefaulter_t {
    std::mutex mutex;
    uintptr_t start = 0, end = 0;
    std::atomic<uint32_t> posted{0};

    [[noreturn]] void run()
    {
        uint32_t seen = 0;
        for (;;) {
            posted.wait(seen, std::memory_order_acquire);
            seen = posted.load(std::memory_order_acquire);
            uintptr_t s, e;
            {
                std::lock_guard<std::mutex> lock(mutex);
                s = start;
                e = end;
            }
            populate(s, e);
        }
    }
};

prefaulter_t *prefaulter()
{
    static prefaulter_t *const p = []() -> prefaulter_t * {
        if (!second_processor())
            return nullptr;
        auto *q = new prefaulter_t;
        try {
            std::thread([q] { q->run(); }).detach();
        } catch (const std::system_error &) {
            delete q;
            return nullptr; // no thread to be had
        }
        return q;
    }();
    return p;
}

} // namespace

void xt_prefault(void *p, size_t bytes)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    // A small range is not worth a thread.
    prefaulter_t *q = bytes < kThreadBytes ? nullptr : prefaulter();
    if (q == nullptr) {
        populate(start, start + bytes);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(q->mutex);
        q->start = start;
        q->end = start + bytes;
    }
    q->posted.fetch_add(1, std::memory_order_release);
    q->posted.notify_one();
}
