// The pass over the input.
#include "pass.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include <sysexits.h>

#include "parse-number.h"
#include "tallyf-list-run.h"
#include "xt-dsv.h"

namespace {

// The value of a selected field, or the invalid-number error.  A field
// longer than the field limit is never converted from its prefix.
inline bool field_value(xt_dsv_reader_t *in, const char *field, size_t len,
                        const tally_cursor_t &at, double *v,
                        tally_error_t *err)
{
    if (len <= XT_DSV_FIELD_MAX) {
        if (parse_short_decimal(field, len, v))
            return true;
        if (parse_field_double(xt_dsv_reader_text(in, field, len), len, v))
            return true;
    }
    std::string m = "Invalid number: ";
    m += xt_dsv_reader_text(in, field, len);
    char where[64];
    std::snprintf(where, sizeof where, ": row %" PRIu64 ", col %" PRIu64 "\n",
                  at.row(), at.col());
    m += where;
    return tally_fail(err, EX_DATAERR, std::move(m));
}

// Keeps a key field's bytes in each slot the column fills.
inline void keep_key(tally_line_key_t *key, const tally_group_t &g,
                     const char *field, size_t len)
{
    for (const int *s = g.key_first; s != g.key_last; ++s) {
        key->start[*s] = static_cast<uint32_t>(key->bytes.size());
        key->bytes.append(field, len);
        key->end[*s] = static_cast<uint32_t>(key->bytes.size());
        ++key->filled;
    }
}

} // namespace

template <class Sink>
bool tally_read_pass(const tally_selection_t &sel,
                     const tally_pass_input_t &input, Sink &sink,
                     tally_error_t *err)
{
    static xt_dsv_reader_t in;
    static tally_line_key_t key;
    static tally_staged_t staged[TALLY_WANTED_COLS_MAX];
    key.bytes.clear();
    key.filled = 0;
    int n = 0;
    const bool verbose = input.verbose;
    xt_dsv_pos_t pos = xt_dsv_reader_open(&in, input.stream, input.delims, 0);
    tally_cursor_t at(sel);
    // The line's end: its staged values and key go to the sink.
    auto end_line = [&]() -> bool {
        const bool ok = sink.line_end(staged, n, key, at.row(), err);
        n = 0;
        if (input.nkeys != 0) {
            key.bytes.clear();
            key.filled = 0;
        }
        at.next_line();
        return ok;
    };
    for (;;) {
        if (!verbose && !at.row_wanted()) {
            const uint64_t want = at.next_wanted_col();
            if (want == UINT64_MAX) {
                // Nothing more in this line is wanted.
                if (xt_dsv_reader_skip_line(&in, &pos) == -1)
                    break;
                if (!end_line())
                    return false;
                continue;
            }
            if (want > at.col()) {
                size_t skipped;
                const int e = xt_dsv_reader_skip_fields(
                    &in, &pos, want - at.col(), &skipped);
                if (e == -1)
                    break;
                if (e == '\n') {
                    if (!end_line())
                        return false;
                    continue;
                }
                at.next_col(skipped);
            }
        }
        const char *field;
        size_t len;
        const int end = xt_dsv_reader_next(&in, &pos, &field, &len);
        if (end == -1)
            break;
        // An empty line is a row without fields.
        if (end != '\n' || at.col() != 1 || len != 0) {
            if (verbose)
                std::printf("%8s", xt_dsv_reader_text(&in, field, len));
            const bool col_wanted = at.col_wanted();
            if (at.row_wanted() || col_wanted) {
                const tally_group_t *g = col_wanted ? &at.take_col() : nullptr;
                if (g != nullptr && g->key_first != g->key_last)
                    keep_key(&key, *g, field, len);
                if (at.row_wanted() ||
                    (g != nullptr && (g->first != g->last || g->paired))) {
                    double v;
                    if (!field_value(&in, field, len, at, &v, err))
                        return false;
                    if (at.row_wanted()) {
                        // A row function takes every field of its row as
                        // it comes: a row may be of any length.
                        sink.row_value(at.row_records(), v, at.row());
                        if (g != nullptr)
                            sink.col_value(*g, v, at.row());
                        if (g != nullptr && g->paired)
                            staged[n++] = {g, v, true};
                    } else {
                        staged[n++] = {g, v, false};
                    }
                }
            }
        }
        if (end != '\n') {
            at.next_col();
            continue;
        }
        if (verbose)
            std::putchar('\n');
        if (!end_line())
            return false;
    }
    // A last line cut short by the end of input still ends.
    if ((n != 0 || at.col() > 1) && !sink.line_end(staged, n, key, at.row(), err))
        return false;
    if (in.error != 0 || std::ferror(input.stream))
        return tally_fail_io(err, "read error",
                             in.error != 0 ? in.error : errno);
    return true;
}

template bool tally_read_pass<tally_feed_sink_t>(const tally_selection_t &,
                                                 const tally_pass_input_t &,
                                                 tally_feed_sink_t &,
                                                 tally_error_t *);
