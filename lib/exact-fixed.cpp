// Exact fixed-point sums of weighted doubles, and their "%f" text.
#include "exact-fixed.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kWords = 70;
constexpr int kFractionBits = 1076; // the unit is 2^-1076

// Adds (or, with negative, subtracts) val << offset bits.
void add_shifted(exact_fixed_t *v, uint64_t val, int offset, bool negative)
{
    const int s = offset % 32;
    const uint64_t low = val << s;
    const uint64_t high = s != 0 ? val >> (64 - s) : 0;
    const uint32_t parts[3] = {static_cast<uint32_t>(low),
                               static_cast<uint32_t>(low >> 32),
                               static_cast<uint32_t>(high)};
    uint64_t carry = 0; // a carry when adding, a borrow when subtracting
    for (int i = offset / 32, j = 0; i < kWords; ++i, ++j) {
        const uint64_t part = j < 3 ? parts[j] : 0;
        if (j >= 3 && carry == 0)
            break;
        if (negative) {
            const uint64_t take = part + carry;
            carry = v->w[i] < take;
            v->w[i] = static_cast<uint32_t>(v->w[i] - take);
        } else {
            const uint64_t sum = v->w[i] + part + carry;
            v->w[i] = static_cast<uint32_t>(sum);
            carry = sum >> 32;
        }
    }
}

bool is_negative(const exact_fixed_t *v)
{
    return (v->w[kWords - 1] >> 31) != 0;
}

void negate(exact_fixed_t *v)
{
    uint64_t carry = 1;
    for (uint32_t &word : v->w) {
        const uint64_t sum = static_cast<uint64_t>(~word) + carry;
        word = static_cast<uint32_t>(sum);
        carry = sum >> 32;
    }
}

} // namespace

void exact_fixed_clear(exact_fixed_t *v)
{
    std::memset(v->w, 0, sizeof v->w);
}

namespace {

// x = m * 2^e exactly, m below 2^53; false for 0.
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

} // namespace

void exact_fixed_add(exact_fixed_t *v, double x, int halves)
{
    uint64_t m;
    int e;
    bool negative;
    if (!decompose(x, &m, &e, &negative) || halves == 0)
        return;
    negative = negative != (halves < 0);
    const uint64_t weight = static_cast<uint64_t>(halves < 0 ? -halves : halves);
    // halves / 2 * m * 2^e, in units of 2^-1076.
    add_shifted(v, m * weight, e - 1 + kFractionBits, negative);
}

void exact_fixed_add_scaled(exact_fixed_t *v, double x, int scale)
{
    uint64_t m;
    int e;
    bool negative;
    if (!decompose(x, &m, &e, &negative))
        return;
    int offset = e + scale + kFractionBits;
    for (; offset < 0; ++offset) // bits below the unit are zeros
        m >>= 1;
    add_shifted(v, m, offset, negative);
}

uint64_t exact_fixed_div(exact_fixed_t *v, uint64_t n)
{
    const bool negative = is_negative(v);
    if (negative)
        negate(v);
    __extension__ typedef unsigned __int128 u128;
    u128 rem = 0;
    for (int i = kWords - 1; i >= 0; --i) {
        const u128 cur = (rem << 32) | v->w[i];
        v->w[i] = static_cast<uint32_t>(cur / n);
        rem = cur % n;
    }
    uint64_t r = static_cast<uint64_t>(rem);
    if (negative) {
        // -(q n + r) = (-q - 1) n + (n - r)
        negate(v);
        if (r != 0) {
            add_shifted(v, 1, 0, true);
            r = n - r;
        }
    }
    return r;
}

