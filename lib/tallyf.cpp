// The function record and its arithmetic.
#include "tallyf.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/math/distributions/students_t.hpp>
#include <boost/math/special_functions/gamma.hpp>

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
    tf->shift = 0;
    tf->shift_count = 0;
    tf->sum_d = 0;
    tf->sum_d_lo = 0;
    tf->sum_d_2 = 0;
    tf->sum_d_2_lo = 0;
    tf->low = NAN;
    tf->high = NAN;
}

bool tallyf_keeps_values(tallyf_code_t code)
{
    return code == TALLYF_QUANTILE || code == TALLYF_MODE ||
           code == TALLYF_IQ_RANGE || code == TALLYF_BOX_PLOT;
}

namespace {

// The codes whose records keep the sums of squares (the variance family).
// This is the one place that says so.
constexpr uint32_t kSquareCodes =
    1u << TALLYF_POP_VAR | 1u << TALLYF_POP_SD | 1u << TALLYF_POP_Z_SCORES |
    1u << TALLYF_SAMPLE_VAR | 1u << TALLYF_SAMPLE_SD |
    1u << TALLYF_SAMPLE_Z_SCORES | 1u << TALLYF_SAMPLE_SE |
    1u << TALLYF_SAMPLE_T_SCORE | 1u << TALLYF_CHI_SQ_FIT;

inline bool keeps_squares(tallyf_code_t code)
{
    return code < 32 && (kSquareCodes >> code & 1u) != 0;
}

// Error-free transformations (round to nearest, no contraction into fused
// multiply-adds: the build says -ffp-contract=off).  Each returns the exact
// rounding error of an operation whose rounded result r is given.

// a + b = r + error, for any a and b (Knuth's TwoSum).
inline double sum_error(double a, double b, double r)
{
    const double b_part = r - a;
    return (a - (r - b_part)) + (b - b_part);
}

// a = high + low, each with at most 26 significant bits (Dekker's split).
inline void split(double a, double &high, double &low)
{
    const double c = 134217729.0 * a; // 2^27 + 1
    high = c - (c - a);
    low = a - high;
}

// a * b = r + error, unless r overflows (Dekker's TwoProduct).
inline double product_error(double a, double b, double r)
{
    double ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    return ((ah * bh - r) + ah * bl + al * bh) + al * bl;
}

inline double square_error(double a, double r)
{
    double ah, al;
    split(a, ah, al);
    return ((ah * ah - r) + 2 * ah * al) + al * al;
}

// a + b, handing on a's NaN when both are NaN.  x86 keeps the NaN of an
// addition's first operand, and the compiler is free to swap the operands
// of a plain +: the plain sums pin the order they have always had, so that
// NaN and infinite input values print the same NaN (nan or -nan) as ever.
template <bool Vex = false>
inline double add_first(double a, double b)
{
#if defined(__x86_64__)
    if constexpr (Vex)
        __asm__("vaddsd %1, %0, %0" : "+x"(a) : "xm"(b));
    else
        __asm__("addsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
#else
    return a + b;
#endif
}

// The plain sums of the variance family.
template <bool Vex>
inline void add_square(tallyf_t *tf, double x)
{
    tf->sum_x = add_first<Vex>(x, tf->sum_x);
    const double square = x * x; // rounded before the addition: no FMA
    tf->sum_x_2 = add_first<Vex>(square, tf->sum_x_2);
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

// True when the exact sums hold every value fed and nothing overflowed or
// went NaN in them.
inline bool exact_sums_usable(const tallyf_t *tf)
{
    return tf->num_count != 0 && tf->shift_count == tf->num_count &&
           std::isfinite(tf->shift) && std::isfinite(tf->sum_d) &&
           std::isfinite(tf->sum_d_lo);
}

// The lowest and highest value so far in the sorted order (NaN last).  Most
// values fall strictly between the two and cost two plain comparisons.
inline void track_extremes(tallyf_t *tf, double x)
{
    if (tf->num_count == 0) {
        tf->low = tf->high = x;
        return;
    }
    if (!(x > tf->low) && xt_double_less(x, tf->low))
        tf->low = x;
    if (!(x < tf->high) && xt_double_less(tf->high, x))
        tf->high = x;
}

} // namespace

namespace {

// The body of tallyf_process_val, with the rounding error of a square by a
// fused multiply-add where the processor has one, by Dekker's product
// otherwise: the same exact error either way, so the sums do not depend on
// the machine.
template <bool Fma>
[[gnu::always_inline]] inline void feed(tallyf_t *tf, double x)
{
    const double old_sum = tf->sum;
    tf->sum = add_first<Fma>(old_sum, x);

    if (keeps_squares(tf->code)) {
        if (tf->code == TALLYF_POP_Z_SCORES ||
            tf->code == TALLYF_SAMPLE_Z_SCORES)
            keep_value(tf->tmp_file, x);
        else if (tf->code == TALLYF_CHI_SQ_FIT)
            track_extremes(tf, x); // for the check of the counts
        add_square<Fma>(tf, x);

        // The deviation from the first value, d + d_error exactly.  Since
        // the first value is one of the data, the sum of the squared
        // deviations is at most n + 1 times the sum of squares about the
        // mean: the cancellation left for the end is bounded whatever the
        // offset of the data.
        if (tf->shift_count == 0)
            tf->shift = x;
        const double d = x - tf->shift;
        const double d_error = sum_error(x, -tf->shift, d);
        // Sums in the manner of Ogita, Rump and Oishi's Sum2: the high part
        // adds plainly, the low part collects every rounding error.
        const double s = tf->sum_d + d;
        tf->sum_d_lo += sum_error(tf->sum_d, d, s) + d_error;
        tf->sum_d = s;
        // (d + d_error)^2, leaving out d_error^2 (below 2^-106 of d^2).
        const double p = d * d;
        double p_error;
        if constexpr (Fma)
            p_error = __builtin_fma(d, d, -p);
        else
            p_error = square_error(d, p);
        p_error += 2 * d * d_error;
        const double q = tf->sum_d_2 + p;
        tf->sum_d_2_lo += sum_error(tf->sum_d_2, p, q) + p_error;
        tf->sum_d_2 = q;
    } else {
        // The mean alone needs no shift (shift stays 0): the plain sum of
        // the values is the high part of its exact sum, and only the
        // rounding errors of its additions are collected beside it.
        tf->sum_d_lo += sum_error(old_sum, x, tf->sum);
        tf->sum_d = tf->sum;
        if (tf->code == TALLYF_RANGE) {
            track_extremes(tf, x);
        } else if (tallyf_keeps_values(tf->code)) {
            if (tf->num_count == tf->array_size) {
                tf->array_size = 2 * tf->num_count;
                tf->nums = static_cast<double *>(
                    xt_realloc(tf->nums, tf->array_size, sizeof(double)));
            }
            tf->nums[tf->num_count] = x;
        }
    }
    ++tf->shift_count;
    ++tf->num_count;
}

} // namespace

// Chosen once, when the program is loaded, by the processor it runs on
// (an ELF indirect function).  -DTALLYF_NO_FMA_DISPATCH builds the plain
// version alone, so that its sums can be tested on any machine.
// Not under AddressSanitizer: a resolver runs while the program is being
// relocated, before the sanitizer's runtime is ready for instrumented code.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TALLYF_NO_FMA_DISPATCH 1
#endif
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__) && \
    !defined(TALLYF_NO_FMA_DISPATCH)
namespace {

[[gnu::target("fma")]] void feed_with_fma(tallyf_t *tf, double x)
{
    feed<true>(tf, x);
}

void feed_without_fma(tallyf_t *tf, double x)
{
    feed<false>(tf, x);
}

} // namespace

// The resolver has external linkage (hidden outside the library's objects):
// clang resolves an ifunc's name only among such functions.
using tallyf_feed_fn = void (*)(tallyf_t *, double);
extern "C" [[gnu::visibility("hidden")]] tallyf_feed_fn
tallyf_resolve_process_val(void);

extern "C" {
tallyf_feed_fn tallyf_resolve_process_val(void)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma") ? feed_with_fma : feed_without_fma;
}
}

