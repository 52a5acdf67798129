// Exact fixed-point sums of weighted doubles, and their "%f" text.
#include "exact-fixed.h"

#include <bit>
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

void exact_fixed_add(exact_fixed_t *v, double x, int halves)
{
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t m = bits & ((uint64_t{1} << 52) - 1);
    int e = -1074; // x = m * 2^e
    if (biased != 0) {
        m |= uint64_t{1} << 52;
        e = biased - 1075;
    }
    if (m == 0 || halves == 0)
        return;
    const bool negative = ((bits >> 63) != 0) != (halves < 0);
    const uint64_t weight = static_cast<uint64_t>(halves < 0 ? -halves : halves);
    // halves / 2 * m * 2^e, in units of 2^-1076.
    add_shifted(v, m * weight, e - 1 + kFractionBits, negative);
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
