// The grouped run.
#include "groups.h"
#include "chunks.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/mman.h>
#include <sysexits.h>

#include "functions.h"
#include "report.h"
#include "report-more.h"
#include "selection.h"
#include "notices.h"
#include "run-options.h"
#include "pass-body.h"
#include "state-file.h"
#include "tmp-file.h"
#include "value-spill.h"
#include "xt.h"

namespace {

// Listing values read back into memory at once, at most (a larger group
// is read alone).
constexpr uint64_t kWindowValues = uint64_t{1} << 22;

// The line prefix of a group: its key fields, a TAB after each (a tab,
// line break or backslash in a field escaped as a TSV field holds it).
void key_prefix(std::string_view key, int nkeys, std::string *prefix)
{
    prefix->clear();
    tally_each_key_field(key, nkeys, [prefix](std::string_view field) {
        tally_tsv_escape(field, prefix);
        prefix->push_back('\t');
    });
}

// Key columns given by name.  This is where names become column numbers
// from the header line, for runs that read one; without a header a name
// cannot be resolved (64).
bool resolve_key_names(const tally_run_options_t &options, uint32_t *by,
                       tally_error_t *err)
{
    for (int s = 0; s < options.nby; ++s) {
        by[s] = options.by[s];
        if (by[s] == 0 && !options.header) {
            std::string m = "Invalid --by column: ";
            m += options.by_name[s];
            m += '\n';
            return tally_fail(err, EX_USAGE, std::move(m));
        }
    }
    return true;
}

// States come in chunks of 4 MiB, in huge pages where the system lends them:
// a million groups touch hundreds of megabytes of new states, and huge pages
// take a third of the page faults' time.  Pages never touched cost nothing.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kChunkBytes = 2 * kHugePage;

char *new_chunk(size_t bytes)
{
    bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void *p = std::aligned_alloc(kHugePage, bytes);
    if (p == nullptr)
        return static_cast<char *>(xt_malloc(bytes, 1)); // or throws
#if defined(MADV_HUGEPAGE)
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
    return static_cast<char *>(p);
}

// The report is made whole before any of it is written, so that a run
// that fails on the way (out of memory, a listing that cannot be read
// back) prints nothing but its message.  It is held in memory, in blocks
// that are never copied (its bytes and a block's worth more at peak); a run
// with listings, whose lines may take many times the bytes of the values
// read, holds it in a temporary file instead.
class held_report_t {
public:
    held_report_t() = default;
    held_report_t(const held_report_t &) = delete;
    held_report_t &operator=(const held_report_t &) = delete;
    ~held_report_t()
    {
        if (file_ != nullptr)
            std::fclose(file_);
        while (first_ != nullptr) {
            block_t *next = first_->next;
            std::free(first_);
            first_ = next;
        }
    }

    bool open(bool on_disk, tally_error_t *err)
    {
        errno = 0;
        on_disk_ = on_disk;
        if (on_disk) {
            file_ = tallyf_tmpfile();
            if (file_ == nullptr)
                return tally_fail_io(err, "cannot create temporary file",
                                     errno);
            return true;
        }
        static const cookie_io_functions_t io = {nullptr, hold, nullptr,
                                                 nullptr};
        file_ = fopencookie(this, "w", io);
        if (file_ == nullptr)
            return tally_fail_nomem(err);
        return true;
    }

    FILE *file() const { return file_; }

    // Writes the whole report to standard output.
    bool write_out(tally_error_t *err)
    {
        errno = 0;
        const bool kept = std::fflush(file_) == 0 && !std::ferror(file_);
        if (!on_disk_) {
            if (!kept)
                return tally_fail_nomem(err); // its only way to fail
            for (const block_t *b = first_; b != nullptr; b = b->next)
                std::fwrite(b->bytes, 1, b->used, stdout);
            return true;
        }
        if (!kept)
            return tally_fail_io(err, "cannot write temporary file", errno);
        std::rewind(file_);
        char chunk[1 << 16];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file_)) != 0)
            std::fwrite(chunk, 1, got, stdout);
        if (std::ferror(file_))
            return tally_fail_io(err, "cannot read temporary file", errno);
        return true;
    }

private:
    static constexpr size_t kBlockBytes = size_t{1} << 20;
    struct block_t {
        block_t *next;
        size_t used;
        char bytes[kBlockBytes];
    };

    // The stream's writes, called from the C library: no exception, a
    // failure is the stream's error.
    static ssize_t hold(void *cookie, const char *buf, size_t size)
    {
        auto *r = static_cast<held_report_t *>(cookie);
        size_t done = 0;
        while (done < size) {
            if (r->last_ == nullptr || r->last_->used == kBlockBytes) {
                auto *b = static_cast<block_t *>(std::malloc(sizeof(block_t)));
                if (b == nullptr) {
                    errno = ENOMEM;
                    return done != 0 ? static_cast<ssize_t>(done) : -1;
                }
                b->next = nullptr;
                b->used = 0;
                (r->last_ != nullptr ? r->last_->next : r->first_) = b;
                r->last_ = b;
            }
            const size_t n = std::min(size - done, kBlockBytes - r->last_->used);
            std::memcpy(r->last_->bytes + r->last_->used, buf + done, n);
            r->last_->used += n;
            done += n;
        }
        return static_cast<ssize_t>(done);
    }

    FILE *file_ = nullptr;
    bool on_disk_ = false;
    block_t *first_ = nullptr; // the report in memory
    block_t *last_ = nullptr;
};

} // namespace