void tallyf_process_val(tallyf_t *tf, double x)
    __attribute__((ifunc("tallyf_resolve_process_val")));
#else
void tallyf_process_val(tallyf_t *tf, double x)
{
    feed<false>(tf, x);
}
#endif

double tallyf_division_point(const tallyf_t *tf, uint32_t i,
                             uint32_t partitions)
{
    const uint64_t n = tf->num_count;
    const double *v = tf->nums;
    // Positions outside the sorted values read the nearest end; with no
    // values at all there is nothing to show but NaN.
    if (n == 0)
        return NAN;
    const double step = 1.0 / partitions;
    const double m = static_cast<double>(n + 1);
    const double q = i * step;
    const double position = q * m;
    const uint64_t k = static_cast<uint64_t>(position);
    if (k < 1)
        return v[0];
    if (k >= n)
        return v[n - 1];
    const double f = position - static_cast<double>(k);
    return (v[k] - v[k - 1]) * f + v[k - 1];
}

void tallyf_sort(tallyf_t *tf)
{
    xt_double_sort(tf->nums, tf->num_count); // the order of xt_double_cmp
}

void tallyf_quantiles(tallyf_t *tf, const char *label, uint32_t num)
{
    const uint64_t n = tf->num_count;
    tallyf_sort(tf);
    const double lowest = n != 0 ? tf->nums[0] : NAN;
    const double highest = n != 0 ? tf->nums[n - 1] : NAN;

    std::printf("%s %u low            %f\n", label, num, lowest);
    if (tf->partitions >= 2) {
        const double step = 1.0 / tf->partitions;
        for (uint32_t i = 1; i < tf->partitions; ++i) {
            std::printf("%s %u quantile(%0.2f) %f\n", label, num, i * step,
                        tallyf_division_point(tf, i, tf->partitions));
        }
    }
    std::printf("%s %u high           %f\n", label, num, highest);
}

