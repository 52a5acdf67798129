// The feeders as functions, in both builds.
#include "feed.h"

namespace {

template <tally_feed_t Kind>
void plain(tallyf_t *tf, double x)
{
    tally_feed<false>(Kind, tf, x);
}

constexpr tally_feeder_t plain_table[TALLY_FEED_KINDS] = {
    plain<tally_feed_t::sum>,            plain<tally_feed_t::squares>,
    plain<tally_feed_t::squares_listed>, plain<tally_feed_t::squares_bounds>,
    plain<tally_feed_t::bounds>,         plain<tally_feed_t::values>,
};

#if defined(TALLY_FMA_DISPATCH)
template <tally_feed_t Kind>
[[gnu::target("fma")]] void fused(tallyf_t *tf, double x)
{
    tally_feed<true>(Kind, tf, x);
}

constexpr tally_feeder_t fused_table[TALLY_FEED_KINDS] = {
    fused<tally_feed_t::sum>,            fused<tally_feed_t::squares>,
    fused<tally_feed_t::squares_listed>, fused<tally_feed_t::squares_bounds>,
    fused<tally_feed_t::bounds>,         fused<tally_feed_t::values>,
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