tally_group_states_t::tally_group_states_t(const tallyf_list_t *list,
                                           const bool *chained)
    : list_(list), per_group_(static_cast<size_t>(list->count)),
      chains_(static_cast<size_t>(std::count(chained, chained + list->count,
                                             true))),
      // Whole cache lines a group: a record's running sums then span the
      // same lines in every group.
      stride_((per_group_ * sizeof(tallyf_t) +
               chains_ * sizeof(tally_value_chain_t) + 63) / 64 * 64),
      per_chunk_(stride_ == 0 ? 1024
                              : std::max<size_t>(1, kChunkBytes / stride_ - 1))
{
}

const tallyf_t *tally_group_states_t::protos()
{
    // Made at the first group, when the header line (read before any
    // group) has named the columns chosen by name.  What was asked stays
    // (code, row, col, partitions, expected mean); what is collected starts
    // empty, with no array and no file.
    if (protos_.size() == per_group_)
        return protos_.data();
    protos_.assign(list_->functions, list_->functions + per_group_);
    for (tallyf_t &tf : protos_)
        tally_clear_collected(&tf);
    return protos_.data();
}

tally_group_states_t::~tally_group_states_t()
{
    for (tallyf_t *s : blocks_)
        for (size_t i = 0; i < per_group_; ++i)
            xt_free(s[i].nums);
    for (const auto &[g, s] : sparse_)
        for (size_t i = 0; i < per_group_; ++i)
            xt_free(s[i].nums);
    for (char *chunk : chunks_)
        std::free(chunk);
}

tallyf_t *tally_group_states_t::made(uint32_t group)
{
    const auto at = sparse_.find(group);
    return at != sparse_.end() ? at->second : sparse_[group] = make();
}

void tally_group_states_t::copy_empty(tallyf_t *to)
{
    std::memcpy(static_cast<void *>(to), protos(),
                per_group_ * sizeof(tallyf_t));
}

tallyf_t *tally_group_states_t::make()
{
    // Made in the order asked for: blocks are handed out one after another.
    if (made_ % per_chunk_ == 0)
        chunks_.push_back(new_chunk(per_chunk_ * stride_ + 1));
    char *at = chunks_.back() + (made_ % per_chunk_) * stride_;
    ++made_;
    tallyf_t *s = reinterpret_cast<tallyf_t *>(at);
    if (per_group_ != 0)
        std::memcpy(static_cast<void *>(s), protos(),
                    per_group_ * sizeof(tallyf_t));
    if (chains_ != 0)
        std::memset(static_cast<void *>(s + per_group_), 0,
                    chains_ * sizeof(tally_value_chain_t));
    return s;
}

tallyf_t *tally_group_states_t::add()
{
    tallyf_t *s = make();
    blocks_.push_back(s);
    ++groups_;
    return s;
}

void tally_hand_over(tally_hot_sum_t *h, tallyf_t *tf)
{
    tf->sum = h->sum;
    tf->sum_d = h->sum;
    tf->sum_d_lo = h->lo;
    tf->num_count = h->count;
    tf->shift_count = h->count;
    h->count = tally_hot_sum_t::kInRecord;
}

bool tally_hot_add(tally_hot_sum_t *a, const tally_hot_sum_t &b)
{
    using error_free::sum_error;
    double hi = a->sum, lo = a->lo;
    for (double t : {b.sum, b.lo}) {
        const double s = hi + t;
        const double e = sum_error(hi, t, s);
        const double l = lo + e;
        if (sum_error(lo, e, l) != 0)
            return false;
        hi = s;
        lo = l;
    }
    a->sum = hi;
    a->lo = lo;
    a->count += b.count;
    return true;
}

void tally_group_sink_t::grow_hot()
{
    const size_t room = hot_room == 0 ? 1024 : 2 * hot_room;
    hot = static_cast<tally_hot_sum_t *>(
        xt_grow_huge(hot, hot_room, room, sizeof(tally_hot_sum_t)));
    hot_room = room;
}

bool tally_group_sink_t::missing_key(const tally_line_key_t &key,
                                     uint64_t row, tally_error_t *err)
{
    int s = 0;
    while (s < nkeys && (key.filled >> s & 1) != 0)
        ++s;
    char m[120];
    std::snprintf(m, sizeof m, "Missing --by column: row %" PRIu64 ", col %u\n",
                  row, key_cols[s]);
    return tally_fail(err, EX_DATAERR, m);
}

void tally_group_sink_t::encode(const tally_line_key_t &key)
{
    scratch.clear();
    for (int s = 0; s < nkeys; ++s)
        tally_key_append_field(
            &scratch, std::string_view(key.bytes + key.start[s],
                                       key.end[s] - key.start[s]));
}