namespace {

// a * x + b * y with weights in halves, exactly when both are finite.
tallyf_number_t combine(double x, int x_halves, double y, int y_halves)
{
    tallyf_number_t r;
    r.exact = std::isfinite(x) && std::isfinite(y);
    exact_fixed_clear(&r.fixed);
    if (r.exact) {
        exact_fixed_add(&r.fixed, x, x_halves);
        exact_fixed_add(&r.fixed, y, y_halves);
        r.value = 0;
    } else {
        r.value = x * (x_halves * 0.5) + y * (y_halves * 0.5);
    }
    return r;
}

// -1, 0, 1 as x lies below, at or above the number (which is exact).
int compare_with(double x, const tallyf_number_t &bound)
{
    if (std::isinf(x))
        return x < 0 ? -1 : 1;
    return -exact_fixed_cmp(&bound.fixed, x);
}

} // namespace

void tallyf_format_number(const tallyf_number_t *x, char *buf, size_t size)
{
    if (x->exact)
        exact_fixed_format(&x->fixed, buf, size);
    else
        std::snprintf(buf, size, "%f", x->value);
}

tallyf_number_t tallyf_range(const tallyf_t *tf)
{
    return combine(tf->high, 2, tf->low, -2);
}

tallyf_mode_t tallyf_mode(const tallyf_t *tf)
{
    const double *v = tf->nums;
    const uint64_t n = tf->num_count;
    if (n == 0)
        return {NAN, 0};
    // Sorted, so equal bits stand together.  A run replaces the best only
    // when strictly longer, which keeps the smallest value of a tie; the
    // run length itself is kept without a branch.
    uint64_t best_end = 0, best_count = 1, run = 1;
    uint64_t prev = std::bit_cast<uint64_t>(v[0]);
    for (uint64_t i = 1; i < n; ++i) {
        const uint64_t cur = std::bit_cast<uint64_t>(v[i]);
        run = cur == prev ? run + 1 : 1;
        prev = cur;
        if (run > best_count) {
            best_count = run;
            best_end = i;
        }
    }
    return {v[best_end], best_count};
}

tallyf_number_t tallyf_iq_range(const tallyf_t *tf)
{
    return combine(tallyf_division_point(tf, 3, 4), 2,
                   tallyf_division_point(tf, 1, 4), -2);
}