double exact_fixed_round(const exact_fixed_t *v, bool inexact)
{
    exact_fixed_t mag = *v;
    const bool negative = is_negative(&mag);
    if (negative) {
        // -(mag - f) = -((mag - 1) + (1 - f)): the fraction stays inexact.
        negate(&mag);
        if (inexact)
            add_shifted(&mag, 1, 0, true);
    }
    int top = -1; // the highest bit set
    for (int i = kWords - 1; i >= 0 && top < 0; --i)
        if (mag.w[i] != 0)
            top = 32 * i + 31 - std::countl_zero(mag.w[i]);
    if (top < 0)
        return negative ? -0.0 : 0.0; // below a quarter of 2^-1074
    auto bit = [&mag](int k) { return (mag.w[k / 32] >> (k % 32)) & 1u; };
    // The last bit a double keeps: 53 bits, none below 2^-1074 (unit 4).
    const int last = top - 52 > 2 ? top - 52 : 2;
    uint64_t kept = 0;
    for (int k = top; k >= last; --k)
        kept = kept << 1 | bit(k);
    bool below = inexact;
    for (int k = last - 2; k >= 0 && !below; --k)
        below = bit(k) != 0;
    if (bit(last - 1) && (below || (kept & 1)))
        ++kept;
    const double r = std::ldexp(static_cast<double>(kept), last - kFractionBits);
    return negative ? -r : r;
}

int exact_fixed_cmp(const exact_fixed_t *v, double x)
{
    exact_fixed_t d = *v;
    exact_fixed_add(&d, x, -2);
    if (is_negative(&d))
        return -1;
    for (uint32_t word : d.w)
        if (word != 0)
            return 1;
    return 0;
}

void exact_fixed_format(const exact_fixed_t *v, char *buf, size_t size)
{
    exact_fixed_t mag = *v;
    const bool negative = is_negative(&mag);
    if (negative)
        negate(&mag);

    // Six decimals: scale by 10^6, then round away the fraction bits.
    uint64_t carry = 0;
    for (uint32_t &word : mag.w) {
        const uint64_t p = static_cast<uint64_t>(word) * 1000000u + carry;
        word = static_cast<uint32_t>(p);
        carry = p >> 32;
    }
    constexpr int first = kFractionBits / 32; // word holding the unit bit
    constexpr int shift = kFractionBits % 32;
    const bool half = (mag.w[first] >> (shift - 1)) & 1;
    bool below_half = (mag.w[first] & ((uint32_t{1} << (shift - 1)) - 1)) != 0;
    for (int i = 0; i < first && !below_half; ++i)
        below_half = mag.w[i] != 0;

    // The integer part, mag >> 1076.
    uint32_t q[kWords - first] = {};
    const int qn = kWords - first;
    for (int i = 0; i < qn; ++i) {
        uint64_t word = mag.w[first + i] >> shift;
        if (first + i + 1 < kWords)
            word |= static_cast<uint64_t>(mag.w[first + i + 1]) << (32 - shift);
        q[i] = static_cast<uint32_t>(word);
    }
    if (half && (below_half || (q[0] & 1))) {
        for (int i = 0; i < qn && ++q[i] == 0; ++i) {
        }
    }

    // Decimal digits, nine at a time from the bottom.
    char digits[700];
    int nd = 0;
    for (;;) {
        bool zero = true;
        uint64_t rem = 0;
        for (int i = qn - 1; i >= 0; --i) {
            const uint64_t cur = (rem << 32) | q[i];
            q[i] = static_cast<uint32_t>(cur / 1000000000u);
            rem = cur % 1000000000u;
            zero = zero && q[i] == 0;
        }
        for (int k = 0; k < 9; ++k) {
            digits[nd++] = static_cast<char>('0' + rem % 10);
            rem /= 10;
        }
        if (zero)
            break;
    }
    while (nd > 7 && digits[nd - 1] == '0')
        --nd;

    char text[720];
    size_t t = 0;
    if (negative)
        text[t++] = '-';
    for (int i = nd - 1; i >= 0; --i) {
        text[t++] = digits[i];
        if (i == 6)
            text[t++] = '.';
    }
    text[t] = '\0';
    std::snprintf(buf, size, "%s", text);
}
