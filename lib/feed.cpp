// The feeders as functions, in both builds.
#include "feed.h"

#include "xt-prefault.h"

#include <cstdint>

namespace {

template <tally_feed_t Kind>
void plain(tallyf_t *tf, double x)
{
    tally_feed<false, false>(Kind, tf, x);
}

constexpr tally_feeder_t plain_table[TALLY_FEED_KINDS] = {
    plain<tally_feed_t::sum>,            plain<tally_feed_t::squares>,
    plain<tally_feed_t::squares_listed>, plain<tally_feed_t::squares_bounds>,
    plain<tally_feed_t::bounds>,         plain<tally_feed_t::values>,
    plain<tally_feed_t::pairs>,          plain<tally_feed_t::samples>,
};

#if defined(TALLY_FMA_DISPATCH)
template <tally_feed_t Kind>
[[gnu::target("fma")]] void fused(tallyf_t *tf, double x)
{
    tally_feed<true, false>(Kind, tf, x);
}

constexpr tally_feeder_t fused_table[TALLY_FEED_KINDS] = {
    fused<tally_feed_t::sum>,            fused<tally_feed_t::squares>,
    fused<tally_feed_t::squares_listed>, fused<tally_feed_t::squares_bounds>,
    fused<tally_feed_t::bounds>,         fused<tally_feed_t::values>,
    fused<tally_feed_t::pairs>,          fused<tally_feed_t::samples>,
};
#else
constexpr const tally_feeder_t *fused_table = plain_table;
#endif

bool choose_fma()
{
#if defined(TALLY_FMA_DISPATCH)
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

} // namespace

bool tally_use_fma()
{
    static const bool fma = choose_fma();
    return fma;
}

const tally_feeder_t *tally_feeders()
{
    static const tally_feeder_t *const chosen =
        tally_use_fma() ? fused_table : plain_table;
    return chosen;
}

void tally_finish_pairs(tallyf_t *tf, tally_feed_t kind)
{
    const tallyf_sums2_t *s = &tf->pairs;
    tf->num_count = s->n[0];
    tf->sum = tf->sum_x = tallyf_sums2_total(s, 0);
    tf->sum_x_2 = tallyf_sums2_total_squares(s, 0);
    tf->sum_y = tallyf_sums2_total(s, 1);
    tf->sum_y_2 = tallyf_sums2_total_squares(s, 1);
    if (kind == tally_feed_t::pairs)
        tf->sum_x_y = tallyf_sums2_total_products(s);
}

namespace tally_feed_body {

void prefault(double *from, uint64_t room)
{
    // This block and the next: the thread that faults them in keeps a
    // block ahead of the values written.
    const uint64_t values =
        room < 2 * kPrefaultValues ? room : 2 * kPrefaultValues;
    xt_prefault(from, values * sizeof(double));
}

} // namespace tally_feed_body
