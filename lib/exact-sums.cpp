#include "exact-sums.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "error-free.h"
#include "exact-wide.h"
#include "xt.h"

namespace {

// What the fast path of a record's exact sums could not hold.
struct rest_t {
    exact_wide_t s; // values
    exact_wide_t q; // their squares (records that keep them)
    // Values that are not finite: where the first NaN, +inf and -inf came
    // (the record's count before them; kNone: none), and the NaN.
    static constexpr uint64_t kNone = ~uint64_t{0};
    uint64_t first_nan = kNone, first_pos = kNone, first_neg = kNone;
    double nan_value = NAN;
    bool finite() const
    {
        return first_nan == kNone && first_pos == kNone && first_neg == kNone;
    }
    // The plain sum of the values in input order: NaN from the first NaN
    // fed or from the first line where both infinities have come (the NaN
    // that inf - inf makes), whichever came first; else the infinity.
    double plain_sum() const
    {
        const uint64_t clash = first_pos == kNone || first_neg == kNone
                                   ? kNone
                                   : std::max(first_pos, first_neg);
        if (first_nan != kNone && first_nan < clash)
            return nan_value;
        if (clash != kNone) {
            volatile double inf = INFINITY;
            return inf - inf;
        }
        return first_pos != kNone ? INFINITY : -INFINITY;
    }
    void merge(const rest_t &from, uint64_t offset)
    {
        exact_wide_add_wide(&s, &from.s);
        exact_wide_add_wide(&q, &from.q);
        if (first_nan == kNone && from.first_nan != kNone) {
            first_nan = from.first_nan + offset;
            nan_value = from.nan_value;
        }
        if (first_pos == kNone && from.first_pos != kNone)
            first_pos = from.first_pos + offset;
        if (first_neg == kNone && from.first_neg != kNone)
            first_neg = from.first_neg + offset;
    }
    rest_t()
    {
        exact_wide_clear(&s);
        exact_wide_clear(&q);
    }
};

using rests_t = std::vector<std::unique_ptr<rest_t>>;

// The rests of the run in progress on this thread.  A pass outside any
// scope (a caller of the library's own) gets one that lasts the thread.
thread_local rests_t *current = nullptr;

rests_t &rests()
{
    if (current == nullptr) {
        thread_local rests_t lasting;
        current = &lasting;
    }
    return *current;
}

rest_t *rest_of(const tallyf_t *tf)
{
    if (std::isnan(tf->scaled_lo))
        return nullptr;
    return rests()[static_cast<size_t>(tf->scaled_lo)].get();
}

rest_t *make_rest(tallyf_t *tf)
{
    if (rest_t *r = rest_of(tf))
        return r;
    rests_t &all = rests();
    all.push_back(std::make_unique<rest_t>());
    tf->scaled_lo = static_cast<double>(all.size() - 1);
    return all.back().get();
}

void add_finite(rest_t *r, double x, bool squares)
{
    exact_wide_add(&r->s, x);
    if (squares)
        exact_wide_add_product(&r->q, x, x);
}

// Adds the exact term t to the pair hi + lo, or to the rest where the pair
// cannot hold it exactly.
void add_term(tallyf_t *tf, double *hi, double *lo, double t, bool square)
{
    using error_free::sum_error;
    const double s = *hi + t;
    const double e = sum_error(*hi, t, s);
    const double l = *lo + e;
    if (sum_error(*lo, e, l) == 0) {
        *hi = s;
        *lo = l;
    } else {
        rest_t *r = make_rest(tf);
        exact_wide_add(square ? &r->q : &r->s, t);
    }
}

} // namespace

tally_rest_scope_t::tally_rest_scope_t() : outer_(current)
{
    current = new rests_t;
}

tally_rest_scope_t::~tally_rest_scope_t()
{
    delete current;
    current = static_cast<rests_t *>(outer_);
}

void tally_rest_add(tallyf_t *tf, double x, bool squares)
{
    rest_t *r = make_rest(tf);
    const uint64_t at = tf->num_count;
    if (std::isnan(x)) {
        if (r->first_nan == rest_t::kNone) {
            r->first_nan = at;
            r->nan_value = x;
        }
    } else if (std::isinf(x)) {
        uint64_t &first = x > 0 ? r->first_pos : r->first_neg;
        if (first == rest_t::kNone)
            first = at;
    } else {
        add_finite(r, x, squares);
    }
}

bool tally_kind_squares(tally_feed_t kind)
{
    return kind == tally_feed_t::squares ||
           kind == tally_feed_t::squares_listed ||
           kind == tally_feed_t::squares_bounds;
}

namespace {

// Scales of the sums beyond the range of doubles, as the record keeps them
// (lib/feed.h): values by 2^-66, squares by 2^-1120.
constexpr int kLinearScale = 66;
constexpr int kSquareScale = 1120;

} // namespace