namespace {

// One grouped pass over an input or a part of one, and what it keeps: the
// key table, each group's states and value chains, the listings' spill
// file and the gaps.  Members point at each other: made once, never moved.
struct grouped_t {
    int requests = 0;
    tally_feed_t kind[TALLYF_LIST_MAX];
    bool spilled[TALLYF_LIST_MAX];
    bool any_spilled = false;
    bool chained[TALLYF_LIST_MAX];
    int chain[TALLYF_LIST_MAX];
    int chains = 0;
    int pairs[TALLYF_LIST_MAX];
    tally_spill_t spill;
    tally_wants_t wants;
    tally_selection_t sel;
    tally_key_table_t keys;
    std::unique_ptr<tally_group_states_t> states;
    tally_value_arena_t arena;
    tally_group_sink_t sink{};
    std::unique_ptr<tally_gap_table_t> gap_table;
    std::vector<std::string> fields;
    tally_pass_stats_t stats;
    tally_split_keys_t split_keys[TALLYF_LIST_MAX]; // welch-t --split
    // The chains' values past the memory limit, and how many the chains
    // may hold (0: no limit; a part merged into another never spills).
    tally_keyed_runs_t kept;
    uint64_t room = 0;

    grouped_t() = default;
    grouped_t(const grouped_t &) = delete;
    grouped_t &operator=(const grouped_t &) = delete;
    ~grouped_t() { xt_free(sink.hot); }
};

// Writes every chain's values out as a run, record by record in the order
// of their keys (group, request), and empties the chains.
void spill_chains(void *owner)
{
    auto *r = static_cast<grouped_t *>(owner);
    const uint32_t groups = r->states->groups();
    std::vector<double> v;
    for (uint32_t g = 0; g < groups; ++g) {
        tallyf_t *s = r->states->of(g);
        for (int i = 0; i < r->requests; ++i) {
            if (r->chain[i] < 0)
                continue;
            tally_value_chain_t &c = r->states->chains_of(g)[r->chain[i]];
            const uint64_t n = s[i].num_count - s[i].spilled;
            v.resize(n);
            tally_value_arena_t::gather(c, n, v.data());
            r->kept.put(uint64_t{g} * static_cast<uint64_t>(r->requests) +
                            static_cast<uint64_t>(i),
                        v.data(), n);
            s[i].spilled = s[i].num_count;
            c = tally_value_chain_t{};
        }
    }
    r->kept.end_run();
    r->arena.clear();
    r->sink.chained_room = r->room;
}

// Lets the run's own grouped pass spill its chains past the memory limit
// (the parts merged into it keep theirs: a chunk's values are few).
void allow_spill(grouped_t *r)
{
    const uint64_t cap = tally_values_cap();
    if (r->chains == 0 || cap == ~uint64_t{0})
        return;
    r->room = cap * static_cast<uint64_t>(r->chains);
    r->sink.chained_room = r->room;
    r->sink.spill_chains = spill_chains;
    r->sink.spill_owner = r;
}

// Refuses a row function (64): a grouped run has no rows to give it.
bool refuse_rows(const tallyf_list_t *list, tally_error_t *err)
{
    for (int i = 0; i < list->count; ++i) {
        const tallyf_t &tf = list->functions[i];
        if (tallyf_over_row(&tf)) {
            const tally_function_t *f = tally_function_by_stored(tf.code);
            char m[160];
            std::snprintf(m, sizeof m,
                          "--by: %s --row %u: a function over a row cannot be "
                          "computed per group\n",
                          f != nullptr ? f->word : "function", tf.row);
            return tally_fail(err, EX_USAGE, m);
        }
    }
    return true;
}

// Makes a pass's structures for the list, before any input is read.
bool grouped_setup(grouped_t *r, const tallyf_list_t *list,
                   const tally_run_options_t &options, const uint32_t *by,
                   tally_error_t *err)
{
    const int requests = r->requests = list->count;
    // Listing values go to the one spill file; their records keep the sums.
    for (int i = 0; i < requests; ++i) {
        r->kind[i] = tally_feed_of(list->functions[i].code);
        r->spilled[i] = r->kind[i] == tally_feed_t::squares_listed;
        if (r->spilled[i])
            r->kind[i] = tally_feed_t::squares;
        r->any_spilled = r->any_spilled || r->spilled[i];
    }
    // The spill file is left to the end of the process, as the records'
    // files are.
    if (r->any_spilled && !r->spill.open(err))
        return false;
    tally_wants_of(list, &r->wants);
    tally_select(r->wants, by, options.nby, &r->sel);
    // Value-keeping requests keep their values in chains.
    for (int i = 0; i < requests; ++i) {
        r->chained[i] = r->kind[i] == tally_feed_t::values;
        r->chain[i] = r->chained[i] ? r->chains++ : -1;
    }
    r->states = std::make_unique<tally_group_states_t>(list, r->chained);
    const uint64_t all_keys = options.nby == 64
                                  ? ~uint64_t{0}
                                  : (uint64_t{1} << options.nby) - 1;
    tally_group_sink_t &sink = r->sink;
    sink = tally_group_sink_t{&r->keys,  r->states.get(), &r->arena,
                              r->kind,   r->chain,        r->spilled,
                              &r->spill, requests,        options.nby,
                              all_keys,  by,              {}};
    for (int i = 0; i < requests; ++i)
        if (tally_feeds_pairs(r->kind[i]))
            r->pairs[sink.npairs++] = i;
    sink.pairs = r->pairs;
    sink.split_slot = r->sel.split_slot;
    sink.split_keys = r->split_keys;
    for (int i = 0; i < requests; ++i)
        sink.any_split |= list->functions[i].split;
    sink.plain_feeds = r->chains == 0 && !r->any_spilled && sink.npairs == 0;
    sink.single_feed = sink.plain_feeds && requests == 1;
    if (sink.single_feed && r->kind[0] == tally_feed_t::sum)
        sink.grow_hot();
    r->gap_table = std::make_unique<tally_gap_table_t>(
        list, &r->sel, r->pairs, sink.npairs, options.skip_missing);
    sink.gap_table = r->gap_table.get();
    return true;
}

// The pass over stream; later as for tally_run_parts's later parts.
// With source, the bytes come from there instead of stream.
bool grouped_pass(grouped_t *r, tallyf_list_t *list, FILE *stream,
                  const tally_run_options_t &options, uint32_t *by,
                  const tally_pass_input_t *later, tally_error_t *err,
                  const xt_dsv_source_t *source = nullptr)
{
    tally_header_ctx_t ctx{list, &options, by, &r->sel, &r->wants};
    ctx.fields = &r->fields;
    tally_pass_input_t input = tally_run_input(stream, options, &ctx, later);
    input.nkeys = r->sel.nkeys;
    if (source != nullptr)
        input.source = source;
    return tally_read_pass(r->sel, input, r->sink, err, &r->stats);
}

// A group's record made from its hot sums (with nothing else to keep).
tallyf_t *hot_record(grouped_t *r, uint32_t g)
{
    tally_hot_sum_t &h = r->sink.hot[g];
    tallyf_t *tf = r->states->made(g);
    if (h.count != tally_hot_sum_t::kInRecord)
        tally_hand_over(&h, tf);
    return tf;
}

// Adds what a later part's pass kept to what the earlier parts' kept: its
// groups in the order their keys first appeared, new ones after the rest,
// each state merged (lib/exact-sums.h), each chain and listing appended.
bool grouped_merge(grouped_t *into, grouped_t *from, tally_error_t *err)
{
    const uint32_t groups = from->states->groups();
    std::vector<uint32_t> to(groups);
    const int requests = into->requests;
    // A later part whose split keys came the other way round: its samples
    // swapped in every group.
    bool swap[TALLYF_LIST_MAX] = {};
    for (int i = 0; i < requests; ++i)
        swap[i] = into->sink.any_split && into->sink.split_slot[i] >= 0 &&
                  into->split_keys[i].merge(from->split_keys[i]);
    for (uint32_t g = 0; g < groups; ++g) {
        const std::string_view key = from->keys.key(g);
        bool added;
        const uint32_t G = into->keys.find_or_add(key.data(), key.size(),
                                                  &added);
        to[g] = G;
        into->gap_table->add(G, *from->gap_table, g);
        if (into->sink.hot != nullptr) {
            if (added) {
                into->states->add_unmade();
                if (G == into->sink.hot_room)
                    into->sink.grow_hot();
                into->sink.hot[G] = tally_hot_sum_t{};
            }
            tally_hot_sum_t &a = into->sink.hot[G];
            const tally_hot_sum_t &b = from->sink.hot[g];
            if (a.count != tally_hot_sum_t::kInRecord &&
                b.count != tally_hot_sum_t::kInRecord &&
                tally_hot_add(&a, b))
                continue;
            tallyf_t scratch;
            tallyf_t *fr = &scratch;
            if (b.count == tally_hot_sum_t::kInRecord) {
                fr = from->states->made(g);
            } else {
                from->states->copy_empty(&scratch);
                tally_hot_sum_t h = b;
                tally_hand_over(&h, &scratch);
            }
            tally_merge_record(hot_record(into, G), fr, tally_feed_t::sum);
            continue;
        }
        if (added)
            into->states->add();
        tallyf_t *a = into->states->of(G);
        tallyf_t *b = from->states->of(g);
        for (int i = 0; i < requests; ++i) {
            const int c = into->chain[i];
            if (c >= 0) {
                // The later part's values after the earlier parts'.
                const uint64_t n = b[i].num_count;
                std::vector<double> v(n);
                tally_value_arena_t::gather(from->states->chains_of(g)[c], n,
                                            v.data());
                for (double x : v)
                    into->arena.push(&into->states->chains_of(G)[c], x);
            }
            if (swap[i])
                tally_swap_samples(&b[i]);
            if (!tally_merge_record(&a[i], &b[i], into->kind[i]))
                return tally_fail_io(err, "cannot merge a listing", errno);
            // (Spilled once the state counts what its chain took.)
            if (c >= 0 && into->room != 0) {
                const uint64_t n = b[i].num_count;
                if (n >= into->sink.chained_room)
                    spill_chains(into);
                else
                    into->sink.chained_room -= n;
            }
        }
    }
    if (into->any_spilled &&
        !from->spill.replay(
            [&](uint64_t state, double x) {
                const uint64_t g = state / static_cast<uint64_t>(requests);
                into->spill.put(uint64_t{to[g]} * requests +
                                    state % static_cast<uint64_t>(requests),
                                x);
            },
            err))
        return false;
    tally_merge_pass_stats(&into->stats, from->stats);
    return true;
}

// The groups' statistics, the checks and the report, held whole before
// any of it is written, and what the run has to say.
bool grouped_report(grouped_t *r, tallyf_list_t *list,
                    const tally_run_options_t &options, const uint32_t *by,
                    tally_error_t *err, std::string *notes)
{
    const int requests = r->requests;
    const tally_feed_t *kind = r->kind;
    const bool *spilled = r->spilled;
    const bool any_spilled = r->any_spilled;
    const int *chain = r->chain;
    tally_group_sink_t &sink = r->sink;
    tally_group_states_t &states = *r->states;
    tally_key_table_t &keys = r->keys;
    tally_spill_t &spill = r->spill;
    const tally_selection_t &sel = r->sel;
    const tally_pass_stats_t &stats = r->stats;
    const tally_gap_table_t &gap_table = *r->gap_table;
    const std::vector<std::string> &fields = r->fields;
    // Every count valid and every listing value kept, before any line.
    const uint32_t groups = states.groups();
    // A group's states: where its sums stayed hot to the end, a record
    // made for the moment in scratch (only one request keeps hot sums).
    tallyf_t scratch;
    const auto state_of = [&](uint32_t g) {
        if (sink.hot == nullptr)
            return states.of(g);
        if (sink.hot[g].count == tally_hot_sum_t::kInRecord)
            return states.made(g);
        states.copy_empty(&scratch);
        tally_hot_sum_t h = sink.hot[g];
        tally_hand_over(&h, &scratch);
        tally_settle(&scratch, tally_feed_t::sum);
        return &scratch;
    };
    for (int i = 0; i < requests; ++i)
        if (sink.any_split && sel.split_slot[i] >= 0 &&
            !r->split_keys[i].check(
                tally_split_col_text(list, options, i).c_str(), err))
            return false;
    uint64_t listed = 0;
    for (uint32_t g = 0; g < groups; ++g) {
        tallyf_t *s = state_of(g);
        for (int i = 0; i < requests; ++i) {
            if (s != &scratch)
                tally_settle(&s[i], kind[i]);
            if (tally_feeds_pairs(kind[i]))
                tally_finish_pairs(&s[i], kind[i]);
            if (!tally_check_record(&s[i], false, err,
                                    tally_col_name(options, i)))
                return false;
            if (spilled[i])
                listed += s[i].num_count;
        }
    }
    if (any_spilled && !spill.finish(listed, err))
        return false;
    // Chains past the memory limit: the last of their values written out
    // too, and the runs merged, to be read back group by group.
    const bool kept = r->kept.any();
    if (kept) {
        spill_chains(r);
        if (!r->kept.merge(err))
            return false;
    }

    // The report, group by group; listing values are read back a window of
    // groups at a time.
    std::string said; // what the run has to say at its end
    held_report_t report;
    if (!report.open(any_spilled, err))
        return false;
    std::string prefix;
    const auto records = tally_make_records(list, options, by, fields);
    std::vector<uint64_t> counts;
    // A chain gathered: the values of one group's record at a time.
    std::unique_ptr<double, decltype(&xt_free)> values(nullptr, xt_free);
    uint64_t room = 0;
    uint32_t window_end = 0;
    for (uint32_t g = 0; g < groups; ++g) {
        tallyf_t *s = state_of(g);
        if (any_spilled && g >= window_end) {
            counts.clear();
            uint64_t total = 0;
            uint32_t h = g;
            for (; h < groups; ++h) {
                uint64_t here = 0;
                for (int i = 0; i < requests; ++i)
                    if (spilled[i])
                        here += states.of(h)[i].num_count;
                if (h != g && total + here > kWindowValues)
                    break;
                total += here;
                for (int i = 0; i < requests; ++i)
                    counts.push_back(spilled[i] ? states.of(h)[i].num_count
                                                : 0);
            }
            window_end = h;
            if (!spill.load(uint64_t{g} * requests,
                            uint64_t{window_end} * requests, counts.data(),
                            err))
                return false;
        }
        key_prefix(keys.key(g), options.nby, &prefix);
        if (records != nullptr)
            records->begin(report.file(), keys.key(g), options.nby);
        char positive[200];
        bool noticed = false;
        for (int i = 0; i < requests; ++i) {
            tally_printer_t p = tally_record_printer(&s[i]);
            p.col_name = tally_col_name(options, i);
            p.prefix = prefix.data();
            p.prefix_len = prefix.size();
            p.out = report.file();
            p.digits = options.layout.digits;
            if (records != nullptr) {
                p.records = records.get();
                records->request(i, p);
            }
            tally_listing_t listing{nullptr, 0};
            if (spilled[i])
                listing = spill.values_of(uint64_t{g} * requests + i);
            if (chain[i] >= 0) {
                // The group's values as the record's array, for its report.
                if (s[i].num_count > room) {
                    room = s[i].num_count;
                    values.reset(static_cast<double *>(xt_grow_huge(
                        values.release(), 0, room, sizeof(double))));
                }
                if (!kept)
                    tally_value_arena_t::gather(states.chains_of(g)[chain[i]],
                                                s[i].num_count, values.get());
                else if (!r->kept.next(values.get(), s[i].num_count, err))
                    return false;
                s[i].nums = values.get();
                s[i].array_size = s[i].num_count;
            }
            const bool reported = tally_report_record(
                &s[i], p, spilled[i] ? &listing : nullptr, err);
            if (!noticed)
                noticed = tally_positive_notice(&s[i], positive,
                                                sizeof positive);
            if (chain[i] >= 0) {
                s[i].nums = nullptr;
                s[i].array_size = 0;
            }
            if (!reported)
                return false;
            if (options.skip_missing)
                p.stat_count("missing", TALLY_NAME_WIDTH,
                             tally_gaps_of(s[i], i, sel, gap_table.of(g)));
        }
        if (records != nullptr)
            records->end();
        // What the run says of the group, headed by its key as its report
        // lines are.
        tally_group_notices(s, requests, options, sel, stats, gap_table.of(g),
                            noticed ? positive : nullptr, prefix, &said);
    }
    if (records != nullptr && groups == 0)
        tally_records_names_only(records.get(), list, options, report.file());
    if (records != nullptr)
        said += records->notes();
    tally_short_notices(list, options, sel, stats, &said);
    if (!report.write_out(err))
        return false;
    if (notes != nullptr)
        *notes = std::move(said);
    else
        std::fputs(said.c_str(), stderr);
    return true;
}


// A key of several fields holds each one's length as a native uint32_t
// (tally_group_sink_t::encode); the state file holds it little-endian.
std::string key_bytes(std::string_view key, int nkeys, bool to_file)
{
    std::string out(key);
    if (nkeys == 1)
        return out;
    size_t at = 0;
    for (int s = 0; s < nkeys && at + 4 <= out.size(); ++s) {
        unsigned char b[4];
        uint32_t len;
        std::memcpy(b, out.data() + at, 4);
        if (to_file) {
            std::memcpy(&len, b, 4);
            for (int k = 0; k < 4; ++k)
                b[k] = static_cast<unsigned char>(len >> (8 * k));
        } else {
            len = b[0] | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 |
                  uint32_t{b[3]} << 24;
            std::memcpy(b, &len, 4);
        }
        std::memcpy(out.data() + at, b, 4);
        at += 4 + len;
    }
    return out;
}

} // namespace

