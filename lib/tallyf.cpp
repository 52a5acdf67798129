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
#include <unistd.h>

#include <boost/math/special_functions/gamma.hpp>

#include "xt.h"

FILE *tallyf_tmpfile(void)
{
    const char *dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0')
        dir = "/tmp";
    int fd = -1;
#if defined(O_TMPFILE)
    fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return nullptr; // the folder itself is the problem
#endif
    if (fd < 0) {
        // No unnamed files here: make a named one and remove its name.
        static const char name[] = "/numtally.XXXXXX";
        const size_t dir_len = std::strlen(dir);
        char *path = static_cast<char *>(xt_malloc(dir_len + sizeof name, 1));
        std::memcpy(path, dir, dir_len);
        std::memcpy(path + dir_len, name, sizeof name);
        fd = mkstemp(path);
        const int saved = errno;
        if (fd >= 0)
            unlink(path);
        std::free(path);
        if (fd < 0) {
            errno = saved;
            return nullptr;
        }
    }
    FILE *f = fdopen(fd, "w+");
    if (f == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return f;
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
    tf->tmp_file = tallyf_tmpfile();
    tf->low = NAN;
    tf->high = NAN;
}

bool tallyf_keeps_values(tallyf_code_t code)
{
    return code == TALLYF_QUANTILE || code == TALLYF_MODE ||
           code == TALLYF_IQ_RANGE || code == TALLYF_BOX_PLOT;
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
    case TALLYF_RANGE:
        track_extremes(tf, x);
        break;
    case TALLYF_CHI_SQ_FIT:
        track_extremes(tf, x); // for the check of the counts
        add_square(tf, x);
        break;
    case TALLYF_QUANTILE:
    case TALLYF_MODE:
    case TALLYF_IQ_RANGE:
    case TALLYF_BOX_PLOT:
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

namespace {

// The mean of a record's values.
double record_mean(const tallyf_t *tf)
{
    return tf->sum / static_cast<double>(tf->num_count);
}

} // namespace

tallyf_chi_sq_t tallyf_chi_sq_fit(const tallyf_t *tf)
{
    const uint64_t k = tf->num_count;
    if (k < 2 || !(tf->sum != 0))
        return {NAN, NAN, NAN};
    // Sum of (O - E)^2 / E with E = total / k, the mean.
    const double statistic = tallyf_sum_squares(tf) / record_mean(tf);
    const double df = static_cast<double>(k - 1);
    return {statistic, df, chi_sq_upper(df, statistic)};
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
