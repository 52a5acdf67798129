// The pass's body, a template on its sink: included by the runs, which
// build it for their own sinks (template bool tally_read_pass<Sink>(...)),
// so that the pass knows no run.
#ifndef NUMTALLY_LIB_PASS_BODY_H
#define NUMTALLY_LIB_PASS_BODY_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "feed-kind.h"
#include "fma-dispatch.h"
#include "missing-value.h"
#include "parse-number.h"
#include "pass.h"
#include "xt-dsv.h"

namespace tally_pass_body {

// What one pass works in, made for it and gone with it.
struct room_t {
    xt_dsv_reader_t in;
    tally_line_key_t key;
    tally_staged_t staged[TALLY_WANTED_COLS_MAX];
    const tally_group_t *gaps[TALLY_WANTED_COLS_MAX];
    tally_pass_stats_t stats;
};

// The value of a selected field, or the invalid-number error.  A field
// longer than the field limit is never converted from its prefix.
[[gnu::always_inline]] inline bool field_value(xt_dsv_reader_t *in,
                                               const tally_pass_input_t &input,
                                               const char *field, size_t len,
                                               const tally_cursor_t &at,
                                               double *v, tally_error_t *err)
{
    if (len <= XT_DSV_FIELD_MAX) {
        if (parse_short_decimal(field, len, v))
            return true;
        if (parse_field_double(xt_dsv_reader_text(in, field, len), len, v))
            return true;
    }
    return invalid_number(in, input, field, len, at, err);
}

// Keeps a key field's bytes in each slot the column fills (one: the run
// has one key column).  The reader keeps XT_DSV_FIELD_MAX bytes of a
// field: a longer key cannot be told apart from others, and ends the run.
[[gnu::always_inline]] inline bool keep_key(tally_line_key_t *key, bool one,
                                            const tally_group_t &g,
                                            const char *field, size_t len,
                                            const tally_cursor_t &at,
                                            tally_error_t *err)
{
    if (len > XT_DSV_FIELD_MAX)
        return key_too_long(at, err);
    if (one) {
        // The only key column: slot 0, from the start.
        if (len <= 16)
            std::memcpy(key->bytes, field, 16);
        else
            std::memcpy(key->bytes, field, len);
        key->len = len;
        key->start[0] = 0;
        key->end[0] = static_cast<uint32_t>(len);
        key->filled = 1;
        return true;
    }
    for (const int *s = g.key_first; s != g.key_last; ++s) {
        char *to = key->bytes + key->len;
        // The reader lets 16 bytes past a field's start be read.
        if (len <= 16)
            std::memcpy(to, field, 16);
        else
            std::memcpy(to, field, len);
        key->start[*s] = static_cast<uint32_t>(key->len);
        key->len += len;
        key->end[*s] = static_cast<uint32_t>(key->len);
        key->filled |= uint64_t{1} << *s;
    }
    return true;
}


// The shapes of a pass, each built apart so that it tests per field only
// what it may meet.
enum class shape_t {
    columns, // simple, and no row functions (the most common)
    simple, // no quoting, skipped missing values, paired columns or echo
    quoted_columns, // quoted, and no row functions
    quoted, // quoting only (CSV)
    paired, // paired columns only
    full,   // anything (the only shape that echoes fields: --verbose)
};

template <bool Fma, shape_t Shape, class Sink>
[[gnu::always_inline]] inline bool
read_pass(const tally_selection_t &sel, const tally_pass_input_t &input,
          Sink &sink, tally_error_t *err, room_t &room,
          tally_pass_stats_t *stats_out)
{
    xt_dsv_reader_t &in = room.in;
    tally_line_key_t &key = room.key;
    tally_staged_t *const staged = room.staged;
    const tally_group_t **const gaps = room.gaps;
    tally_pass_stats_t &stats = stats_out != nullptr ? *stats_out : room.stats;
    stats = tally_pass_stats_t{};
    key.len = 0;
    key.filled = 0;
    int n = 0;
    int ngaps = 0;
    // With a header line: its width, which no data line may pass (0: none).
    uint64_t header_width = input.header_fields;
    const bool verbose = Shape == shape_t::full && input.verbose;
    const bool quotes = Shape == shape_t::quoted ||
                        Shape == shape_t::quoted_columns ||
                        (Shape == shape_t::full && input.quotes);
    const bool skip_missing = Shape == shape_t::full && input.skip_missing;
    constexpr bool pairs = Shape == shape_t::paired || Shape == shape_t::full;
    constexpr bool rows =
        Shape != shape_t::columns && Shape != shape_t::quoted_columns;
    const bool one_key = input.nkeys == 1;
    // Fields this short may be gaps: empty ones, and the missing-value
    // words when they are skipped (none is longer than 4 bytes).
    const size_t gap_len = skip_missing ? 4 : 0;
    xt_dsv_pos_t pos = xt_dsv_reader_open(
        &in, input.stream, input.delims, 0,
        (input.at_start ? XT_DSV_SKIP_BOM : 0u) | (quotes ? XT_DSV_QUOTES : 0u),
        input.source);
    if (input.on_header != nullptr) {
        std::vector<std::string> fields;
        uint64_t long_col = 0, fault_col = 0;
        const int end = read_header(&in, &pos, verbose, &fields, &long_col,
                                    &fault_col);
        if (end < -1)
            return quote_fault(input, end, 1, fault_col, err);
        if (end != -1) {
            stats.lines = 1;
            stats.widest = fields.size();
        }
        header_width = fields.size();
        if (!input.on_header(input.header_ctx, fields, long_col, err))
            return false;
    }
    tally_cursor_t at(sel, input.first_row);
    // Whether the current row is wanted: never, in a shape without rows.
    const auto row_wanted = [&at]() __attribute__((always_inline)) {
        return rows && at.row_wanted();
    };
    if (input.on_header != nullptr)
        at.next_line<rows>(); // the header line is row 1
    // A line of the given number of fields ends: under a header line, it
    // may not be wider, and the wanted columns it did not reach are noted.
    auto check_width = [&](uint64_t fields) __attribute__((always_inline)) -> bool {
        if (header_width == 0) [[likely]]
            return true;
        if (fields > header_width)
            return too_wide(at.row(), fields, header_width, err);
        if (at.next_wanted_col() != UINT64_MAX)
            note_short(sel, at.cols_left(), at.row(), &stats);
        return true;
    };
    // The line's end: its staged values and key go to the sink.
    auto end_line = [&]() __attribute__((always_inline)) -> bool {
        const bool ok = sink.template line_end<Fma, pairs>(staged, n, gaps, ngaps,
                                                    key, at.row(), err);
        n = 0;
        ngaps = 0;
        if (input.nkeys != 0) {
            key.len = 0;
            key.filled = 0;
        }
        at.next_line<rows>();
        return ok;
    };
    // A line whose end the pass reached field by field.
    auto measure = [&](uint64_t fields) {
        if (fields > stats.widest)
            stats.widest = fields;
    };
    for (;;) {
        if (!verbose && !row_wanted()) {
            const uint64_t want = at.next_wanted_col();
            if (want == UINT64_MAX && !quotes && header_width == 0) {
                // Nothing more in this line is wanted.  (Under a header
                // line: to the line's end field by field, to count them.)
                if (xt_dsv_reader_skip_line(&in, &pos) == -1)
                    break;
                if (!end_line())
                    return false;
                continue;
            }
            if (want > at.col()) {
                // (Quoted input: to the line's end field by field, so that a
                // fault is found with its column.)
                size_t skipped;
                const int e = xt_dsv_reader_skip_fields(
                    &in, &pos, want - at.col(), &skipped);
                if (e == -1)
                    break;
                if (e < -1)
                    return quote_fault(input, e, at.row(), at.col() + skipped,
                                       err);
                if (e == '\n') {
                    measure(at.col() + skipped - 1);
                    if (!check_width(at.col() + skipped - 1) || !end_line())
                        return false;
                    continue;
                }
                at.next_col(skipped);
            }
        }
        const char *field;
        size_t len;
        const int end = xt_dsv_reader_next(&in, &pos, &field, &len);
        if (end < 0) {
            if (end == -1)
                break;
            return quote_fault(input, end, at.row(), at.col(), err);
        }
        // An empty line is a row without fields.
        if (end != '\n' || at.col() != 1 || len != 0) {
            if (verbose)
                std::printf("%8s", xt_dsv_reader_text(&in, field, len));
            const bool col_wanted = at.col_wanted();
            if (row_wanted() || col_wanted) {
                const tally_group_t *g = col_wanted ? &at.take_col() : nullptr;
                if (g != nullptr && g->key_first != g->key_last &&
                    !keep_key(&key, one_key, *g, field, len, at, err))
                    return false;
                if (row_wanted() ||
                    (g != nullptr && (g->first != g->last || (pairs && g->paired)))) {
                    double v;
                    if (len <= gap_len &&
                        (len == 0 || is_missing_value(field, len))) {
                        // An empty field (fed as 0 unless skipped) or a
                        // missing value: counted for its records.
                        if (row_wanted())
                            ++stats.row_gaps[&at.row_records() - sel.rows];
                        if (g != nullptr &&
                            (g->first != g->last || (pairs && g->paired))) {
                            ++stats.col_gaps[g - sel.cols];
                            gaps[ngaps++] = g;
                        }
                        if (skip_missing)
                            goto next_field;
                    }
                    if (!field_value(&in, input, field, len, at, &v, err))
                        return false;
                    if (row_wanted()) {
                        // A row function takes every field of its row as
                        // it comes: a row may be of any length.
                        sink.template row_value<Fma>(at.row_records(), v, at.row());
                        if (g != nullptr)
                            sink.template col_value<Fma>(*g, v, at.row());
                        // A two-column record takes its pair at the line's
                        // end, whatever fed the group's other records.
                        if (pairs && g != nullptr && g->paired)
                            staged[n++] = {g, v};
                    } else if constexpr (Sink::stages) {
                        staged[n++] = {g, v};
                    } else {
                        sink.template col_value<Fma>(*g, v, at.row());
                        if (pairs && g->paired)
                            staged[n++] = {g, v};
                    }
                }
            }
        }
    next_field:
        if (end != '\n') {
            at.next_col();
            continue;
        }
        // Only a line that ends short of a wanted column can be the widest
        // when some column got no field.
        if (at.next_wanted_col() != UINT64_MAX)
            measure(len == 0 && at.col() == 1 ? 0 : at.col());
        if (verbose)
            std::putchar('\n');
        if (!check_width(len == 0 && at.col() == 1 ? 0 : at.col()) ||
            !end_line())
            return false;
    }
    // A last line cut short by the end of input still ends.
    if ((n != 0 || at.col() > 1) &&
        (!check_width(at.col() - 1) ||
         !sink.template line_end<Fma, pairs>(staged, n, gaps, ngaps, key,
                                             at.row(), err)))
        return false;
    stats.lines = at.row() - input.first_row + (at.col() > 1 ? 1 : 0);
    if (in.error != 0 ||
        (input.source == nullptr && std::ferror(input.stream)))
        return tally_fail_io(err, "read error",
                             in.error != 0 ? in.error : errno);
    return true;
}

// The pass of the given shape, for one build of the feeders.
template <bool Fma, class Sink>
[[gnu::always_inline]] inline bool
read_shaped(const tally_selection_t &sel, const tally_pass_input_t &input,
            Sink &sink, tally_error_t *err, room_t &room,
            tally_pass_stats_t *stats, shape_t shape)
{
    switch (shape) {
    case shape_t::columns:
        return read_pass<Fma, shape_t::columns>(sel, input, sink, err, room, stats);
    case shape_t::simple:
        if constexpr (!Sink::rows)
            break;
        return read_pass<Fma, shape_t::simple>(sel, input, sink, err, room, stats);
    case shape_t::quoted_columns:
        return read_pass<Fma, shape_t::quoted_columns>(sel, input, sink, err,
                                                       room, stats);
    case shape_t::quoted:
        if constexpr (!Sink::rows)
            break;
        return read_pass<Fma, shape_t::quoted>(sel, input, sink, err, room, stats);
    case shape_t::paired:
        return read_pass<Fma, shape_t::paired>(sel, input, sink, err, room, stats);
    case shape_t::full:
        break;
    }
    return read_pass<Fma, shape_t::full>(sel, input, sink, err, room, stats);
}

template <class Sink>
bool read_plain(const tally_selection_t &sel, const tally_pass_input_t &input,
                Sink &sink, tally_error_t *err, room_t &room,
                tally_pass_stats_t *stats, shape_t shape)
{
    return read_shaped<false>(sel, input, sink, err, room, stats, shape);
}

#if defined(TALLY_FMA_DISPATCH)
template <class Sink>
[[gnu::target("fma")]] bool read_fused(const tally_selection_t &sel,
                                      const tally_pass_input_t &input,
                                      Sink &sink, tally_error_t *err,
                                      room_t &room, tally_pass_stats_t *stats,
                                      shape_t shape)
{
    return read_shaped<true>(sel, input, sink, err, room, stats, shape);
}
#endif

} // namespace tally_pass_body