bool tally_grouped_state_out(tallyf_list_t *list, FILE *stream,
                             const tally_run_options_t &options,
                             tally_state_writer_t *w, tally_error_t *err)
{
    uint32_t by[TALLY_KEYS_MAX];
    if (!resolve_key_names(options, by, err) || !refuse_rows(list, err))
        return false;
    const auto r = std::make_unique<grouped_t>();
    if (!grouped_setup(r.get(), list, options, by, err))
        return false;
    allow_spill(r.get());
    if (!grouped_pass(r.get(), list, stream, options, by, nullptr, err))
        return false;
    // Chains past the memory limit: read back group by group, each key's
    // values in the order they came, as the chains hold them.
    const bool kept = r->kept.any();
    if (kept) {
        spill_chains(r.get());
        if (!r->kept.merge(err))
            return false;
    }
    tally_state_put_fields(*w, r->fields);
    tally_state_put_stats(*w, r->stats);
    const uint32_t groups = r->states->groups();
    const size_t width = r->gap_table->width();
    w->u32(static_cast<uint32_t>(r->requests));
    w->u32(groups);
    w->u32(static_cast<uint32_t>(width));
    w->u8(r->sink.hot != nullptr);
    w->u8(r->any_spilled);
    tally_state_put_splits(*w, list, r->split_keys);
    std::vector<double> values;
    for (uint32_t g = 0; g < groups; ++g) {
        w->str(key_bytes(r->keys.key(g), options.nby, true));
        const uint64_t *gaps = r->gap_table->counts_of(g);
        w->u8(gaps != nullptr);
        for (size_t k = 0; gaps != nullptr && k < width; ++k)
            w->u64(gaps[k]);
        if (r->sink.hot != nullptr) {
            // Hot sums as they are (form 0), or the record they went to.
            const tally_hot_sum_t &h = r->sink.hot[g];
            if (h.count != tally_hot_sum_t::kInRecord) {
                w->u8(0);
                w->f64(h.sum);
                w->f64(h.lo);
                w->u64(h.count);
            } else {
                w->u8(1);
                tally_state_put_record(*w, r->states->made(g)[0], r->kind[0]);
            }
            continue;
        }
        const tallyf_t *st = r->states->of(g);
        for (int i = 0; i < r->requests; ++i) {
            tally_state_put_record(*w, st[i], r->kind[i]);
            if (r->chain[i] >= 0) {
                values.resize(st[i].num_count);
                if (!kept)
                    tally_value_arena_t::gather(
                        r->states->chains_of(g)[r->chain[i]], st[i].num_count,
                        values.data());
                else if (!r->kept.next(values.data(), st[i].num_count, err))
                    return false;
                tally_state_put_values(*w, values.data(), st[i].num_count);
            }
        }
    }
    if (r->any_spilled) {
        uint64_t count = 0;
        if (!r->spill.replay([&](uint64_t, double) { ++count; }, err))
            return false;
        w->u64(count);
        if (!r->spill.replay(
                [&](uint64_t state, double x) {
                    w->u64(state);
                    w->f64(x);
                },
                err))
            return false;
    }
    return true;
}

