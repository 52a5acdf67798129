// The run's notices.
#include "notices.h"

#include <cstdint>

namespace {


const std::string plural(uint64_t n, const char *word)
{
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// What the run says at its end about one record: the empty fields it took
// as 0 (what names its column or row), or that no field reached it;
// appended to out, each line after prefix.
void notices(const tallyf_t &tf, const std::string &what, uint64_t gaps,
             const tally_run_options_t &options,
             const tally_pass_stats_t &stats, std::string_view prefix,
             std::string *out)
{
    const auto say = [&](const std::string &text) {
        out->append(prefix);
        *out += "numtally: " + text + "\n";
    };
    if (gaps != 0 && !options.skip_missing)
        say(what + ": " + plural(gaps, "empty field") +
            " counted as 0; --skip-missing skips them");
    if (tf.num_count != 0 || gaps != 0)
        return;
    if (tf.row == 0 && tf.col == 0)
        say(what + ": no values; " + (tf.by_row ? "rows" : "columns") +
            " count from 1");
    else if (tf.row != 0)
        say(what + ": no values; the input has " + plural(stats.lines, "line"));
    else
        say(what + ": no values; the widest line has " +
            plural(stats.widest, "field") + ": is the delimiter right?");
}

// How the run's messages name record i's row or its (first) column.
std::string record_what(const tallyf_t &tf, const tally_run_options_t &options,
                        int i)
{
    const char *name = tally_col_name(options, i);
    return tallyf_over_row(&tf) ? "row " + std::to_string(tf.row)
           : name != nullptr ? "col " + std::string(name)
                             : "col " + std::to_string(tf.col);
}

} // namespace

void tally_group_notices(const tallyf_t *records, int count,
                         const tally_run_options_t &options,
                         const tally_selection_t &sel,
                         const tally_pass_stats_t &stats,
                         const tally_gap_counts_t &gaps,
                         const char *positive, std::string_view prefix,
                         std::string *out)
{
    // The widest line is at least as wide as a column that got a field
    // (the pass measured only lines that ended short).
    tally_pass_stats_t seen = stats;
    for (int i = 0; i < count; ++i) {
        const tallyf_t &tf = records[i];
        if (tf.col > seen.widest &&
            (tf.num_count != 0 || tally_gaps_of(tf, i, sel, gaps) != 0))
            seen.widest = tf.col;
    }
    if (positive != nullptr) {
        out->append(prefix);
        *out += positive;
    }
    for (int i = 0; i < count; ++i) {
        const tallyf_t &tf = records[i];
        const tally_feed_t kind = tally_feed_of(tf.code);
        if (!tally_feeds_pairs(kind)) {
            notices(tf, record_what(tf, options, i),
                    tally_gaps_of(tf, i, sel, gaps), options, seen, prefix,
                    out);
            continue;
        }
        // Two columns: the empty fields of each, as for one column.
        const uint64_t first = tally_col_gaps(tf.col, sel, gaps);
        const uint64_t second = tf.col2 == tf.col || tf.split
                                    ? 0 // a split's keys are no values
                                    : tally_col_gaps(tf.col2, sel, gaps);
        notices(tf, record_what(tf, options, i), first, options, seen,
                prefix, out);
        if (second != 0 && !options.skip_missing) {
            out->append(prefix);
            *out += "numtally: col " + std::to_string(tf.col2) + ": " +
                    plural(second, "empty field") +
                    " counted as 0; --skip-missing skips them\n";
        }
    }
}

void tally_short_notices(const tallyf_list_t *list,
                         const tally_run_options_t &options,
                         const tally_selection_t &sel,
                         const tally_pass_stats_t &stats, std::string *out)
{
    for (int k = 0; sel.cols[k].number != UINT64_MAX; ++k) {
        // (A column that no line reached has its "no values" notice.)
        const uint64_t lines = stats.col_short[k];
        if (lines == 0 || lines + 1 >= stats.lines)
            continue;
        const uint64_t col = sel.cols[k].number;
        std::string what = std::to_string(col);
        if (options.names != nullptr) {
            tally_wants_t wants;
            tally_wants_of(list, &wants);
            what = tally_col_text(wants, *options.names, col);
        }
        *out += "numtally: col " + what + ": " + plural(lines, "line") +
                " without it, the first row " +
                std::to_string(stats.col_short_row[k]) + "\n";
    }
}
