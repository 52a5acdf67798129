// The pass's cold paths: its messages and the header line.
#include "pass.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>

#include <sysexits.h>

#include "missing-value.h"
#include "parse-number.h"
#include "text-escape.h"

namespace tally_pass_body {

// How a message names column col.
static std::string col_text(const tally_pass_input_t &input, uint64_t col)
{
    if (input.names != nullptr)
        return tally_col_text(*input.wants, *input.names, col);
    return std::to_string(col);
}

// The invalid-number error, the field shown escaped and cut short.
bool invalid_number(
    xt_dsv_reader_t *in, const tally_pass_input_t &input, const char *field,
    size_t len, const tally_cursor_t &at, tally_error_t *err)
{
    char shown[XT_ESCAPE_ROOM];
    std::string m = parse_field_overflows(xt_dsv_reader_text(in, field, len), len)
                        ? "Number too large for a double: "
                        : "Invalid number: ";
    m += xt_escape_text(field, len, shown);
    m += ": row " + std::to_string(at.row()) + ", col " +
         col_text(input, at.col());
    if (is_missing_value(field, len))
        m += " (--skip-missing skips it)";
    m += "\n";
    return tally_fail(err, EX_DATAERR, std::move(m));
}

// A quoted field that breaks the rules, at the row and column given.
bool quote_fault(const tally_pass_input_t &input,
                                              int fault, uint64_t row,
                                              uint64_t col, tally_error_t *err)
{
    std::string m = fault == XT_DSV_UNCLOSED_QUOTE
                        ? "numtally: unclosed quote: row "
                        : "numtally: text after a closing quote: row ";
    m += std::to_string(row) + ", col " + col_text(input, col) + "\n";
    tally_fail(err, EX_DATAERR, std::move(m));
    err->in_quotes = fault == XT_DSV_UNCLOSED_QUOTE;
    return false;
}

bool key_too_long(const tally_cursor_t &at,
                                               tally_error_t *err)
{
    char m[120];
    std::snprintf(m, sizeof m,
                  "Key field longer than %zu bytes: row %" PRIu64
                  ", col %" PRIu64 "\n",
                  XT_DSV_FIELD_MAX, at.row(), at.col());
    return tally_fail(err, EX_DATAERR, m);
}

// Reads the header line's fields (echoed under verbose), each cut to the
// field limit, and stores in *long_col the column of the first that was
// longer (0: none).  Returns what ended the last of them: '\n', -1 without
// any line, or a quote fault, with *fault_col its column.
int read_header(xt_dsv_reader_t *in, xt_dsv_pos_t *pos, bool verbose,
                std::vector<std::string> *fields, uint64_t *long_col,
                uint64_t *fault_col)
{
    for (;;) {
        const char *field;
        size_t len;
        const int end = xt_dsv_reader_next(in, pos, &field, &len);
        if (end < -1)
            *fault_col = fields->size() + 1;
        if (end < 0)
            return end;
        if (end != '\n' || !fields->empty() || len != 0) {
            if (len > XT_DSV_FIELD_MAX && *long_col == 0)
                *long_col = fields->size() + 1;
            fields->emplace_back(field, std::min(len, XT_DSV_FIELD_MAX));
            if (verbose)
                std::printf("%8s", xt_dsv_reader_text(in, field, len));
        }
        if (end == '\n') {
            if (verbose)
                std::putchar('\n');
            return end;
        }
    }
}

// A data line with more fields than the header line: its fields would be
// taken by the names of others.
bool too_wide(uint64_t row, uint64_t fields,
                                           uint64_t header,
                                           tally_error_t *err)
{
    std::string m = "numtally: row " + std::to_string(row) + " has " +
                    std::to_string(fields) + " fields, the header line " +
                    std::to_string(header);
    m += header == 1            ? ": is the delimiter right?\n"
         : fields == header + 1 ? ": does the first column have no name?\n"
                                : "\n";
    return tally_fail(err, EX_DATAERR, std::move(m));
}

// A data line that ended before some wanted columns: counted per column.
void note_short(const tally_selection_t &sel,
                                             const tally_group_t *g,
                                             uint64_t row,
                                             tally_pass_stats_t *stats)
{
    for (; g->number != UINT64_MAX; ++g) {
        const size_t k = static_cast<size_t>(g - sel.cols);
        if (stats->col_short[k]++ == 0)
            stats->col_short_row[k] = row;
    }
}

} // namespace tally_pass_body

void tally_merge_pass_stats(tally_pass_stats_t *into,
                            const tally_pass_stats_t &from)
{
    into->lines += from.lines;
    if (from.widest > into->widest)
        into->widest = from.widest;
    for (int g = 0; g <= TALLY_WANTS_MAX; ++g)
        into->row_gaps[g] += from.row_gaps[g];
    for (int g = 0; g <= TALLY_WANTED_COLS_MAX; ++g) {
        into->col_gaps[g] += from.col_gaps[g];
        if (into->col_short[g] == 0)
            into->col_short_row[g] = from.col_short_row[g];
        into->col_short[g] += from.col_short[g];
    }
}