namespace {

// One part's groups read into part (set up, with no groups yet).
bool read_groups(tally_state_reader_t *in, const tallyf_list_t *list,
                 grouped_t *part, int nkeys, tally_error_t *err)
{
    uint32_t requests, groups, width;
    if (!in->u32(&requests, err) || !in->u32(&groups, err) ||
        !in->u32(&width, err))
        return false;
    uint8_t hot, listings;
    if (!in->u8(&hot, err) || !in->u8(&listings, err))
        return false;
    if (requests != static_cast<uint32_t>(part->requests) ||
        hot != (part->sink.hot != nullptr) || listings != part->any_spilled)
        return in->bad(err, "record count");
    if (!tally_state_get_splits(*in, list, part->split_keys, err))
        return false;
    std::vector<uint64_t> gaps;
    std::string key;
    for (uint32_t g = 0; g < groups; ++g) {
        if (!in->str(&key, err))
            return false;
        key = key_bytes(key, nkeys, false);
        bool added;
        if (part->keys.find_or_add(key.data(), key.size(), &added) != g ||
            !added)
            return in->bad(err, "group key");
        uint8_t has_gaps;
        if (!in->u8(&has_gaps, err))
            return false;
        if (has_gaps > 1 || (has_gaps == 1 && width != part->gap_table->width()))
            return in->bad(err, "gaps");
        if (has_gaps == 1) {
            gaps.resize(width);
            for (uint64_t &c : gaps)
                if (!in->u64(&c, err))
                    return false;
            part->gap_table->add_counts(g, gaps.data());
        }
        if (part->sink.hot != nullptr) {
            part->states->add_unmade();
            if (g == part->sink.hot_room)
                part->sink.grow_hot();
            tally_hot_sum_t &h = part->sink.hot[g];
            h = tally_hot_sum_t{};
            uint8_t form;
            if (!in->u8(&form, err))
                return false;
            if (form == 0) {
                if (!in->f64(&h.sum, err) || !in->f64(&h.lo, err) ||
                    !in->u64(&h.count, err))
                    return false;
                if (h.count == tally_hot_sum_t::kInRecord)
                    return in->bad(err, "group");
                continue;
            }
            if (form != 1)
                return in->bad(err, "group");
            h.count = tally_hot_sum_t::kInRecord;
            if (!tally_state_get_record(*in, &part->states->made(g)[0],
                                        part->kind[0], err))
                return false;
            continue;
        }
        tallyf_t *st = part->states->add();
        for (int i = 0; i < part->requests; ++i) {
            if (!tally_state_get_record(*in, &st[i], part->kind[i], err))
                return false;
            if (part->chain[i] >= 0) {
                tally_value_chain_t *c =
                    &part->states->chains_of(g)[part->chain[i]];
                if (!tally_state_get_values(
                        *in, st[i].num_count,
                        [&](double x) { part->arena.push(c, x); }, err))
                    return false;
            }
        }
    }
    if (part->any_spilled) {
        uint64_t count;
        if (!in->u64(&count, err))
            return false;
        const uint64_t states = uint64_t{groups} * requests;
        for (uint64_t k = 0; k < count; ++k) {
            uint64_t state;
            double x;
            if (!in->u64(&state, err) || !in->f64(&x, err))
                return false;
            if (state >= states)
                return in->bad(err, "listing");
            part->spill.put(state, x);
        }
    }
    return true;
}

} // namespace