void tally_settle(tallyf_t *tf, tally_feed_t kind)
{
    if (tally_feeds_pairs(kind))
        return;
    const bool squares = tally_kind_squares(kind);
    const rest_t *r = rest_of(tf);
    tf->scaled_lo = NAN;
    tf->shift = 0;
    tf->shift_count = tf->num_count;
    if (r != nullptr && !r->finite()) {
        // Not finite: the plain sums say so, as a sum in input order would,
        // and the exact ones are not used (lib/tallyf.h).
        const double plain = r->plain_sum();
        tf->sum = tf->sum_x = tf->sum_d = plain;
        tf->sum_d_lo = 0;
        tf->sum_x_2 = tf->sum_d_2 =
            r->first_nan != rest_t::kNone ? r->nan_value * r->nan_value
                                          : INFINITY;
        tf->sum_d_2_lo = 0;
        return;
    }
    if (tf->num_count == 0)
        return;

    exact_wide_t s;
    exact_wide_clear(&s);
    exact_wide_add(&s, tf->sum_d);
    exact_wide_add(&s, tf->sum_d_lo);
    if (r != nullptr)
        exact_wide_add_wide(&s, &r->s);
    const double total = exact_wide_round(&s);
    tf->sum = total;
    if (!squares) {
        if (std::isfinite(total)) {
            exact_wide_split(&s, 0, &tf->sum_d, &tf->sum_d_lo);
        } else {
            exact_wide_split(&s, -kLinearScale, &tf->sum_d, &tf->scaled_lo);
            tf->sum_d_lo = NAN;
        }
        return;
    }

    exact_wide_t q;
    exact_wide_clear(&q);
    exact_wide_add(&q, tf->sum_d_2);
    exact_wide_add(&q, tf->sum_d_2_lo);
    exact_wide_add(&q, tf->sum_x);
    exact_wide_add(&q, tf->sum_x_2);
    if (r != nullptr)
        exact_wide_add_wide(&q, &r->q);
    tf->sum_x = total;
    tf->sum_x_2 = exact_wide_round(&q);

    // The sums about a shift near the mean, a function of the exact sum
    // alone: the deviations' sum d = s - n shift, their squares' sum
    // d2 = q - 2 shift s + n shift^2, both exact.
    const uint64_t n = tf->num_count;
    double shift = total / static_cast<double>(n);
    if (!std::isfinite(shift))
        shift = std::ldexp(exact_wide_round(&s, -64) / static_cast<double>(n),
                           64);
    tf->shift = shift;
    exact_wide_t d = s;
    exact_wide_add_count_product(&d, n, shift, 1, -1);
    exact_wide_t d2 = q;
    exact_wide_add_wide_times(&d2, &s, shift, -1);
    exact_wide_add_wide_times(&d2, &s, shift, -1);
    exact_wide_add_count_product(&d2, n, shift, shift);
    const double d_hi = exact_wide_round(&d);
    const double d2_hi = exact_wide_round(&d2);
    if (std::isfinite(d_hi) && std::isfinite(d2_hi)) {
        exact_wide_split(&d, 0, &tf->sum_d, &tf->sum_d_lo);
        exact_wide_split(&d2, 0, &tf->sum_d_2, &tf->sum_d_2_lo);
    } else {
        exact_wide_split(&d, -kLinearScale, &tf->sum_d, &tf->sum_d_lo);
        exact_wide_split(&d2, -kSquareScale, &tf->sum_d_2, &tf->scaled_lo);
        tf->sum_d_2_lo = NAN;
    }
}

namespace {

bool append_file(FILE *into, FILE *from)
{
    if (from == nullptr || into == nullptr)
        return from == into;
    if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0)
        return false;
    char buf[1 << 16];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, from)) != 0)
        if (std::fwrite(buf, 1, got, into) != got)
            return false;
    return !std::ferror(from);
}

} // namespace

bool tally_merge_record(tallyf_t *into, tallyf_t *from, tally_feed_t kind)
{
    if (tally_feeds_pairs(kind) || from->num_count == 0)
        return true;
    const bool squares = tally_kind_squares(kind);

    // Bounds: the lowest and highest in sorted order, NaN for both once
    // either part met a NaN.
    if (into->num_count == 0) {
        into->low = from->low;
        into->high = from->high;
    } else if (std::isnan(into->low) || std::isnan(from->low)) {
        into->low = into->high = NAN;
    } else {
        if (xt_double_less(from->low, into->low))
            into->low = from->low;
        if (xt_double_less(into->high, from->high))
            into->high = from->high;
    }

    // The exact sums: from's pairs term by term, then its rest.
    add_term(into, &into->sum_d, &into->sum_d_lo, from->sum_d, false);
    add_term(into, &into->sum_d, &into->sum_d_lo, from->sum_d_lo, false);
    if (squares) {
        add_term(into, &into->sum_d_2, &into->sum_d_2_lo, from->sum_d_2, true);
        add_term(into, &into->sum_d_2, &into->sum_d_2_lo, from->sum_d_2_lo,
                 true);
        add_term(into, &into->sum_x, &into->sum_x_2, from->sum_x, true);
        add_term(into, &into->sum_x, &into->sum_x_2, from->sum_x_2, true);
    }
    if (const rest_t *fr = rest_of(from)) {
        make_rest(into)->merge(*fr, into->num_count);
    }

    if (kind == tally_feed_t::values && from->nums != nullptr) {
        const uint64_t need = into->num_count + from->num_count;
        if (need > into->array_size) {
            into->nums = static_cast<double *>(xt_grow_huge(
                into->nums, into->num_count, need, sizeof(double)));
            into->array_size = need;
        }
        for (uint64_t i = 0; i < from->num_count; ++i)
            into->nums[into->num_count + i] = from->nums[i];
    }
    if (kind == tally_feed_t::squares_listed &&
        !append_file(into->tmp_file, from->tmp_file))
        return false;

    into->num_count += from->num_count;
    into->shift_count += from->shift_count;
    return true;
}
