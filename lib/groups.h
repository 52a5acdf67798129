// A grouped run (--by): every function of the list computed separately for
// each distinct key, in one pass, whatever the order of the input.  The
// list's records are the requests; each group gets a state (a record of its
// own, a few hundred bytes) per request when its key first appears.  The
// report prints the groups in the order their keys first appeared, each line
// headed by the key fields, a TAB after each.
#ifndef NUMTALLY_LIB_GROUPS_H
#define NUMTALLY_LIB_GROUPS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "feed.h"
#include "gaps.h"
#include "key-table.h"
#include "pass.h"
#include "sink.h"
#include "spill.h"
#include "value-chain.h"
#include "tallyf-list.h"

struct tally_run_options_t;
class tally_state_writer_t;
class tally_state_reader_t;

// Runs the list grouped by the key columns of options (see tally_run).
// Refuses row functions (64) before reading input; a line without a key
// column, or with a key field longer than the field limit, ends the run
// (65, naming the row).
bool tally_run_grouped(tallyf_list_t *list, FILE *stream,
                       const tally_run_options_t &options, tally_error_t *err,
                       std::string *notes);

// The same over consecutive parts of one input (tally_run_parts): each
// part's pass keeps groups of its own, merged into the first part's before
// the report.
bool tally_run_grouped_parts(tallyf_list_t *list, FILE *const *parts,
                             int nparts, const tally_run_options_t &options,
                             tally_error_t *err, std::string *notes);

// --state-out and --merge of a grouped run (tally_run_state_out,
// tally_run_merge): per group, in the order keys first appeared, its key,
// gaps and states; then the listings' values.
bool tally_grouped_state_out(tallyf_list_t *list, FILE *stream,
                             const tally_run_options_t &options,
                             tally_state_writer_t *w, tally_error_t *err);
bool tally_grouped_merge_states(tallyf_list_t *list,
                                tally_state_reader_t *const *parts, int nparts,
                                const tally_run_options_t &options,
                                tally_error_t *err, std::string *notes);

// A grouped run with the input's chunks read on threads (lib/chunks.h).
class tally_chunk_feed_t;
struct tally_chunk_run_t;
bool tally_run_grouped_threaded(tallyf_list_t *list, tally_chunk_feed_t *feed,
                                const tally_run_options_t &options,
                                const tally_chunk_run_t &run,
                                tally_error_t *err, std::string *notes);

// The states of every group: per group, one record per request, made from
// the request's record with nothing collected, and one value chain per
// value-keeping request (its records keep no array: their values go to the
// chain, and become an array only while the group is reported).
class tally_group_states_t {
public:
    // chained: per request, whether it keeps values.
    tally_group_states_t(const tallyf_list_t *list, const bool *chained);
    ~tally_group_states_t();

    // The states of a new group (the next number).
    tallyf_t *add();
    // A new group whose states are made only when made() asks for them (a
    // run that keeps its sums elsewhere while it can: tally_hot_sum_t).  A
    // run adds all its groups one way or all the other: of() is for groups
    // added by add(), made() for those added by add_unmade().
    void add_unmade() { ++groups_; }
    tallyf_t *of(uint32_t group) { return blocks_[group]; }
    tallyf_t *made(uint32_t group);
    // The states of a group with nothing collected, copied to to.
    void copy_empty(tallyf_t *to);
    // A group's chains, in the order of the value-keeping requests.
    tally_value_chain_t *chains_of(uint32_t group)
    {
        return reinterpret_cast<tally_value_chain_t *>(blocks_[group] +
                                                       per_group_);
    }
    uint32_t groups() const { return groups_; }

private:
    tallyf_t *make(); // the next block of states, with nothing collected

    const tallyf_t *protos(); // a group's states with nothing collected

