// The frequency family and the one-sample t-test.
#include "frequency.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "blocks.h"
#include "report.h"
#include "double-double.h"
#include "exact-fixed.h"
#include "value-counts.h"

namespace {

constexpr int W = TALLY_NAME_WIDTH;
constexpr int S = TALLY_SAMPLE_WIDTH;

dd_t dd_of(long double x)
{
    const double hi = static_cast<double>(x);
    return {hi, static_cast<double>(x - hi)};
}

// t.test(x, mu = MU): the mean, SD and standard error from the exact sums,
// t and the interval from about twice double precision, rounded once.
void print_t_test(const tallyf_t *tf, const tally_printer_t &p)
{
    const uint64_t n = tf->num_count;
    const double mean = tallyf_mean(tf);
    int exp;
    const double ss = tallyf_sum_squares_scaled(tf, &exp); // times 2^-exp
    const dd_t var = dd_div(dd(ss), dd(static_cast<double>(n) - 1));
    const dd_t se = dd_sqrt(dd_div(var, dd(static_cast<double>(n))));
    const double df = n < 2 ? NAN : static_cast<double>(n - 1);
    // The exact mean less MU, rounded once.
    double mean_less_mu, unused;
    tallyf_mean_interval(tf, tf->expected_mean, &mean_less_mu, &unused);
    const dd_t diff = dd(mean_less_mu);
    // No spread: t is infinite, or NaN where the mean is MU.
    const double t =
        se.hi == 0 ? (diff.hi == 0 ? NAN : std::copysign(INFINITY, diff.hi))
                   : dd_round(dd_div(dd_ldexp(diff, -exp / 2), se));
    double pv = NAN, low = NAN, high = NAN;
    if (!std::isnan(df) && !std::isnan(t)) {
        pv = static_cast<double>(2 * student_t_cdf(df, -std::fabs(t)));
        const double half = dd_round(dd_ldexp(
            dd_mul(dd_of(student_t_quantile(df, 0.975)), se), exp / 2));
        tallyf_mean_interval(tf, half, &low, &high);
    }
    p.stat_count("n", S, n);
    p.stat("mean", S, mean);
    p.stat("SD", S, std::ldexp(dd_round(dd_sqrt(var)), exp / 2));
    p.stat("SE", S, std::ldexp(dd_round(se), exp / 2));
    p.stat("t", S, t);
    if (std::isnan(df))
        p.stat("df", S, df);
    else
        p.stat_count("df", S, n - 1);
    p.stat("p-value", S, pv);
    p.stat_interval("95%-CI", S, low, high);
}

using counted_t = tally_counted_t;

// The distinct values of the sorted values with their counts, in value
// order (NaN, sorted last, one value; -0 and 0 one value, shown as the first
// in order), into runs where it is given; their number.  Counted first, so
// that the list is made once at its size.
uint64_t runs_of_sorted(const double *v, uint64_t n,
                        std::vector<counted_t> *runs)
{
    const auto same = [v](uint64_t j, uint64_t i) {
        return v[j] == v[i] || (std::isnan(v[j]) && std::isnan(v[i]));
    };
    uint64_t count = n != 0;
    for (uint64_t j = 1; j < n; ++j)
        count += !same(j, j - 1);
    if (runs == nullptr)
        return count;
    runs->reserve(count);
    for (uint64_t i = 0; i < n;) {
        uint64_t j = i + 1;
        while (j < n && same(j, i))
            ++j;
        runs->push_back({v[i], j - i});
        i = j;
    }
    return count;
}

// What runs_of does where most values are distinct.
enum class many_t {
    count, // counts them by buckets (the number only)
    sort,  // sorts them, then counts runs
    stop,  // stops: runs_of returns kMany
};

constexpr uint64_t kMany = ~uint64_t{0};

// The same (the list only where out is given), counted in a hash table of
// the values' bits, the distinct values sorted afterwards: a pass over the
// values instead of a sort of them.  Where most values are distinct the
// table would outgrow a sort's work and memory: then, as soon as the values
// seen say so, what many says.
uint64_t runs_of(tallyf_t *tf, std::vector<counted_t> *out, many_t many)
{
    const double *v = tf->nums;
    const uint64_t n = tf->num_count;
    struct slot_t {
        uint64_t bits;
        uint64_t count; // 0: empty
    };
    int shift = 64 - 10;
    std::vector<slot_t> table(size_t{1} << 10, slot_t{0, 0});
    size_t used = 0;
    uint64_t nans = 0, negative_zeros = 0;
    double first_nan = NAN;
    constexpr uint64_t kMul = 0x9E3779B97F4A7C15u;
    const auto insert = [&](std::vector<slot_t> &t, int sh, uint64_t bits,
                            uint64_t count) {
        const size_t mask = t.size() - 1;
        size_t at = static_cast<size_t>((bits * kMul) >> sh);
        while (t[at].count != 0 && t[at].bits != bits)
            at = (at + 1) & mask;
        if (t[at].count == 0) {
            t[at].bits = bits;
            ++used;
        }
        t[at].count += count;
    };
    for (uint64_t i = 0; i < n; ++i) {
        const double x = v[i];
        if (std::isnan(x)) {
            if (nans++ == 0)
                first_nan = x;
            continue;
        }
        if (x == 0 && std::signbit(x))
            ++negative_zeros;
        insert(table, shift, x == 0 ? 0 : std::bit_cast<uint64_t>(x), 1);
        if (used * 2 > table.size()) {
            // Mostly distinct so far (more than half the values seen), or
            // more than a quarter of all: a sort does less work than a
            // table that grows to hold them.
            if (used > (uint64_t{1} << 16) && (used > i / 2 || used > n / 4)) {
                if (many == many_t::count)
                    return tally_count_distinct(tf->nums, n);
                if (many == many_t::stop)
                    return kMany;
                tally_sort_on_threads(tf->nums, n);
                return runs_of_sorted(tf->nums, n, out);
            }
            std::vector<slot_t> bigger(table.size() * 2, slot_t{0, 0});
            --shift;
            used = 0;
            for (const slot_t &s : table)
                if (s.count != 0)
                    insert(bigger, shift, s.bits, s.count);
            table.swap(bigger);
        }
    }
    if (out == nullptr)
        return used + (nans != 0);
    std::vector<counted_t> &runs = *out;
    runs.reserve(used + 1);
    for (const slot_t &s : table)
        if (s.count != 0)
            runs.push_back({std::bit_cast<double>(s.bits), s.count});
    std::sort(runs.begin(), runs.end(),
              [](const counted_t &a, const counted_t &b) {
                  return a.value < b.value;
              });
    if (negative_zeros != 0)
        for (counted_t &r : runs)
            if (r.value == 0)
                r.value = -0.0; // sorted first among the zeros
    if (nans != 0)
        runs.push_back({first_nan, nans});
    return runs.size();
}

std::vector<counted_t> runs_of(tallyf_t *tf)
{
    std::vector<counted_t> runs;
    runs_of(tf, &runs, many_t::sort);
    return runs;
}

// count as a percentage of n, rounded once (100 count is exact).
double percent(uint64_t count, uint64_t n)
{
    return static_cast<double>(count) * 100 / static_cast<double>(n);
}

void table_head(const tally_printer_t &p, const char *title,
                const char *head)
{
    p.labelled(title);
    if (p.records == nullptr)
        p.line(head);
}

void print_frequency(tallyf_t *tf, const tally_printer_t &p)
{
    char head[80];
    std::snprintf(head, sizeof head, "%16s %16s %16s %16s", "Val", "count",
                  "percent", "cum-percent");
    table_head(p, "frequency:", head);
    static const char *const names[] = {"value", "count", "percent",
                                        "cum-percent"};
    static const bool counts[] = {false, true, false, false};
    uint64_t below = 0;
    for (const counted_t &r : runs_of(tf)) {
        below += r.count;
        const double row[] = {r.value, static_cast<double>(r.count),
                              percent(r.count, tf->num_count),
                              percent(below, tf->num_count)};
        p.row(names, row, counts, 4, nullptr);
    }
}

void print_top(tallyf_t *tf, const tally_printer_t &p)
{
    std::vector<counted_t> runs;
    if (runs_of(tf, &runs, many_t::stop) == kMany) {
        runs = tally_count_top(tf->nums, tf->num_count, tf->partitions);
    } else {
        // The most frequent first; a tie keeps value order.
        std::stable_sort(runs.begin(), runs.end(),
                         [](const counted_t &a, const counted_t &b) {
                             return a.count > b.count;
                         });
    }
    const size_t k = std::min<size_t>(tf->partitions, runs.size());
    char head[64];
    std::snprintf(head, sizeof head, "%16s %16s %16s", "Val", "count",
                  "percent");
    table_head(p, "top:", head);
    static const char *const names[] = {"value", "count", "percent"};
    static const bool counts[] = {false, true, false};
    for (size_t i = 0; i < k; ++i) {
        const double row[] = {runs[i].value,
                              static_cast<double>(runs[i].count),
                              percent(runs[i].count, tf->num_count)};
        p.row(names, row, counts, 3, nullptr);
    }
}

// ((B - i) low + i high) / B, correctly rounded: the exact sum of the two
// products (each exact as a pair of doubles) divided with its remainder.
// Plain arithmetic where the products leave the room the exact sum has.
double bin_edge(double low, double high, uint32_t bins, uint32_t i)
{
    if (i == 0)
        return low;
    if (i == bins)
        return high;
    const auto in_room = [](double x) {
        return x == 0 || (std::fabs(x) < 0x1p1000 && std::fabs(x) > 0x1p-900);
    };
    if (!std::isfinite(high - low))
        return NAN; // an infinite range has no inner edges
    if (!in_room(low) || !in_room(high))
        return low + (high - low) * i / bins;
    const dd_t a = dd_prod(static_cast<double>(bins - i), low);
    const dd_t b = dd_prod(static_cast<double>(i), high);
    exact_fixed_t v;
    exact_fixed_clear(&v);
    exact_fixed_add_scaled(&v, a.hi, 0);
    exact_fixed_add_scaled(&v, a.lo, 0);
    exact_fixed_add_scaled(&v, b.hi, 0);
    exact_fixed_add_scaled(&v, b.lo, 0);
    const uint64_t rest = exact_fixed_div(&v, bins);
    return exact_fixed_round(&v, rest != 0);
}

constexpr uint64_t BAR_WIDTH = 40;

void print_histogram(const tallyf_t *tf, const tally_printer_t &p)
{
    const double *v = tf->nums;
    const uint64_t n = tf->num_count;
    uint64_t m = 0; // the values that are numbers
    double low = INFINITY, high = -INFINITY;
    for (uint64_t i = 0; i < n; ++i) {
        if (std::isnan(v[i]))
            continue;
        ++m;
        // The lowest in sorted order: -0 before 0.
        if (v[i] < low || (v[i] == low && std::signbit(v[i])))
            low = v[i];
        if (v[i] > high || (v[i] == high && !std::signbit(v[i])))
            high = v[i];
    }
    // Sturges' rule: ceil(log2(m) + 1) bins.
    const uint32_t bins =
        tf->partitions != 0 ? tf->partitions
        : m <= 1            ? 1
                            : static_cast<uint32_t>(std::bit_width(m - 1)) + 1;
    p.stat_count("bins", W, bins);
    std::vector<double> edges(bins + 1, NAN);
    std::vector<uint64_t> counts(bins, 0);
    if (m > 0) {
        for (uint32_t i = 0; i <= bins; ++i)
            edges[i] = bin_edge(low, high, bins, i);
        // A value on an edge falls in the bin above it; the highest value
        // in the last bin: the bin is the number of inner edges at or
        // below the value.
        // The bin is guessed from the value's place in the range, then
        // moved to the edges themselves.  (An infinite range: every value
        // in the last bin.)
        const double *inner = edges.data() + 1;
        const double *inner_end = edges.data() + bins;
        const double scale = bins / (high - low);
        const bool guess = std::isfinite(scale) && std::isfinite(low);
        const double last = bins - 1;
        for (uint64_t i = 0; i < n; ++i) {
            const double x = v[i];
            if (std::isnan(x))
                continue;
            size_t b;
            if (guess) {
                b = static_cast<size_t>(
                    std::clamp((x - low) * scale, 0.0, last));
                while (b > 0 && x < edges[b])
                    --b;
                while (b + 1 < bins && x >= edges[b + 1])
                    ++b;
            } else {
                b = static_cast<size_t>(
                    std::upper_bound(inner, inner_end, x) - inner);
            }
            ++counts[b];
        }
    }
    const uint64_t most = *std::max_element(counts.begin(), counts.end());
    char head[80];
    std::snprintf(head, sizeof head, "%16s %16s %16s %s", "from", "to",
                  "count", "bar");
    table_head(p, "histogram:", head);
    static const char *const names[] = {"from", "to", "count"};
    static const bool is_count[] = {false, false, true};
    std::string bar;
    for (uint32_t i = 0; i < bins; ++i) {
        const uint64_t c = counts[i];
        // The longest bar BAR_WIDTH marks; any count at least one.
        uint64_t len = most == 0 ? 0 : (c * BAR_WIDTH + most / 2) / most;
        if (c != 0 && len == 0)
            len = 1;
        bar.assign(len, '#');
        const double row[] = {edges[i], edges[i + 1], static_cast<double>(c)};
        p.row(names, row, is_count, 3, len != 0 ? bar.c_str() : nullptr);
    }
    if (m != n)
        p.stat_count("nan-values", W, n - m);
}

} // namespace

bool tally_block_t_test(tallyf_t *tf, const tally_block_args_t &a)
{
    print_t_test(tf, a.p);
    return true;
}

bool tally_block_frequency(tallyf_t *tf, const tally_block_args_t &a)
{
    print_frequency(tf, a.p);
    return true;
}

bool tally_block_top(tallyf_t *tf, const tally_block_args_t &a)
{
    print_top(tf, a.p);
    return true;
}

bool tally_block_distinct(tallyf_t *tf, const tally_block_args_t &a)
{
    a.p.stat_count("distinct", W, runs_of(tf, nullptr, many_t::count));
    return true;
}

bool tally_block_histogram(tallyf_t *tf, const tally_block_args_t &a)
{
    print_histogram(tf, a.p);
    return true;
}
