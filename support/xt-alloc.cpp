// Allocation that either succeeds or throws std::bad_alloc.
#include "xt.h"
#include "xt-prefault.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <malloc.h>
#include <sys/mman.h>

namespace {

// Handed to the caller: main prints XT_NOMEM_MESSAGE and ends the run.
[[noreturn]] void out_of_memory()
{
    throw std::bad_alloc();
}

size_t byte_count(size_t count, size_t size)
{
    size_t bytes;
    if (__builtin_mul_overflow(count, size, &bytes))
        out_of_memory();
    return bytes != 0 ? bytes : 1;
}

} // namespace

void *xt_malloc(size_t count, size_t size)
{
    void *p = std::malloc(byte_count(count, size));
    if (p == nullptr)
        out_of_memory();
    return p;
}

void *xt_realloc(void *ptr, size_t count, size_t size)
{
    const size_t bytes = byte_count(count, size);
    if (ptr != nullptr)
        xt_prefault_forget(ptr, malloc_usable_size(ptr));
    void *p = std::realloc(ptr, bytes);
    if (p == nullptr)
        out_of_memory();
    return p;
}

namespace {

// Whether address space may be reserved beyond what is asked: not where
// the system counts every reserved byte against a limit (strict
// overcommit), since there an unused reservation could starve others.
bool may_reserve()
{
    static const bool may = [] {
        FILE *f = std::fopen("/proc/sys/vm/overcommit_memory", "r");
        int mode = 0;
        if (f != nullptr) {
            if (std::fscanf(f, "%d", &mode) != 1)
                mode = 0;
            std::fclose(f);
        }
        return mode != 2;
    }();
    return may;
}

} // namespace

void *xt_grow_huge(void *ptr, size_t used, size_t count, size_t size)
{
    constexpr size_t kHuge = size_t{2} << 20;
    constexpr size_t kReserve = size_t{256} << 20;
    const size_t bytes = byte_count(count, size);
    if (bytes < 2 * kHuge)
        return xt_realloc(ptr, count, size);
    if (ptr != nullptr && malloc_usable_size(ptr) >= bytes)
        return ptr;
    const size_t room = (bytes + kHuge - 1) / kHuge * kHuge;
    void *p = nullptr;
    size_t got = room;
    if (may_reserve() && room <= SIZE_MAX / 4) {
        got = room < kReserve / 4 ? kReserve : 4 * room;
        p = std::aligned_alloc(kHuge, got); // address space only, till used
    }
    if (p == nullptr) {
        got = room;
        p = std::aligned_alloc(kHuge, room);
    }
    if (p == nullptr)
        out_of_memory();
#if defined(MADV_HUGEPAGE)
    madvise(p, got, MADV_HUGEPAGE); // advice only: refused, nothing changes
#endif
    if (used != 0)
        std::memcpy(p, ptr, used * size);
    xt_free(ptr);
    return p;
}

void xt_free(void *ptr)
{
    if (ptr == nullptr)
        return;
    xt_prefault_forget(ptr, malloc_usable_size(ptr));
    std::free(ptr);
}