// Chooses the pass's shape once, from what the run asks.
template <class Sink>
bool tally_read_pass(const tally_selection_t &sel,
                     const tally_pass_input_t &input, Sink &sink,
                     tally_error_t *err, tally_pass_stats_t *stats)
{
    using namespace tally_pass_body;
    const auto room = std::make_unique<room_t>();
    bool paired = sel.npair_cols != 0;
    // Pairs chosen by name get their columns only from the header line.
    if (!paired && input.names != nullptr)
        for (int i = 0; i < input.wants->count; ++i)
            paired |= input.wants->at[i].pairs;
    // (A sink that never takes rows never gets the shapes built for them.)
    const bool rows = Sink::rows && sel.rows[0].number != UINT64_MAX;
    const shape_t shape =
        input.verbose || input.skip_missing || (input.quotes && paired)
            ? shape_t::full
        : input.quotes ? (rows ? shape_t::quoted : shape_t::quoted_columns)
        : paired       ? shape_t::paired
        : rows         ? shape_t::simple
                       : shape_t::columns;
#if defined(TALLY_FMA_DISPATCH)
    if (tally_use_fma())
        return read_fused(sel, input, sink, err, *room, stats, shape);
#endif
    return read_plain(sel, input, sink, err, *room, stats, shape);
}


#endif