tallyf_box_t tallyf_box(const tallyf_t *tf)
{
    tallyf_box_t b;
    const double *v = tf->nums;
    const uint64_t n = tf->num_count;
    b.q1 = tallyf_division_point(tf, 1, 4);
    b.median = tallyf_division_point(tf, 2, 4);
    b.q3 = tallyf_division_point(tf, 3, 4);
    b.iqr = combine(b.q3, 2, b.q1, -2);
    // Q1 - 1.5 (Q3 - Q1) = 2.5 Q1 - 1.5 Q3, and the mirror image.
    b.lower_fence = combine(b.q1, 5, b.q3, -3);
    b.upper_fence = combine(b.q3, 5, b.q1, -3);
    b.lower_whisker = b.upper_whisker = NAN;
    b.outliers = 0;
    if (!b.lower_fence.exact) {
        // No finite fences: only a value on the far side of an infinite
        // fence's own value could be outside, and none is.
        return b;
    }
    // The sorted values rise through the fences; NaNs stand last and lie
    // neither inside nor outside.
    const double *end = v + n;
    const double *nan_start = std::partition_point(
        v, end, [](double x) { return !std::isnan(x); });
    const double *first_in = std::partition_point(
        v, nan_start,
        [&](double x) { return compare_with(x, b.lower_fence) < 0; });
    const double *past_in = std::partition_point(
        first_in, nan_start,
        [&](double x) { return compare_with(x, b.upper_fence) <= 0; });
    if (first_in != past_in) {
        b.lower_whisker = *first_in;
        b.upper_whisker = past_in[-1];
    }
    b.outliers = static_cast<uint64_t>((first_in - v) + (nan_start - past_in));
    return b;
}

bool tallyf_box_draw(const tallyf_t *tf, const tallyf_box_t *box, char *line,
                     size_t width)
{
    line[0] = '\0';
    const uint64_t n = tf->num_count;
    const double *v = tf->nums;
    if (n == 0 || width < 2 || !std::isfinite(v[0]) ||
        !std::isfinite(v[n - 1]) || std::isnan(box->lower_whisker))
        return false;
    // Long double: the span of two finite doubles does not overflow there.
    const long double low = v[0];
    const long double span = static_cast<long double>(v[n - 1]) - low;
    const auto column = [&](double x) -> size_t {
        if (span == 0)
            return 0;
        const long double c = (x - low) / span * (width - 1) + 0.5L;
        return std::min(static_cast<size_t>(c), width - 1);
    };
    std::memset(line, ' ', width);
    const auto fill = [&](double from, double to, char c) {
        for (size_t i = column(from); i <= column(to); ++i)
            line[i] = c;
    };
    fill(box->lower_whisker, box->upper_whisker, '-');
    fill(box->q1, box->q3, '=');
    line[column(box->q1)] = '[';
    line[column(box->q3)] = ']';
    line[column(box->lower_whisker)] = '+';
    line[column(box->upper_whisker)] = '+';
    line[column(box->median)] = '|';
    // Outliers last, so that every one shows: below the lower whisker and
    // above the upper one.
    size_t at = width;
    unsigned here = 0;
    const auto mark = [&] {
        if (here != 0)
            line[at] = here == 1 ? 'o' : here <= 9 ? static_cast<char>('0' + here)
                                                   : '*';
    };
    for (uint64_t i = 0; i < n; ++i) {
        if (v[i] >= box->lower_whisker && v[i] <= box->upper_whisker)
            continue;
        const size_t c = column(v[i]);
        if (c != at) {
            mark();
            at = c;
            here = 0;
        }
        ++here;
    }
    mark();
    size_t len = width;
    while (len > 0 && line[len - 1] == ' ')
        --len;
    line[len] = '\0';
    return true;
}

bool tallyf_counts_valid(const tallyf_t *tf, double *bad)
{
    if (tf->num_count == 0)
        return true;
    if (!std::isfinite(tf->low) || tf->low < 0) {
        *bad = tf->low;
        return false;
    }
    if (!std::isfinite(tf->high)) {
        *bad = tf->high;
        return false;
    }
    return true;
}

double chi_sq_upper(double df, double x)
{
    using namespace boost::math::policies;
    // Errors come back as NaN (or the limit) with errno set: never an
    // exception, never a message.
    using quiet = policy<domain_error<errno_on_error>, pole_error<errno_on_error>,
                         overflow_error<errno_on_error>,
                         underflow_error<errno_on_error>,
                         denorm_error<errno_on_error>,
                         evaluation_error<errno_on_error>,
                         rounding_error<errno_on_error>,
                         indeterminate_result_error<errno_on_error>>;
    if (!(df > 0) || std::isnan(x))
        return NAN;
    if (x <= 0)
        return 1.0;
    if (std::isinf(x))
        return 0.0;
    const int saved = errno;
    const double p = boost::math::gamma_q(df / 2, x / 2, quiet());
    errno = saved;
    return p;
}