    const tallyf_list_t *list_;
    std::vector<tallyf_t> protos_;
    size_t per_group_;
    size_t chains_;                     // value chains per group
    size_t stride_;                     // bytes per group
    uint32_t groups_ = 0;
    uint32_t made_ = 0;                 // groups whose states are made
    size_t per_chunk_;                  // groups per chunk
    std::vector<char *> chunks_;
    std::vector<tallyf_t *> blocks_;    // each group's states (add())
    // The groups of add_unmade() whose states are made: few.
    std::unordered_map<uint32_t, tallyf_t *> sparse_;
};

// While the pass runs, a record that keeps the exact sum alone (kind
// tally_feed_t::sum) has what feed_sum keeps of it in 24 bytes: its sum
// (sum and sum_d alike), the sum's errors (sum_d_lo) and its count (both
// counts), where the record spreads them over two cache lines.  A value
// the short path cannot take exactly (an addition that would round, a sum
// that overflows, a value that is not finite) hands them to the record,
// which is fed from then on.
struct tally_hot_sum_t {
    static constexpr uint64_t kInRecord = ~uint64_t{0};
    double sum = 0;
    double lo = 0;
    uint64_t count = 0; // kInRecord: handed to the record
};

// Hands the sums to the record (made with nothing collected).
void tally_hand_over(tally_hot_sum_t *h, tallyf_t *tf);

// Adds b's sums to a's where a's pair holds them exactly; false (a
// untouched) where it does not.
bool tally_hot_add(tally_hot_sum_t *a, const tally_hot_sum_t &b);

// The grouped run's sink of the pass: the line's key finds (or makes) its
// group, and the staged values go to that group's states.
struct tally_group_sink_t {
    static constexpr bool stages = true;
    static constexpr bool rows = false; // never a row function

    tally_key_table_t *keys;
    tally_group_states_t *states;
    tally_value_arena_t *arena; // the value chains' blocks
    const tally_feed_t *kind;   // per request
    const int *chain;           // per request: its chain in the group, or -1
    const bool *spilled;        // per request: listing values go to spill
    tally_spill_t *spill;
    int requests;
    int nkeys;
    uint64_t all_keys;          // key.filled when every key field is there
    const uint32_t *key_cols;   // the key columns, in the order given
    std::string scratch;        // several key fields, length-prefixed
    const int *pairs = nullptr; // the two-column requests
    int npairs = 0;
    // welch-t --split: per request, its key slot (-1: none) and the run's
    // keys; any: some request has one.
    const int *split_slot = nullptr;
    tally_split_keys_t *split_keys = nullptr;
    bool any_split = false;
    // No request keeps values, lists them or takes pairs: each value goes
    // to its records' running sums alone (decided once per run).
    bool plain_feeds = false;
    // Besides, one request alone, of the one column wanted.
    bool single_feed = false;
    // Besides, one that keeps the exact sum alone: fed in hot[group], an
    // array in huge pages that grows without being copied (xt_grow_huge;
    // a vector's growth made a million groups 13% slower), which
    // tally_run_grouped frees.
    tally_hot_sum_t *hot = nullptr;
    size_t hot_room = 0;
    tally_gap_table_t *gap_table = nullptr; // each group's gaps
    // Past the memory limit: the values the chains may take yet before
    // spill_chains(spill_owner) writes them all out as a run.
    uint64_t chained_room = ~uint64_t{0};
    void (*spill_chains)(void *owner) = nullptr;
    void *spill_owner = nullptr;

    template <bool Fma>
    void row_value(const tally_group_t &, double, uint64_t)
    {
        // Never: a grouped run has no row functions.
    }
    template <bool Fma>
    void col_value(const tally_group_t &, double, uint64_t)
    {
        // Never: every column value is staged.
    }