bool tally_grouped_merge_states(tallyf_list_t *list,
                                tally_state_reader_t *const *parts, int nparts,
                                const tally_run_options_t &options,
                                tally_error_t *err, std::string *notes)
{
    uint32_t by[TALLY_KEYS_MAX];
    if (!resolve_key_names(options, by, err) || !refuse_rows(list, err))
        return false;
    const auto into = std::make_unique<grouped_t>();
    if (!grouped_setup(into.get(), list, options, by, err))
        return false;
    allow_spill(into.get());
    tally_header_ctx_t ctx{list, &options, by, &into->sel, &into->wants};
    ctx.fields = &into->fields;
    tally_state_rows_t rows;
    rows.header = options.header;
    for (int k = 0; k < nparts; ++k) {
        tally_state_reader_t *in = parts[k];
        tally_pass_stats_t stats;
        if (!tally_merge_part_head(in, &rows, &ctx, &stats, err))
            return false;
        const auto part = std::make_unique<grouped_t>();
        if (!grouped_setup(part.get(), list, options, by, err) ||
            !read_groups(in, list, part.get(), options.nby, err) || !in->end(err))
            return false;
        part->stats = stats;
        if (!grouped_merge(into.get(), part.get(), err))
            return false;
    }
    return grouped_report(into.get(), list, options, by, err, notes);
}

