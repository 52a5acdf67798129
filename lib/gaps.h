// The fields a run found empty or missing, per group of a grouped run (a
// plain run is one group): what each record's notices and "missing N" line
// say.  Gaps are rare, so a group's counts are made at its first gap.
#ifndef NUMTALLY_LIB_GAPS_H
#define NUMTALLY_LIB_GAPS_H

#include <cstdint>
#include <vector>

#include "functions.h"
#include "selection.h"
#include "tallyf-list.h"

// One group's counts.  Any pointer may be null: no gap there.
struct tally_gap_counts_t {
    const uint64_t *rows = nullptr;  // per group of sel.rows
    const uint64_t *cols = nullptr;  // per group of sel.cols
    const uint64_t *lines = nullptr; // per record: lines a pair record skipped
};

// True when a line whose gaps are these is skipped by the two-column
// record tf under skip_missing: a field of either column is a gap.
inline bool tally_pair_gapped(const tallyf_t &tf,
                              const tally_group_t *const *gaps, int ngaps)
{
    for (int k = 0; k < ngaps; ++k)
        if (gaps[k]->number == tf.col || gaps[k]->number == tf.col2)
            return true;
    return false;
}

// The fields of tf's row or column that were gaps, as its "missing N"
// line counts them: a pair record (tally_feed_t::pairs), the lines it
// skipped; a two-sample record, the gaps of both its columns; any other,
// those of its row or column.
uint64_t tally_gaps_of(const tallyf_t &tf, int record,
                       const tally_selection_t &sel,
                       const tally_gap_counts_t &counts);

// The gaps of column col (0 when no group of sel.cols is col).
uint64_t tally_col_gaps(uint64_t col, const tally_selection_t &sel,
                        const tally_gap_counts_t &counts);

// The counts of every group of a grouped run.
class tally_gap_table_t {
public:
    // sel is read at the first gap (after the header line may have made
    // it again); pairs[0..npairs) are the two-column records of the list.
    tally_gap_table_t(const tallyf_list_t *list, const tally_selection_t *sel,
                      const int *pairs, int npairs, bool skip_missing)
        : list_(list), sel_(sel), pairs_(pairs), npairs_(npairs),
          skip_missing_(skip_missing)
    {
    }

    // The gaps of one line of group g.
    void count(uint32_t g, const tally_group_t *const *gaps, int ngaps);
    tally_gap_counts_t of(uint32_t g) const;
    // Adds the gaps of group og of another run's table (of the same list)
    // to group g's.
    void add(uint32_t g, const tally_gap_table_t &other, uint32_t og);
    // Group g's counts as the table keeps them, width() of them (null:
    // no gap there), for a part's state in a file; and such counts added.
    size_t width() const { return stride(); }
    const uint64_t *counts_of(uint32_t g) const;
    void add_counts(uint32_t g, const uint64_t *counts);

private:
    size_t stride() const;

    const tallyf_list_t *list_;
    const tally_selection_t *sel_;
    const int *pairs_;
    int npairs_;
    bool skip_missing_;
    mutable size_t ncols_ = 0;          // groups of sel.cols, once known
    std::vector<uint64_t> counts_;      // stride() per group, the first ones
};

#endif
