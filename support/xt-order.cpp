// A total order over every double bit pattern, NaNs last.
#include "xt.h"

#include <bit>
#include <cstdint>

namespace {

// Maps a double to an unsigned key whose integer order is the sort order:
// -inf .. -0, +0 .. +inf, then NaNs with the sign bit clear, then NaNs with it
// set.  The map is one-to-one, so equal keys mean identical bits.
inline uint64_t order_key(double x)
{
    constexpr uint64_t sign = uint64_t{1} << 63;
    // The classic flip makes the integer order follow the numeric order, but
    // leaves negative NaNs below -inf; rotating by their count moves them up
    // past the positive NaNs, to the very top.
    constexpr uint64_t negative_nans = (uint64_t{1} << 52) - 1;
    const uint64_t b = std::bit_cast<uint64_t>(x);
    const uint64_t flipped = (b & sign) ? ~b : (b | sign);
    return flipped - negative_nans;
}

} // namespace

bool xt_double_less(double a, double b)
{
    return order_key(a) < order_key(b);
}

int xt_double_cmp(const void *a, const void *b)
{
    const uint64_t ka = order_key(*static_cast<const double *>(a));
    const uint64_t kb = order_key(*static_cast<const double *>(b));
    return (ka > kb) - (ka < kb);
}