    template <bool Fma, bool Paired>
    [[gnu::always_inline]] bool line_end(const tally_staged_t *staged, int n,
                                         const tally_group_t *const *gaps,
                                         int ngaps,
                                         const tally_line_key_t &key,
                                         uint64_t row, tally_error_t *err)
    {
        if ((key.filled & all_keys) != all_keys)
            return missing_key(key, row, err);
        const char *k = key.bytes;
        size_t len = key.len;
        if (nkeys > 1) {
            encode(key);
            k = scratch.data();
            len = scratch.size();
        } else if (any_split) {
            // The line's key holds the split keys' fields too.
            k = key.bytes + key.start[0];
            len = key.end[0] - key.start[0];
        }
        bool added;
        const uint32_t g = keys->find_or_add(k, len, &added);
        if (ngaps != 0) [[unlikely]]
            gap_table->count(g, gaps, ngaps);
        if (hot != nullptr) {
            if (added) {
                states->add_unmade();
                if (g == hot_room)
                    grow_hot();
                hot[g] = tally_hot_sum_t{};
            }
            if (n != 0)
                feed_hot<Fma>(&hot[g], g, staged[0].value);
            return true;
        }
        tallyf_t *s = added ? states->add() : states->of(g);
        if (single_feed) {
            // (n is 0 on a line without the column.)
            if (n != 0)
                tally_feed<Fma>(kind[0], s, staged[0].value);
            return true;
        }
        if (plain_feeds)
            feed_plain<Fma>(s, staged, n);
        else
            return feed_any<Fma>(s, g, staged, n, key, row, err);
        return true;
    }

    // A line's values for several requests.  Those that keep values, list
    // them or take pairs are fed out of line, built once per build of the
    // feeders rather than once per shape of the pass (a loop over the
    // requests, where a call per line costs little).
    template <bool Fma>
    [[gnu::always_inline]] void feed_plain(tallyf_t *s, const tally_staged_t *staged,
                                      int n)
    {
        for (int j = 0; j < n; ++j) {
            const tally_group_t &col = *staged[j].col;
            for (const int *i = col.first; i != col.last; ++i)
                tally_feed<Fma>(kind[*i], &s[*i], staged[j].value);
        }
    }
    template <bool Fma>
    [[gnu::noinline]] bool feed_any(tallyf_t *s, uint32_t g,
                                    const tally_staged_t *staged, int n,
                                    const tally_line_key_t &key, uint64_t row,
                                    tally_error_t *err)
    {
        for (int j = 0; j < n; ++j) {
            const tally_group_t &col = *staged[j].col;
            const double v = staged[j].value;
            for (const int *i = col.first; i != col.last; ++i) {
                if (chain[*i] >= 0) {
                    tally_feed_chained<Fma>(&s[*i], arena,
                                            &states->chains_of(g)[chain[*i]], v);
                    if (--chained_room == 0) [[unlikely]]
                        spill_chains(spill_owner);
                } else
                    tally_feed<Fma>(kind[*i], &s[*i], v);
                if (spilled[*i])
                    spill->put(uint64_t{g} * requests + *i, v);
            }
        }
        for (int p = 0; p < npairs; ++p) {
            const int i = pairs[p];
            if (!any_split || split_slot[i] < 0)
                tally_feed_line_pair<Fma>(&s[i], kind[i], staged, n);
            else if (!tally_feed_line_split<Fma>(&s[i], &split_keys[i],
                                                 split_slot[i], staged, n, key))
                return tally_missing_split_key(row, s[i].col2, err);
        }
        return true;
    }

    template <bool Fma>
    [[gnu::always_inline]] void feed_hot(tally_hot_sum_t *h, uint32_t g,
                                         double x)
    {
        if (h->count != tally_hot_sum_t::kInRecord) [[likely]] {
            // As tally_feed_body::exact_sum does.
            const double sum = error_free::add_first<Fma>(h->sum, x);
            const double e = error_free::sum_error(h->sum, x, sum);
            const double lo = h->lo + e;
            if (error_free::sum_error(h->lo, e, lo) == 0) [[likely]] {
                h->sum = sum;
                h->lo = lo;
                ++h->count;
                return;
            }
            tally_hand_over(h, states->made(g));
        }
        tally_feed<Fma>(tally_feed_t::sum, states->made(g), x);
    }

    void grow_hot();
    bool missing_key(const tally_line_key_t &key, uint64_t row,
                     tally_error_t *err);
    void encode(const tally_line_key_t &key);
};

#endif