tallyf_chi_sq_t tallyf_chi_sq_fit(const tallyf_t *tf)
{
    const uint64_t k = tf->num_count;
    if (k < 2 || !(tf->sum != 0))
        return {NAN, NAN, NAN};
    // Sum of (O - E)^2 / E with E = total / k, the mean.
    const double statistic = tallyf_sum_squares(tf) / tallyf_mean(tf);
    const double df = static_cast<double>(k - 1);
    return {statistic, df, chi_sq_upper(df, statistic)};
}

double tallyf_mean(const tallyf_t *tf)
{
    const double n = static_cast<double>(tf->num_count);
    if (!exact_sums_usable(tf))
        return tf->sum / n; // 0 / 0 without values
    // (sum_d + sum_d_lo) / n = q + q_low, to about twice double precision:
    // q * n is exactly product + product_err, and sum_d - product is exact.
    const double q = tf->sum_d / n;
    const double product = q * n;
    const double remainder =
        (tf->sum_d - product) - product_error(q, n, product);
    const double q_low = (remainder + tf->sum_d_lo) / n;
    // shift + q + q_low, rounded once.
    const double m = tf->shift + q;
    return m + (sum_error(tf->shift, q, m) + q_low);
}

double tallyf_sum_squares(const tallyf_t *tf)
{
    const double n = static_cast<double>(tf->num_count);
    if (keeps_squares(tf->code) && exact_sums_usable(tf) &&
        std::isfinite(tf->sum_d_2) && std::isfinite(tf->sum_d_2_lo)) {
        // Q - S * S / n, with S = sum_d + sum_d_lo and Q = sum_d_2 +
        // sum_d_2_lo, in double-double arithmetic.  Q is at most n + 1 times
        // the result, so its 106 bits leave the result's 53 intact.
        const double s = tf->sum_d;
        const double s2 = s * s;
        const double s2_low = square_error(s, s2) + 2 * s * tf->sum_d_lo;
        const double t = s2 / n;
        const double tn = t * n;
        const double t_low = (((s2 - tn) - product_error(t, n, tn)) + s2_low) / n;
        const double h = tf->sum_d_2 - t;
        const double low = sum_error(tf->sum_d_2, -t, h) + (tf->sum_d_2_lo - t_low);
        const double ss = h + low;
        return ss <= 0 ? 0.0 : ss; // the exact value is never below 0
    }
    // The one-pass formula on the plain sums.
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

// The Student t distribution, through the regularised incomplete beta
// function of Boost.Math.  Evaluated in long double, so that t * t cannot
// overflow for any finite double t and the tail keeps its relative accuracy
// far out.  Every error of Boost's is turned into a plain result (NaN, an
// infinity or 0) instead of an exception or a message: these functions
// report nothing.
namespace {

using t_policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::underflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::denorm_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::rounding_error<boost::math::policies::ignore_error>,
    boost::math::policies::indeterminate_result_error<
        boost::math::policies::ignore_error>>;

using t_distribution = boost::math::students_t_distribution<long double, t_policy>;

// Degrees of freedom of a sample of n >= 2 values.
inline long double degrees(uint32_t n)
{
    return static_cast<long double>(n - 1u);
}

// Keeps errno as the caller left it: the library's own calls may set it.
struct errno_kept {
    int saved = errno;
    ~errno_kept() { errno = saved; }
};

} // namespace

double t_pdf(uint32_t n, double x)
{
    if (n < 2 || std::isnan(x))
        return NAN; // no degrees of freedom, or no x
    if (std::isinf(x))
        return 0;
    const errno_kept keep;
    return static_cast<double>(
        boost::math::pdf(t_distribution(degrees(n)), static_cast<long double>(x)));
}

double t_cdf(uint32_t n, double t)
{
    // Without degrees of freedom there is no distribution: every t below 0
    // gets 0 and everything else (both zeros and NaN too) 1.
    if (n < 2)
        return t < 0 ? 0.0 : 1.0;
    if (std::isnan(t))
        return 1.0;
    if (t == 0)
        return 0.5;
    if (t > 0)
        return 1 - t_cdf(n, -t); // the complement of the lower tail, as ever
    if (std::isinf(t))
        return 0.0;
    const errno_kept keep;
    return static_cast<double>(
        boost::math::cdf(t_distribution(degrees(n)), static_cast<long double>(t)));
}
