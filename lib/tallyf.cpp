// The function record and its arithmetic.
#include "tallyf.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "xt.h"

namespace {

// Opens an anonymous file for reading and writing in $TMPDIR (or /tmp):
// a descriptor, or -1 with errno set.
int open_tmp_fd()
{
    const char *dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0')
        dir = "/tmp";
    int fd = -1;
#if defined(O_TMPFILE)
    fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return -1; // the folder itself is the problem
#endif
    if (fd < 0) {
        // No unnamed files here: make a named one and remove its name.
        static const char name[] = "/numtally.XXXXXX";
        const size_t dir_len = std::strlen(dir);
        char *path = static_cast<char *>(xt_malloc(dir_len + sizeof name, 1));
        std::memcpy(path, dir, dir_len);
        std::memcpy(path + dir_len, name, sizeof name);
        fd = mkostemp(path, O_CLOEXEC);
        const int saved = errno;
        if (fd >= 0)
            unlink(path);
        std::free(path);
        errno = saved;
    }
    return fd;
}

#if defined(__GLIBC__)
// A temporary file that costs nothing until it is used: the stream exists
// from the start, its backing file is made on the first write (or when
// asked for).  Until then it is an empty file: reads find its end, seeks
// move a position that the backing file takes over.
struct LazyTmp {
    LazyTmp *next; // every open lazy stream, to find a stream's backing file
    FILE *stream;
    int fd;        // -1 until the backing file is made
    off64_t pos;   // the position while there is no backing file
};

LazyTmp *lazy_streams = nullptr;

LazyTmp *lazy_of(FILE *f)
{
    for (LazyTmp *c = lazy_streams; c != nullptr; c = c->next)
        if (c->stream == f)
            return c;
    return nullptr;
}

// Makes the backing file if there is none yet: false, with errno set, when
// it cannot be made.
bool back(LazyTmp *c)
{
    if (c->fd >= 0)
        return true;
    const int fd = open_tmp_fd();
    if (fd < 0)
        return false;
    if (c->pos != 0 && lseek64(fd, c->pos, SEEK_SET) < 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return false;
    }
    c->fd = fd;
    return true;
}

ssize_t lazy_read(void *cookie, char *buf, size_t size)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    if (c->fd < 0)
        return 0; // nothing was ever written
    for (;;) {
        const ssize_t n = read(c->fd, buf, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// Writes all or reports an error: stdio marks the stream failed on a short
// count, so a lost value is never silent.
ssize_t lazy_write(void *cookie, const char *buf, size_t size)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    if (!back(c))
        return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(c->fd, buf + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done != 0 ? static_cast<ssize_t>(done) : -1;
        }
        if (n == 0) {
            errno = ENOSPC;
            return static_cast<ssize_t>(done);
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int lazy_seek(void *cookie, off64_t *offset, int whence)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    if (c->fd >= 0) {
        const off64_t at = lseek64(c->fd, *offset, whence);
        if (at < 0)
            return -1;
        *offset = at;
        return 0;
    }
    off64_t at;
    switch (whence) {
    case SEEK_SET:
        at = *offset;
        break;
    case SEEK_CUR:
        at = c->pos + *offset;
        break;
    case SEEK_END: // the file is empty
        at = *offset;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    if (at < 0) {
        errno = EINVAL;
        return -1;
    }
    c->pos = at;
    *offset = at;
    return 0;
}

int lazy_close(void *cookie)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    for (LazyTmp **p = &lazy_streams; *p != nullptr; p = &(*p)->next) {
        if (*p == c) {
            *p = c->next;
            break;
        }
    }
    const int status = c->fd >= 0 ? close(c->fd) : 0;
    std::free(c);
    return status;
}
#endif

} // namespace

FILE *tallyf_tmpfile(void)
{
    const int fd = open_tmp_fd();
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "w+");
    if (f == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return f;
}

FILE *tallyf_tmpfile_lazy(void)
{
#if defined(__GLIBC__)
    LazyTmp *c = static_cast<LazyTmp *>(std::malloc(sizeof(LazyTmp)));
    if (c == nullptr)
        return nullptr;
    c->fd = -1;
    c->pos = 0;
    static const cookie_io_functions_t io = {lazy_read, lazy_write, lazy_seek,
                                             lazy_close};
    c->stream = fopencookie(c, "w+", io);
    if (c->stream == nullptr) {
        std::free(c);
        return nullptr;
    }
    c->next = lazy_streams;
    lazy_streams = c;
    return c->stream;
#else
    return tallyf_tmpfile();
#endif
}

int tallyf_tmpfile_back(FILE *f)
{
#if defined(__GLIBC__)
    if (LazyTmp *c = lazy_of(f))
        return back(c) ? 0 : -1;
#endif
    (void)f;
    return 0;
}

int tallyf_tmpfile_size(FILE *f, uint64_t *size)
{
    int fd = -1;
#if defined(__GLIBC__)
    if (LazyTmp *c = lazy_of(f)) {
        if (c->fd < 0) {
            *size = 0;
            return 0;
        }
        fd = c->fd;
    }
#endif
    if (fd < 0)
        fd = fileno(f);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return -1;
    *size = static_cast<uint64_t>(st.st_size);
    return 0;
}

void tallyf_init(tallyf_t *tf)
{
    tf->rows = nullptr; // clears all of row's storage
    tf->cols = nullptr;
    tf->sum = 0;
    tf->nums = nullptr;
    tf->num_count = 0;
    tf->array_size = 0;
    tf->partitions = 0;
    tf->sum_x = 0;
    tf->sum_x_2 = 0;
    tf->row_sums = nullptr;
    tf->col_sums = nullptr;
    tf->tmp_file = tallyf_tmpfile_lazy();
}

namespace {

inline void add_square(tallyf_t *tf, double x)
{
    tf->sum_x += x;
    const double square = x * x; // rounded before the addition: no FMA
    tf->sum_x_2 = square + tf->sum_x_2;
}

// The temporary file keeps each value's exact bits, so the listing computes
// from the value that was read, not from a rounded copy.
inline void keep_value(FILE *f, double x)
{
    if (f == nullptr)
        return; // the list notices the missing values at report time
#if defined(__GLIBC__)
    fwrite_unlocked(&x, sizeof x, 1, f);
#else
    std::fwrite(&x, sizeof x, 1, f);
#endif
}

} // namespace

void tallyf_process_val(tallyf_t *tf, double x)
{
    tf->sum += x;
    switch (tf->code) {
    case TALLYF_POP_VAR:
    case TALLYF_POP_SD:
    case TALLYF_SAMPLE_VAR:
    case TALLYF_SAMPLE_SD:
    case TALLYF_SAMPLE_SE:
    case TALLYF_SAMPLE_T_SCORE:
        add_square(tf, x);
        break;
    case TALLYF_POP_Z_SCORES:
    case TALLYF_SAMPLE_Z_SCORES:
        keep_value(tf->tmp_file, x);
        add_square(tf, x);
        break;
    case TALLYF_QUANTILE:
        if (tf->num_count == tf->array_size) {
            tf->array_size = 2 * tf->num_count;
            tf->nums = static_cast<double *>(
                xt_realloc(tf->nums, tf->array_size, sizeof(double)));
        }
        tf->nums[tf->num_count] = x;
        break;
    default:
        break;
    }
    ++tf->num_count;
}

void tallyf_quantiles(tallyf_t *tf, const char *label, uint32_t num)
{
    const uint64_t n = tf->num_count;
    double *v = tf->nums;
    xt_double_sort(v, n); // the order of xt_double_cmp, in place

    // Positions outside the sorted values read the nearest end; with no
    // values at all there is nothing to show but NaN.
    const double lowest = n != 0 ? v[0] : NAN;
    const double highest = n != 0 ? v[n - 1] : NAN;

    std::printf("%s %u low            %f\n", label, num, lowest);
    if (tf->partitions >= 2) {
        const double step = 1.0 / tf->partitions;
        const double m = static_cast<double>(n + 1);
        for (uint32_t i = 1; i < tf->partitions; ++i) {
            const double q = i * step;
            const double position = q * m;
            const uint64_t k = static_cast<uint64_t>(position);
            double value;
            if (k < 1) {
                value = lowest;
            } else if (k >= n) {
                value = highest;
            } else {
                const double f = position - static_cast<double>(k);
                value = (v[k] - v[k - 1]) * f + v[k - 1];
            }
            std::printf("%s %u quantile(%0.2f) %f\n", label, num, q, value);
        }
    }
    std::printf("%s %u high           %f\n", label, num, highest);
}

double tallyf_sum_squares(const tallyf_t *tf)
{
    const double n = static_cast<double>(tf->num_count);
    const double ss = tf->sum_x_2 - (tf->sum_x * tf->sum_x) / n;
    // Cancellation can leave a tiny negative result; NaN stays NaN.
    return ss <= 0 ? 0.0 : ss;
}

double z_score(double x, double mean, double sd)
{
    return (x - mean) / sd;
}

double z_equivalent(double x, double mean1, double sd1, double mean2,
                    double sd2)
{
    return ((x - mean1) / sd1) * sd2 + mean2;
}

double normal_cdf(double x, double mean, double sd)
{
    return (std::erf((x - mean) / (sd * 1.4142135623730951)) + 1) * 0.5;
}

double t_score(uint32_t n, double x_bar, double mean, double sd)
{
    return (x_bar - mean) / (sd / std::sqrt(static_cast<double>(n)));
}

// The Student t density.  The digits that t-score and t-cdf print depend on
// this exact arithmetic: the constants, the order of the operations, the
// stop rule and tgamma without logarithms (so the constant overflows for
// large n and the functions give 0, 1 or NaN there, never an error).
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSlice = 0.0009765625;    // 2^-10
constexpr double kHalfSlice = 0.00048828125; // 2^-11
constexpr double kSmallestSlice = 1e-10;

struct t_shape {
    double d; // degrees of freedom, n - 1 in 32-bit unsigned arithmetic
    double h; // n / 2, from n itself: n of 0 gives 0
    double c; // the density constant
};

inline t_shape t_shape_of(uint32_t n)
{
    t_shape s;
    s.d = static_cast<double>(static_cast<uint32_t>(n - 1u));
    s.h = static_cast<double>(n) * 0.5;
    const double gamma_h = std::tgamma(s.h);
    const double root = std::sqrt(kPi * s.d);
    const double gamma_half_d = std::tgamma(0.5 * s.d);
    s.c = gamma_h / (root * gamma_half_d);
    return s;
}

} // namespace

double t_pdf(uint32_t n, double x)
{
    const t_shape s = t_shape_of(n);
    return std::pow(x * x / s.d + 1, -s.h) * s.c;
}

double t_cdf(uint32_t n, double t)
{
    // Midpoint of the slice just below -|t|; NaN stays NaN (std::min
    // returns its first argument when the comparison fails).
    double l = std::min(t, -t) + -kHalfSlice;
    const t_shape s = t_shape_of(n);
    const double neg_h = -s.h;

    double sum = 0;
    double m = std::pow(l * l / s.d + 1, neg_h) * s.c * kSlice;
    while (m > kSmallestSlice) { // false for NaN as well
        sum += m;
        l += -kSlice;
        m = std::pow(l * l / s.d + 1, neg_h) * s.c * kSlice;
    }
    // The sum is the tail below -|t|; its complement is the rest.
    return t < 0 ? sum : 1 - sum;
}