bool tally_run_grouped(tallyf_list_t *list, FILE *stream,
                       const tally_run_options_t &options, tally_error_t *err,
                       std::string *notes)
{
    uint32_t by[TALLY_KEYS_MAX];
    if (!resolve_key_names(options, by, err) || !refuse_rows(list, err))
        return false;
    const auto r = std::make_unique<grouped_t>();
    if (!grouped_setup(r.get(), list, options, by, err))
        return false;
    allow_spill(r.get());
    return grouped_pass(r.get(), list, stream, options, by, nullptr, err) &&
           grouped_report(r.get(), list, options, by, err, notes);
}

bool tally_run_grouped_parts(tallyf_list_t *list, FILE *const *parts,
                             int nparts, const tally_run_options_t &options,
                             tally_error_t *err, std::string *notes)
{
    uint32_t by[TALLY_KEYS_MAX];
    if (!resolve_key_names(options, by, err) || !refuse_rows(list, err))
        return false;
    const auto first = std::make_unique<grouped_t>();
    if (!grouped_setup(first.get(), list, options, by, err))
        return false;
    allow_spill(first.get());
    if (!grouped_pass(first.get(), list, parts[0], options, by, nullptr, err))
        return false;
    tally_pass_input_t later{};
    later.first_row = 1 + first->stats.lines;
    later.header_fields = first->fields.size();
    for (int k = 1; k < nparts; ++k) {
        const auto part = std::make_unique<grouped_t>();
        if (!grouped_setup(part.get(), list, options, by, err) ||
            !grouped_pass(part.get(), list, parts[k], options, by, &later,
                          err) ||
            !grouped_merge(first.get(), part.get(), err))
            return false;
        later.first_row += part->stats.lines;
    }
    return grouped_report(first.get(), list, options, by, err, notes);
}

