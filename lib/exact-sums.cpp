#include "exact-sums.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "error-free.h"
#include "shifted-sums.h"
#include "exact-wide.h"
#include "xt.h"

namespace {

// What the fast path of a record's exact sums could not hold.
struct rest_t {
    exact_wide_t s; // values
    exact_wide_t q; // their squares (records that keep them)
    // Two-column records: per lane the values and their squares, and the
    // products of the pairs; per lane, whether a value was NaN or infinite.
    exact_wide_t px[2], pq[2], pxy;
    bool lane_nan[2] = {false, false}, lane_pos[2] = {false, false},
         lane_neg[2] = {false, false};
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
        for (int l = 0; l < 2; ++l) {
            exact_wide_add_wide(&px[l], &from.px[l]);
            exact_wide_add_wide(&pq[l], &from.pq[l]);
            lane_nan[l] |= from.lane_nan[l];
            lane_pos[l] |= from.lane_pos[l];
            lane_neg[l] |= from.lane_neg[l];
        }
        exact_wide_add_wide(&pxy, &from.pxy);
    }
    rest_t()
    {
        exact_wide_clear(&s);
        exact_wide_clear(&q);
        for (int l = 0; l < 2; ++l) {
            exact_wide_clear(&px[l]);
            exact_wide_clear(&pq[l]);
        }
        exact_wide_clear(&pxy);
    }
    bool lane_finite(int l) const
    {
        return !lane_nan[l] && !lane_pos[l] && !lane_neg[l];
    }
    // Takes x into lane l; false where it is not finite.
    bool take(int l, double x)
    {
        if (std::isnan(x))
            lane_nan[l] = true;
        else if (std::isinf(x))
            (x > 0 ? lane_pos[l] : lane_neg[l]) = true;
        else {
            exact_wide_add(&px[l], x);
            exact_wide_add_product(&pq[l], x, x);
            return true;
        }
        return false;
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

rest_t *rest_of(const tally_state_t *tf)
{
    if (std::isnan(tf->scaled_lo))
        return nullptr;
    return rests()[static_cast<size_t>(tf->scaled_lo)].get();
}

rest_t *make_rest(tally_state_t *tf)
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

// Adds the exact term t to the pair hi + lo where the pair holds it
// exactly; false (the pair untouched) where it does not.
bool add_exactly(double *hi, double *lo, double t)
{
    using error_free::sum_error;
    const double s = *hi + t;
    const double e = sum_error(*hi, t, s);
    const double l = *lo + e;
    if (sum_error(*lo, e, l) != 0)
        return false;
    *hi = s;
    *lo = l;
    return true;
}

// The same, or to the rest's number (which) where the pair cannot hold it.
void add_term(tally_state_t *tf, double *hi, double *lo, double t,
              exact_wide_t rest_t::*which)
{
    if (!add_exactly(hi, lo, t))
        exact_wide_add(&(make_rest(tf)->*which), t);
}

// The same into one lane's number of a two-column record's rest.
void add_lane_term(tally_state_t *tf, double *hi, double *lo, double t,
                   exact_wide_t (rest_t::*which)[2], int lane)
{
    if (!add_exactly(hi, lo, t))
        exact_wide_add(&(make_rest(tf)->*which)[lane], t);
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

tally_rests_held_t::tally_rests_held_t() : held_(new rests_t) {}

tally_rests_held_t::~tally_rests_held_t() { delete static_cast<rests_t *>(held_); }

void tally_rests_held_t::take(const tally_state_t *s)
{
    if (std::isnan(s->scaled_lo))
        return;
    auto &r = rests()[static_cast<size_t>(s->scaled_lo)];
    static_cast<rests_t *>(held_)->push_back(std::move(r));
}

void tally_rests_held_t::give(tally_state_t *s)
{
    if (std::isnan(s->scaled_lo))
        return;
    rests_t &held = *static_cast<rests_t *>(held_);
    rests_t &all = rests();
    all.push_back(std::move(held[next_++]));
    s->scaled_lo = static_cast<double>(all.size() - 1);
}

void tally_rest_add(tally_state_t *tf, double x, bool squares)
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

void tally_rest_pair(tally_state_t *tf, double x, double y)
{
    rest_t *r = make_rest(tf);
    const bool fx = r->take(0, x);
    const bool fy = r->take(1, y);
    if (fx && fy)
        exact_wide_add_product(&r->pxy, x, y);
}

void tally_rest_sample(tally_state_t *tf, int lane, double x)
{
    make_rest(tf)->take(lane, x);
}

void tally_clear_collected(tally_state_t *tf)
{
    tf->sum = tf->sum_x = tf->sum_x_2 = 0;
    tf->nums = nullptr;
    tf->num_count = tf->array_size = 0;
    tf->spilled = 0;
    tf->runs = nullptr;
    tf->tmp_file = nullptr;
    tf->shift = tf->sum_d = tf->sum_d_lo = tf->sum_d_2 = tf->sum_d_2_lo = 0;
    tf->shift_count = 0;
    tf->low = tf->high = tf->scaled_lo = NAN;
    tallyf_sums2_init(&tf->pairs);
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

namespace {

// Exact terms added up in a pair of doubles, each addition checked.
struct checked_sum_t {
    double hi = 0, lo = 0;
    bool exact = true;
    void add(double t)
    {
        using error_free::sum_error;
        const double s = hi + t;
        const double e = sum_error(hi, t, s);
        const double l = lo + e;
        exact &= sum_error(lo, e, l) == 0;
        hi = s;
        lo = l;
    }
    // sign * a * b, as the product and its error where both are exact.
    void add_product(double a, double b, double sign)
    {
        const double p = a * b;
        const double e = std::fma(a, b, -p);
        exact &= std::fabs(p) >= 0x1p-969 || a == 0 || b == 0;
        add(sign * p);
        add(sign * e);
    }
    // The canonical pair: the sum rounded, and the exact rest.
    void settle(double *h, double *l) const
    {
        *h = hi + lo;
        *l = error_free::sum_error(hi, lo, *h);
    }
};

// A squares record without a rest settled as the wide path below would,
// in pairs of doubles (a grouped run settles one record per group); false,
// with nothing written, where an addition would round or a sum is not
// finite: the wide path then takes it.
bool settle_squares_fast(tally_state_t *tf)
{
    const tallyf_sums2_t *t = &tf->pairs;
    const uint64_t n = tf->num_count;
    if (n >= (uint64_t{1} << 53))
        return false;
    const double nd = static_cast<double>(n);
    const double total = t->d[0] + t->d_lo[0]; // the exact sum, rounded
    const double shift = total / nd;
    checked_sum_t q, d, d2;
    for (double v : {t->d2[0], t->d2_lo[0], t->d[1], t->d_lo[1]}) {
        q.add(v);
        d2.add(v);
    }
    d.add(t->d[0]);
    d.add(t->d_lo[0]);
    d.add_product(nd, shift, -1);
    for (double v : {t->d[0], t->d_lo[0]}) {
        d2.add_product(shift, v, -1);
        d2.add_product(shift, v, -1);
    }
    const double sq = shift * shift;
    const double sq_error = std::fma(shift, shift, -sq);
    d2.exact &= sq >= 0x1p-969 || shift == 0;
    d2.add_product(nd, sq, 1);
    d2.add_product(nd, sq_error, 1);
    double d_hi, d_lo, d2_hi, d2_lo;
    d.settle(&d_hi, &d_lo);
    d2.settle(&d2_hi, &d2_lo);
    if (!(q.exact && d.exact && d2.exact) || !std::isfinite(shift) ||
        !std::isfinite(d_hi) || !std::isfinite(d2_hi) ||
        (d2_hi != 0 && d2_hi < 0x1p-600) || // kept scaled: the wide path
        !std::isfinite(q.hi + q.lo))
        return false;
    tf->sum = tf->sum_x = total;
    tf->sum_x_2 = q.hi + q.lo;
    tf->shift = shift;
    tf->sum_d = d_hi;
    tf->sum_d_lo = d_lo;
    tf->sum_d_2 = d2_hi;
    tf->sum_d_2_lo = d2_lo;
    tallyf_sums2_init(&tf->pairs);
    return true;
}

// The power of 2 a sample's sums are kept at: 0 where the sum of squared
// deviations d2 lies well inside the normal range, else e with d2 times
// 2^-2e in [1, 4) (the deviations' sum times 2^-e).
// The binary exponent of w's value (of its double nearest), INT_MIN for 0.
int wide_exp(const exact_wide_t &w)
{
    constexpr int kShift = 1100; // brings any sum the engine keeps into doubles
    if (exact_wide_is_zero(&w))
        return INT_MIN;
    const double r = exact_wide_round(&w);
    if (std::isinf(r))
        return std::ilogb(exact_wide_round(&w, -kShift)) + kShift;
    if (std::fabs(r) < 0x1p-1000)
        return std::ilogb(exact_wide_round(&w, kShift)) - kShift;
    return std::ilogb(r);
}

int lane_scale(const exact_wide_t &d2)
{
    const double r = exact_wide_round(&d2);
    if (exact_wide_is_zero(&d2) ||
        (std::fabs(r) > 0x1p-600 && std::fabs(r) < 0x1p600))
        return 0;
    const int exp = wide_exp(d2);
    return exp >= 0 ? exp / 2 : -((1 - exp) / 2);
}

// The power of 2 a pair record's sum of cross products is kept at: 0 where
// both lanes are kept as they are and the products' sum about the means
// lies well inside the normal range, else near its binary exponent.  That
// sum is c - D D' / n (c the exact sum about the shifts, rounding to c_hi;
// D and D' the lanes' deviations' sums, as t holds them settled), whose
// larger term gives the exponent.
int cross_scale(const exact_wide_t &c, double c_hi, const tallyf_sums2_t *t)
{
    const bool lanes_scaled = t->e2[0] != 0 || t->e2[1] != 0;
    const double r = std::fabs(c_hi);
    int top = !lanes_scaled && r > 0x1p-600 && r < 0x1p600 ? std::ilogb(r)
                                                          : wide_exp(c);
    if (t->d[0] != 0 && t->d[1] != 0)
        top = std::max(top, std::ilogb(t->d[0]) + std::ilogb(t->d[1]) + 1 +
                                static_cast<int>(t->e2[0] + t->e2[1]) -
                                std::ilogb(static_cast<double>(t->n[0])));
    if (top == INT_MIN || (!lanes_scaled && top > -600 && top < 600))
        return 0;
    return top;
}

// A two-column record's exact sums settled into the shifted form the
// report reads (shifted-sums.h): per lane, a shift near the mean and the
// deviations' sums about it; the products' deviations for pairs.
void settle_pairs(tally_state_t *tf, tally_feed_t kind)
{
    tallyf_sums2_t *t = &tf->pairs;
    const rest_t *r = rest_of(tf);
    tf->scaled_lo = NAN;
    exact_wide_t s[2];
    bool finite[2];
    for (int l = 0; l < 2; ++l) {
        finite[l] = r == nullptr || r->lane_finite(l);
        const uint64_t n = t->n[l];
        exact_wide_clear(&s[l]);
        exact_wide_add(&s[l], t->d[l]);
        exact_wide_add(&s[l], t->d_lo[l]);
        exact_wide_t q;
        exact_wide_clear(&q);
        for (double v : {t->d2[l], t->d2_lo[l], t->e2[l], t->e2_lo[l]})
            exact_wide_add(&q, v);
        if (r != nullptr) {
            exact_wide_add_wide(&s[l], &r->px[l]);
            exact_wide_add_wide(&q, &r->pq[l]);
        }
        t->e2[l] = t->e2_lo[l] = 0;
        if (!finite[l]) {
            // A NaN or both infinities: nothing is a number; one infinity:
            // the sums are that infinity and +inf.
            const bool nan = r->lane_nan[l] || (r->lane_pos[l] && r->lane_neg[l]);
            t->shift[l] = 0;
            t->d[l] = nan ? NAN : r->lane_pos[l] ? INFINITY : -INFINITY;
            t->d2[l] = nan ? NAN : INFINITY;
            t->d_lo[l] = t->d2_lo[l] = 0;
            continue;
        }
        if (n == 0) {
            t->shift[l] = t->d[l] = t->d_lo[l] = t->d2[l] = t->d2_lo[l] = 0;
            continue;
        }
        double shift = exact_wide_round(&s[l]) / static_cast<double>(n);
        if (!std::isfinite(shift))
            shift = std::ldexp(
                exact_wide_round(&s[l], -64) / static_cast<double>(n), 64);
        t->shift[l] = shift;
        exact_wide_t d = s[l];
        exact_wide_add_count_product(&d, n, shift, 1, -1);
        exact_wide_t d2 = q;
        exact_wide_add_wide_times(&d2, &s[l], shift, -1);
        exact_wide_add_wide_times(&d2, &s[l], shift, -1);
        exact_wide_add_count_product(&d2, n, shift, shift);
        // Sums far from 1 are kept scaled (see e2 in shifted-sums.h), so
        // that their digits survive in doubles.
        exact_wide_split(&d, 0, &t->d[l], &t->d_lo[l]);
        exact_wide_split(&d2, 0, &t->d2[l], &t->d2_lo[l]);
        if (const double a = std::fabs(t->d2[l]);
            (a > 0x1p-600 && a < 0x1p600) || exact_wide_is_zero(&d2))
            continue; // lane_scale's 0, without rounding d2 again
        const int e = lane_scale(d2);
        exact_wide_split(&d, -e, &t->d[l], &t->d_lo[l]);
        exact_wide_split(&d2, -2 * e, &t->d2[l], &t->d2_lo[l]);
        t->e2[l] = e;
    }
    exact_wide_t c;
    exact_wide_clear(&c);
    for (double v : {t->dxy, t->dxy_lo, t->exy, t->exy_lo})
        exact_wide_add(&c, v);
    t->exy = t->exy_lo = 0;
    if (kind != tally_feed_t::pairs || t->n[0] == 0) {
        t->dxy = t->dxy_lo = 0;
        return;
    }
    if (!finite[0] || !finite[1]) {
        t->dxy = NAN;
        t->dxy_lo = 0;
        return;
    }
    if (r != nullptr)
        exact_wide_add_wide(&c, &r->pxy);
    // sum (x - a)(y - b) = sum xy - a sum y - b sum x + n a b
    exact_wide_add_wide_times(&c, &s[1], t->shift[0], -1);
    exact_wide_add_wide_times(&c, &s[0], t->shift[1], -1);
    exact_wide_add_count_product(&c, t->n[0], t->shift[0], t->shift[1]);
    exact_wide_split(&c, 0, &t->dxy, &t->dxy_lo);
    const int e = cross_scale(c, t->dxy, t);
    if (e != 0)
        exact_wide_split(&c, -e, &t->dxy, &t->dxy_lo);
    t->exy = e;
}

} // namespace

void tally_settle(tally_state_t *tf, tally_feed_t kind)
{
    if (tally_feeds_pairs(kind)) {
        settle_pairs(tf, kind);
        return;
    }
    const bool squares = tally_kind_squares(kind);
    const rest_t *r = rest_of(tf);
    tf->scaled_lo = NAN;
    tf->shift = 0;
    tf->shift_count = tf->num_count;
    if (r != nullptr && !r->finite()) {
        // Not finite: the plain sums say so, as a sum in input order would,
        // and the exact ones are not used (lib/tally-state.h).
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
    if (!squares && r == nullptr) {
        // The common case, and a grouped run's per group: the exact sum is
        // the pair itself, whose canonical form one exact addition gives.
        const double hi = tf->sum_d + tf->sum_d_lo;
        if (std::isfinite(hi)) {
            tf->sum_d_lo = error_free::sum_error(tf->sum_d, tf->sum_d_lo, hi);
            tf->sum = tf->sum_d = hi;
            return;
        }
    }

    // The pass kept a squares record's sums in its two-lane sums.
    tallyf_sums2_t *t = &tf->pairs;
    if (squares && r == nullptr && settle_squares_fast(tf))
        return;
    exact_wide_t s;
    exact_wide_clear(&s);
    exact_wide_add(&s, squares ? t->d[0] : tf->sum_d);
    exact_wide_add(&s, squares ? t->d_lo[0] : tf->sum_d_lo);
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
    for (double v : {t->d2[0], t->d2_lo[0], t->d[1], t->d_lo[1]})
        exact_wide_add(&q, v);
    tallyf_sums2_init(t);
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
        // Squared deviations too small for their digits to survive in
        // doubles: kept scaled as well, in the pairs' first lane (see
        // pairs in tally-state.h).
        const int e = d2_hi < 0x1p-600 ? lane_scale(d2) : 0;
        if (e != 0) {
            t->n[0] = n;
            t->shift[0] = shift;
            exact_wide_split(&d, -e, &t->d[0], &t->d_lo[0]);
            exact_wide_split(&d2, -2 * e, &t->d2[0], &t->d2_lo[0]);
            t->e2[0] = e;
        }
    } else {
        exact_wide_split(&d, -kLinearScale, &tf->sum_d, &tf->sum_d_lo);
        exact_wide_split(&d2, -kSquareScale, &tf->sum_d_2, &tf->scaled_lo);
        tf->sum_d_2_lo = NAN;
    }
}

bool tally_rest_get(const tally_state_t *tf, tally_rest_data_t *d)
{
    const rest_t *r = rest_of(tf);
    if (r == nullptr)
        return false;
    const exact_wide_t *w[7] = {&r->s, &r->q, &r->px[0], &r->px[1],
                                &r->pq[0], &r->pq[1], &r->pxy};
    for (int k = 0; k < 7; ++k)
        d->wide[k] = *w[k];
    for (int l = 0; l < 2; ++l) {
        d->lane_nan[l] = r->lane_nan[l];
        d->lane_pos[l] = r->lane_pos[l];
        d->lane_neg[l] = r->lane_neg[l];
    }
    d->first_nan = r->first_nan;
    d->first_pos = r->first_pos;
    d->first_neg = r->first_neg;
    d->nan_value = r->nan_value;
    return true;
}

void tally_rest_set(tally_state_t *tf, const tally_rest_data_t &d)
{
    rest_t *r = make_rest(tf);
    exact_wide_t *w[7] = {&r->s, &r->q, &r->px[0], &r->px[1],
                          &r->pq[0], &r->pq[1], &r->pxy};
    for (int k = 0; k < 7; ++k)
        *w[k] = d.wide[k];
    for (int l = 0; l < 2; ++l) {
        r->lane_nan[l] = d.lane_nan[l];
        r->lane_pos[l] = d.lane_pos[l];
        r->lane_neg[l] = d.lane_neg[l];
    }
    r->first_nan = d.first_nan;
    r->first_pos = d.first_pos;
    r->first_neg = d.first_neg;
    r->nan_value = d.nan_value;
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

namespace {

void merge_pairs(tally_state_t *into, const tally_state_t *from)
{
    tallyf_sums2_t *a = &into->pairs;
    const tallyf_sums2_t *b = &from->pairs;
    for (int l = 0; l < 2; ++l) {
        for (double t : {b->d[l], b->d_lo[l]})
            add_lane_term(into, &a->d[l], &a->d_lo[l], t, &rest_t::px, l);
        for (double t : {b->d2[l], b->d2_lo[l], b->e2[l], b->e2_lo[l]})
            add_lane_term(into, &a->d2[l], &a->d2_lo[l], t, &rest_t::pq, l);
        a->n[l] += b->n[l];
    }
    for (double t : {b->dxy, b->dxy_lo, b->exy, b->exy_lo})
        add_term(into, &a->dxy, &a->dxy_lo, t, &rest_t::pxy);
    if (const rest_t *fr = rest_of(from))
        make_rest(into)->merge(*fr, into->num_count);
}

} // namespace

void tally_swap_samples(tally_state_t *tf)
{
    tallyf_sums2_t *t = &tf->pairs;
    for (double *lanes : {t->shift, t->d, t->d_lo, t->d2, t->d2_lo, t->e2,
                          t->e2_lo})
        std::swap(lanes[0], lanes[1]);
    std::swap(t->n[0], t->n[1]);
    if (rest_t *r = rest_of(tf)) {
        std::swap(r->px[0], r->px[1]);
        std::swap(r->pq[0], r->pq[1]);
        std::swap(r->lane_nan[0], r->lane_nan[1]);
        std::swap(r->lane_pos[0], r->lane_pos[1]);
        std::swap(r->lane_neg[0], r->lane_neg[1]);
    }
}

bool tally_merge_record(tally_state_t *into, tally_state_t *from, tally_feed_t kind)
{
    if (tally_feeds_pairs(kind)) {
        merge_pairs(into, from);
        return true;
    }
    if (from->num_count == 0)
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
    if (squares) {
        tallyf_sums2_t *a = &into->pairs;
        const tallyf_sums2_t *b = &from->pairs;
        for (double t : {b->d[0], b->d_lo[0]})
            add_term(into, &a->d[0], &a->d_lo[0], t, &rest_t::s);
        for (double t : {b->d2[0], b->d2_lo[0], b->d[1], b->d_lo[1]})
            add_term(into, &a->d2[0], &a->d2_lo[0], t, &rest_t::q);
    } else {
        add_term(into, &into->sum_d, &into->sum_d_lo, from->sum_d, &rest_t::s);
        add_term(into, &into->sum_d, &into->sum_d_lo, from->sum_d_lo,
                 &rest_t::s);
    }
    if (const rest_t *fr = rest_of(from)) {
        make_rest(into)->merge(*fr, into->num_count);
    }

    if (kind == tally_feed_t::values && from->nums != nullptr)
        tally_values_append(into, from);
    if (kind == tally_feed_t::squares_listed &&
        !append_file(into->tmp_file, from->tmp_file))
        return false;

    into->num_count += from->num_count;
    into->shift_count += from->shift_count;
    return true;
}
