// The pass over the input.
#include "pass.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include <sysexits.h>

#include "parse-number.h"
#include "tallyf-list-run.h"
#include "feed.h"
#include "groups.h"
#include "xt-dsv.h"

namespace {

// The invalid-number error.
[[gnu::noinline, gnu::cold]] bool invalid_number(xt_dsv_reader_t *in,
                                                 const char *field, size_t len,
                                                 const tally_cursor_t &at,
                                                 tally_error_t *err)
{
    const char *text = xt_dsv_reader_text(in, field, len);
    std::string m = parse_field_overflows(text, len)
                        ? "Number too large for a double: "
                        : "Invalid number: ";
    m += text;
    char where[64];
    std::snprintf(where, sizeof where, ": row %" PRIu64 ", col %" PRIu64 "\n",
                  at.row(), at.col());
    m += where;
    return tally_fail(err, EX_DATAERR, std::move(m));
}

// The value of a selected field, or the invalid-number error.  A field
// longer than the field limit is never converted from its prefix.
[[gnu::always_inline]] inline bool field_value(xt_dsv_reader_t *in,
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
    return invalid_number(in, field, len, at, err);
}

[[gnu::noinline, gnu::cold]] bool key_too_long(const tally_cursor_t &at,
                                               tally_error_t *err)
{
    char m[120];
    std::snprintf(m, sizeof m,
                  "Key field longer than %zu bytes: row %" PRIu64
                  ", col %" PRIu64 "\n",
                  XT_DSV_FIELD_MAX, at.row(), at.col());
    return tally_fail(err, EX_DATAERR, m);
}

// Keeps a key field's bytes in each slot the column fills.  The reader
// keeps XT_DSV_FIELD_MAX bytes of a field: a longer key cannot be told
// apart from others, and ends the run.
[[gnu::always_inline]] inline bool keep_key(tally_line_key_t *key,
                                            const tally_group_t &g,
                                            const char *field, size_t len,
                                            const tally_cursor_t &at,
                                            tally_error_t *err)
{
    if (len > XT_DSV_FIELD_MAX)
        return key_too_long(at, err);
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

} // namespace

namespace {

template <bool Fma, class Sink>
[[gnu::always_inline]] inline bool
read_pass(const tally_selection_t &sel, const tally_pass_input_t &input,
          Sink &sink, tally_error_t *err)
{
    static xt_dsv_reader_t in;
    static tally_line_key_t key;
    static tally_staged_t staged[TALLYF_LIST_MAX + TALLY_KEYS_MAX];
    key.len = 0;
    key.filled = 0;
    int n = 0;
    const bool verbose = input.verbose;
    xt_dsv_pos_t pos = xt_dsv_reader_open(&in, input.stream, input.delims, 0);
    tally_cursor_t at(sel);
    // The line's end: its staged values and key go to the sink.
    auto end_line = [&]() __attribute__((always_inline)) -> bool {
        const bool ok = sink.template line_end<Fma>(staged, n, key, at.row(), err);
        n = 0;
        if (input.nkeys != 0) {
            key.len = 0;
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
                if (g != nullptr && g->key_first != g->key_last &&
                    !keep_key(&key, *g, field, len, at, err))
                    return false;
                if (at.row_wanted() || (g != nullptr && g->first != g->last)) {
                    double v;
                    if (!field_value(&in, field, len, at, &v, err))
                        return false;
                    if (at.row_wanted()) {
                        // A row function takes every field of its row as
                        // it comes: a row may be of any length.
                        sink.template row_value<Fma>(at.row_records(), v, at.row());
                        if (g != nullptr)
                            sink.template col_value<Fma>(*g, v, at.row());
                    } else if constexpr (Sink::stages) {
                        staged[n++] = {g, v};
                    } else {
                        sink.template col_value<Fma>(*g, v, at.row());
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
    if ((n != 0 || at.col() > 1) && !sink.template line_end<Fma>(staged, n, key, at.row(), err))
        return false;
    if (in.error != 0 || std::ferror(input.stream))
        return tally_fail_io(err, "read error",
                             in.error != 0 ? in.error : errno);
    return true;
}

template <class Sink>
bool read_plain(const tally_selection_t &sel, const tally_pass_input_t &input,
                Sink &sink, tally_error_t *err)
{
    return read_pass<false>(sel, input, sink, err);
}

#if defined(TALLY_FMA_DISPATCH)
template <class Sink>
[[gnu::target("fma")]] bool read_fused(const tally_selection_t &sel,
                                      const tally_pass_input_t &input,
                                      Sink &sink, tally_error_t *err)
{
    return read_pass<true>(sel, input, sink, err);
}
#endif

} // namespace

template <class Sink>
bool tally_read_pass(const tally_selection_t &sel,
                     const tally_pass_input_t &input, Sink &sink,
                     tally_error_t *err)
{
#if defined(TALLY_FMA_DISPATCH)
    if (tally_use_fma())
        return read_fused(sel, input, sink, err);
#endif
    return read_plain(sel, input, sink, err);
}

template bool tally_read_pass<tally_feed_sink_t>(const tally_selection_t &,
                                                 const tally_pass_input_t &,
                                                 tally_feed_sink_t &,
                                                 tally_error_t *);
template bool tally_read_pass<tally_group_sink_t>(const tally_selection_t &,
                                                  const tally_pass_input_t &,
                                                  tally_group_sink_t &,
                                                  tally_error_t *);