namespace {

// The grouped run's parts for a run on threads (lib/chunks.h).
struct grouped_part_t final : tally_part_t {
    std::unique_ptr<grouped_t> g = std::make_unique<grouped_t>();
};

class grouped_ops_t final : public tally_part_ops_t {
public:
    grouped_ops_t(tallyf_list_t *list, const tally_run_options_t &options,
                  uint32_t *by)
        : list_(list), options_(options), by_(by)
    {
    }
    bool setup(grouped_part_t *p, tally_error_t *err)
    {
        return grouped_setup(p->g.get(), list_, options_, by_, err);
    }
    tally_part_t *first() override { return &first_; }
    void begin_parts() override {}
    void reset_first() override
    {
        first_.g = std::make_unique<grouped_t>();
        tally_error_t err;
        if (!setup(&first_, &err))
            throw std::bad_alloc(); // made once already: only memory fails
        allow_spill(first_.g.get());
    }
    std::unique_ptr<tally_part_t> make_part() override
    {
        auto p = std::make_unique<grouped_part_t>();
        tally_error_t err;
        if (!setup(p.get(), &err))
            throw std::bad_alloc(); // made once already: only memory fails
        return p;
    }
    bool pass(tally_part_t *part, const xt_dsv_source_t *source,
              const tally_pass_input_t *later, tally_error_t *err) override
    {
        return grouped_pass(static_cast<grouped_part_t *>(part)->g.get(),
                            list_, nullptr, options_, by_, later, err, source);
    }
    // The states that may hold rests: every made group's.
    template <class F>
    static void each_state(grouped_t *r, F f)
    {
        const uint32_t groups = r->states->groups();
        for (uint32_t g = 0; g < groups; ++g) {
            if (r->sink.hot != nullptr &&
                r->sink.hot[g].count != tally_hot_sum_t::kInRecord)
                continue;
            f(r->sink.hot != nullptr ? r->states->made(g) : r->states->of(g),
              r->requests);
        }
    }
    void take_rests(tally_part_t *part, tally_rests_held_t *held) override
    {
        each_state(static_cast<grouped_part_t *>(part)->g.get(),
                   [held](tallyf_t *s, int n) {
                       for (int i = 0; i < n; ++i)
                           held->take(&s[i]);
                   });
    }
    void give_rests(tally_part_t *part, tally_rests_held_t *held) override
    {
        each_state(static_cast<grouped_part_t *>(part)->g.get(),
                   [held](tallyf_t *s, int n) {
                       for (int i = 0; i < n; ++i)
                           held->give(&s[i]);
                   });
    }
    tally_pass_stats_t *stats(tally_part_t *part) override
    {
        return &static_cast<grouped_part_t *>(part)->g->stats;
    }
    uint64_t header_fields(tally_part_t *first) override
    {
        return static_cast<grouped_part_t *>(first)->g->fields.size();
    }
    bool merge(tally_part_t *part, tally_error_t *err) override
    {
        return grouped_merge(first_.g.get(),
                             static_cast<grouped_part_t *>(part)->g.get(), err);
    }
    bool report(tally_error_t *err, std::string *notes) override
    {
        return grouped_report(first_.g.get(), list_, options_, by_, err, notes);
    }

private:
    tallyf_list_t *list_;
    const tally_run_options_t &options_;
    uint32_t *by_;
    grouped_part_t first_;
};

} // namespace

bool tally_run_grouped_threaded(tallyf_list_t *list, tally_chunk_feed_t *feed,
                                const tally_run_options_t &options,
                                const tally_chunk_run_t &run,
                                tally_error_t *err, std::string *notes)
{
    uint32_t by[TALLY_KEYS_MAX];
    if (!resolve_key_names(options, by, err) || !refuse_rows(list, err))
        return false;
    grouped_ops_t ops(list, options, by);
    auto *first = static_cast<grouped_part_t *>(ops.first());
    if (!ops.setup(first, err))
        return false;
    allow_spill(first->g.get());
    return tally_run_chunked(&ops, feed, run, err, notes);
}

// The pass, built for this run's sink.
template bool tally_read_pass<tally_group_sink_t>(const tally_selection_t &,
                                      const tally_pass_input_t &,
                                      tally_group_sink_t &, tally_error_t *,
                                      tally_pass_stats_t *);
