// The stream and allocation hooks behind run_program().
#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <sysexits.h>

extern "C" void __real__Z7xt_freePv(void *ptr);
extern "C" int __real_fclose(FILE *f);

namespace {

bool in_program = false;
std::vector<FILE *> open_streams;
std::unordered_set<void *> blocks;

// Descriptors open in this process, counted before and after each input: a
// difference is one the program left open.
int open_fds()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++n;
        closedir(d);
    }
    return n;
}

void release_all()
{
    for (FILE *f : open_streams)
        __real_fclose(f);
    open_streams.clear();
    for (void *p : blocks)
        __real__Z7xt_freePv(p);
    blocks.clear();
}

} // namespace

// The real functions and their replacements.  xt_malloc and xt_realloc are
// C++ functions: these are their mangled names.
extern "C" {
FILE *__real_fdopen(int fd, const char *mode);
FILE *__real_fopencookie(void *cookie, const char *mode,
                         cookie_io_functions_t io);
void *__real__Z9xt_mallocmm(size_t count, size_t size);
void *__real__Z10xt_reallocPvmm(void *ptr, size_t count, size_t size);
void *__real__Z12xt_grow_hugePvmmm(void *ptr, size_t used, size_t count,
                                   size_t size);
void __real__Z7xt_freePv(void *ptr);

FILE *__wrap_fdopen(int fd, const char *mode)
{
    FILE *f = __real_fdopen(fd, mode);
    if (f != nullptr && in_program)
        open_streams.push_back(f);
    return f;
}

// A stream the program closes itself (a grouped report's temporary file)
// is no longer followed.
int __wrap_fclose(FILE *f)
{
    for (size_t i = 0; i < open_streams.size(); ++i) {
        if (open_streams[i] == f) {
            open_streams.erase(open_streams.begin() + static_cast<long>(i));
            break;
        }
    }
    return __real_fclose(f);
}

// The records' temporary files, whose backing files come later.
FILE *__wrap_fopencookie(void *cookie, const char *mode,
                         cookie_io_functions_t io)
{
    FILE *f = __real_fopencookie(cookie, mode, io);
    if (f != nullptr && in_program)
        open_streams.push_back(f);
    return f;
}

// The program's value arrays (doubles) live until the process ends; they are
// followed and freed after each input.  Other blocks from xt_malloc (a
// path name, say) are freed by the program itself.
void *__wrap__Z9xt_mallocmm(size_t count, size_t size)
{
    void *p = __real__Z9xt_mallocmm(count, size);
    if (size == sizeof(double))
        blocks.insert(p);
    return p;
}

// Only arrays that began with xt_malloc (the value arrays) are followed:
// the field reader keeps a cache of its own through xt_realloc that lives
// from one input to the next and must not be freed under it.
void *__wrap__Z10xt_reallocPvmm(void *ptr, size_t count, size_t size)
{
    const bool tracked = ptr != nullptr && blocks.count(ptr) != 0;
    void *p = __real__Z10xt_reallocPvmm(ptr, count, size);
    if (tracked) {
        blocks.erase(ptr);
        blocks.insert(p);
    }
    return p;
}

// Value arrays that grow large: the block may be the same or a new one (the
// old one then freed inside, by calls this wrapping does not see).  Arrays
// of doubles are followed from here on, as from xt_malloc.
void *__wrap__Z12xt_grow_hugePvmmm(void *ptr, size_t used, size_t count,
                                   size_t size)
{
    void *p = __real__Z12xt_grow_hugePvmmm(ptr, used, count, size);
    if (p != ptr)
        blocks.erase(ptr);
    if (size == sizeof(double) && in_program)
        blocks.insert(p);
    return p;
}

// What the program frees itself is no longer followed.
void __wrap__Z7xt_freePv(void *ptr)
{
    blocks.erase(ptr);
    __real__Z7xt_freePv(ptr);
}
} // extern "C"

int run_program(const std::function<int()> &body)
{
    const int fds_before = open_fds();
    in_program = true;
    const int status = body();
    in_program = false;
    release_all();
    if (open_fds() != fds_before) {
        std::fprintf(stderr, "fuzz: the program left a descriptor open\n");
        std::abort();
    }
    switch (status) {
    case 0:
    case EX_USAGE:
    case EX_DATAERR:
    case EX_NOINPUT: // a file operand that cannot be opened
    case EX_OSERR:
    case EX_IOERR:
        return status;
    default:
        std::fprintf(stderr, "fuzz: the program ended with status %d\n",
                     status);
        std::abort();
    }
}

void quiet_std_streams()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (std::freopen("/dev/null", "r", stdin) == nullptr ||
        std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
}
