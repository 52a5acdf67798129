#include "exact-wide.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {

__extension__ typedef unsigned __int128 u128;
constexpr int kWords = exact_wide_t::kWords;
constexpr int kUnit = exact_wide_t::kUnitExp;

// A finite double as m * 2^e, m below 2^53.  False for a zero.
bool decompose(double x, uint64_t *m, int *e, bool *negative)
{
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    *m = bits & ((uint64_t{1} << 52) - 1);
    *e = -1074;
    if (biased != 0) {
        *m |= uint64_t{1} << 52;
        *e = biased - 1075;
    }
    *negative = (bits >> 63) != 0;
    return *m != 0;
}

// v += (negative ? -1 : 1) * m * 2^offset units, offset >= 0 (bits of m
// pushed below the unit are dropped: callers only push zeros there).
void add_shifted(exact_wide_t *v, u128 m, int offset, bool negative)
{
    if (m == 0)
        return;
    if (offset < 0) {
        m = -offset >= 128 ? 0 : m >> -offset;
        offset = 0;
    }
    int i = offset / 64;
    const int s = offset % 64;
    const uint64_t w0 = static_cast<uint64_t>(m);
    const uint64_t w1 = static_cast<uint64_t>(m >> 64);
    const uint64_t parts[3] = {w0 << s,
                               (w1 << s) | (s != 0 ? w0 >> (64 - s) : 0),
                               s != 0 ? w1 >> (64 - s) : 0};
    uint64_t carry = 0;
    for (int j = 0; i < kWords; ++i, ++j) {
        const uint64_t part = j < 3 ? parts[j] : 0;
        if (j >= 3 && carry == 0)
            break;
        if (negative) {
            const u128 take = static_cast<u128>(part) + carry;
            carry = static_cast<u128>(v->w[i]) < take;
            v->w[i] = static_cast<uint64_t>(v->w[i] - take);
        } else {
            const u128 sum = static_cast<u128>(v->w[i]) + part + carry;
            v->w[i] = static_cast<uint64_t>(sum);
            carry = static_cast<uint64_t>(sum >> 64);
        }
    }
}

bool is_negative(const exact_wide_t *v)
{
    return (v->w[kWords - 1] >> 63) != 0;
}

void negate(exact_wide_t *v)
{
    uint64_t carry = 1;
    for (uint64_t &word : v->w) {
        const u128 sum = static_cast<u128>(~word) + carry;
        word = static_cast<uint64_t>(sum);
        carry = static_cast<uint64_t>(sum >> 64);
    }
}

} // namespace

void exact_wide_clear(exact_wide_t *v)
{
    std::memset(v->w, 0, sizeof v->w);
}

bool exact_wide_is_zero(const exact_wide_t *v)
{
    for (uint64_t word : v->w)
        if (word != 0)
            return false;
    return true;
}

void exact_wide_add(exact_wide_t *v, double x, int scale, int sign)
{
    uint64_t m;
    int e;
    bool negative;
    if (!decompose(x, &m, &e, &negative))
        return;
    add_shifted(v, m, e + scale + kUnit, negative != (sign < 0));
}

void exact_wide_add_product(exact_wide_t *v, double a, double b, int sign)
{
    exact_wide_add_count_product(v, 1, a, b, sign);
}

void exact_wide_add_count_product(exact_wide_t *v, uint64_t n, double a,
                                  double b, int sign)
{
    uint64_t ma, mb;
    int ea, eb;
    bool na, nb;
    if (n == 0 || !decompose(a, &ma, &ea, &na) || !decompose(b, &mb, &eb, &nb))
        return;
    const bool negative = (na != nb) != (sign < 0);
    const u128 p = static_cast<u128>(ma) * mb; // below 2^106
    const int offset = ea + eb + kUnit;
    add_shifted(v, static_cast<u128>(static_cast<uint64_t>(p)) * n, offset,
                negative);
    add_shifted(v, static_cast<u128>(static_cast<uint64_t>(p >> 64)) * n,
                offset + 64, negative);
}

