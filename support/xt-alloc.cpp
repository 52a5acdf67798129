// Allocation that either succeeds or ends the run with a one-line message.
#include "xt.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void out_of_memory()
{
    std::fputs("numtally: out of memory\n", stderr);
    std::exit(XT_EXIT_NOMEM);
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
    void *p = std::realloc(ptr, byte_count(count, size));
    if (p == nullptr)
        out_of_memory();
    return p;
}
