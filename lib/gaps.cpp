// Gap counts per group.
#include "gaps.h"

namespace {

size_t group_index(uint64_t number, const tally_group_t *g)
{
    size_t k = 0;
    while (g[k].number != UINT64_MAX && g[k].number != number)
        ++k;
    return k;
}

uint64_t count_at(const uint64_t *counts, uint64_t number, const tally_group_t *g)
{
    if (counts == nullptr || number == 0)
        return 0;
    const size_t k = group_index(number, g);
    return g[k].number == number ? counts[k] : 0;
}

} // namespace

uint64_t tally_col_gaps(uint64_t col, const tally_selection_t &sel,
                        const tally_gap_counts_t &counts)
{
    return count_at(counts.cols, col, sel.cols);
}

uint64_t tally_gaps_of(const tallyf_t &tf, int record,
                       const tally_selection_t &sel,
                       const tally_gap_counts_t &counts)
{
    if (tf.row != 0)
        return count_at(counts.rows, tf.row, sel.rows);
    switch (tally_feed_of(tf.code)) {
    case tally_feed_t::pairs:
        return counts.lines == nullptr ? 0 : counts.lines[record];
    case tally_feed_t::samples:
        return tally_col_gaps(tf.col, sel, counts) +
               (tf.split ? 0 : tally_col_gaps(tf.col2, sel, counts));
    default:
        return tally_col_gaps(tf.col, sel, counts);
    }
}

size_t tally_gap_table_t::stride() const
{
    if (ncols_ == 0)
        ncols_ = group_index(UINT64_MAX, sel_->cols) + 1;
    return ncols_ + static_cast<size_t>(list_->count);
}

void tally_gap_table_t::count(uint32_t g, const tally_group_t *const *gaps,
                              int ngaps)
{
    const size_t n = stride();
    if (counts_.size() < (size_t{g} + 1) * n)
        counts_.resize((size_t{g} + 1) * n);
    uint64_t *c = counts_.data() + size_t{g} * n;
    for (int k = 0; k < ngaps; ++k)
        ++c[gaps[k] - sel_->cols];
    if (!skip_missing_)
        return;
    for (int p = 0; p < npairs_; ++p) {
        const tallyf_t &tf = list_->functions[pairs_[p]];
        if (tally_feed_of(tf.code) == tally_feed_t::pairs &&
            tally_pair_gapped(tf, gaps, ngaps))
            ++c[ncols_ + static_cast<size_t>(pairs_[p])];
    }
}

tally_gap_counts_t tally_gap_table_t::of(uint32_t g) const
{
    const size_t n = stride();
    if (counts_.size() < (size_t{g} + 1) * n)
        return {};
    const uint64_t *c = counts_.data() + size_t{g} * n;
    return {nullptr, c, c + ncols_};
}

void tally_gap_table_t::add(uint32_t g, const tally_gap_table_t &other,
                            uint32_t og)
{
    const size_t n = other.stride();
    if (other.counts_.size() < (size_t{og} + 1) * n)
        return; // no gap there
    if (counts_.size() < (size_t{g} + 1) * stride())
        counts_.resize((size_t{g} + 1) * stride());
    const uint64_t *from = other.counts_.data() + size_t{og} * n;
    uint64_t *to = counts_.data() + size_t{g} * n;
    for (size_t k = 0; k < n; ++k)
        to[k] += from[k];
}

const uint64_t *tally_gap_table_t::counts_of(uint32_t g) const
{
    const size_t n = stride();
    if (counts_.size() < (size_t{g} + 1) * n)
        return nullptr;
    return counts_.data() + size_t{g} * n;
}

void tally_gap_table_t::add_counts(uint32_t g, const uint64_t *counts)
{
    const size_t n = stride();
    if (counts_.size() < (size_t{g} + 1) * n)
        counts_.resize((size_t{g} + 1) * n);
    uint64_t *to = counts_.data() + size_t{g} * n;
    for (size_t k = 0; k < n; ++k)
        to[k] += counts[k];
}