void exact_wide_add_wide(exact_wide_t *v, const exact_wide_t *u)
{
    uint64_t carry = 0;
    for (int i = 0; i < kWords; ++i) {
        const u128 sum = static_cast<u128>(v->w[i]) + u->w[i] + carry;
        v->w[i] = static_cast<uint64_t>(sum);
        carry = static_cast<uint64_t>(sum >> 64);
    }
}

void exact_wide_add_wide_times(exact_wide_t *v, const exact_wide_t *u,
                               double x, int sign)
{
    uint64_t m;
    int e;
    bool negative;
    if (!decompose(x, &m, &e, &negative))
        return;
    exact_wide_t mag = *u;
    if (is_negative(&mag)) {
        negate(&mag);
        negative = !negative;
    }
    negative = negative != (sign < 0);
    for (int i = 0; i < kWords; ++i)
        if (mag.w[i] != 0)
            add_shifted(v, static_cast<u128>(mag.w[i]) * m, 64 * i + e,
                        negative);
}

namespace {

// The highest bit set of a magnitude, -1 for zero.
int top_bit(const exact_wide_t *mag)
{
    for (int i = kWords - 1; i >= 0; --i)
        if (mag->w[i] != 0)
            return 64 * i + 63 - std::countl_zero(mag->w[i]);
    return -1;
}

bool bit(const exact_wide_t *mag, int k)
{
    return k >= 0 && ((mag->w[k / 64] >> (k % 64)) & 1u) != 0;
}

// The count bits (0 to 64) from bit from up, as a number.
uint64_t bits_from(const exact_wide_t *mag, int from, int count)
{
    if (count <= 0)
        return 0;
    const int word = from / 64, shift = from % 64;
    u128 v = mag->w[word];
    if (word + 1 < kWords)
        v |= static_cast<u128>(mag->w[word + 1]) << 64;
    const uint64_t got = static_cast<uint64_t>(v >> shift);
    return count == 64 ? got : got & ((uint64_t{1} << count) - 1);
}

// True when a bit below k is set.
bool any_below(const exact_wide_t *mag, int k)
{
    if (k <= 0)
        return false;
    const int word = (k - 1) / 64;
    const int bits = k - 64 * word; // bits of that word below k: 1 to 64
    const uint64_t mask = bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
    if ((mag->w[word] & mask) != 0)
        return true;
    for (int i = word - 1; i >= 0; --i)
        if (mag->w[i] != 0)
            return true;
    return false;
}

} // namespace

namespace {

double round_wide(const exact_wide_t *v, int scale, bool odd)
{
    exact_wide_t mag = *v;
    const bool negative = is_negative(&mag);
    if (negative)
        negate(&mag);
    const int top = top_bit(&mag);
    if (top < 0)
        return 0.0;
    // Bit k of the magnitude weighs 2^(k - kUnit + scale).  The lowest bit
    // a double keeps: 52 below the top, never below 2^-1074.
    int last = top - 52;
    const int subnormal_last = -1074 + kUnit - scale;
    if (last < subnormal_last)
        last = subnormal_last;
    if (odd && last > top) { // below the least subnormal: that, to odd
        const double r = std::ldexp(1.0, last - kUnit + scale);
        return negative ? -r : r;
    }
    if (last > top + 1) // below half the least subnormal
        return negative ? -0.0 : 0.0;
    uint64_t kept = last >= 0 ? bits_from(&mag, last, top - last + 1)
                              : bits_from(&mag, 0, top + 1) << -last;
    if (odd) {
        if (any_below(&mag, last))
            kept |= 1;
    } else if (bit(&mag, last - 1) &&
               (any_below(&mag, last - 1) || (kept & 1))) {
        ++kept;
    }
    const double r =
        std::ldexp(static_cast<double>(kept), last - kUnit + scale);
    return negative ? -r : r;
}

} // namespace

double exact_wide_round(const exact_wide_t *v, int scale)
{
    return round_wide(v, scale, false);
}

void exact_wide_split(const exact_wide_t *v, int scale, double *hi,
                      double *lo)
{
    *hi = exact_wide_round(v, scale);
    if (!std::isfinite(*hi)) {
        *lo = 0;
        return;
    }
    exact_wide_t rest = *v;
    exact_wide_add(&rest, *hi, -scale, -1);
    *lo = round_wide(&rest, scale, true);
}
