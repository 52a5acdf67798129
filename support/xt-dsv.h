// The field reader for a whole pass over one stream.  It reads the fields
// exactly as xt_dsv_read_field does (xt.h), but owns the stream from the
// first field to the end of input: it reads large blocks into a buffer of
// its own, finds every field end of 64 bytes at once with vector compares,
// and hands out fields where they lie in that buffer instead of copying
// them.  Not installed: the program's pass uses it, other callers have the
// calls of xt.h.
//
// Opened with XT_DSV_QUOTES it also reads quoted fields (CSV): a field that
// starts with a double quote runs to the matching closing quote and may
// hold delimiters, line ends and doubled quotes (one quote each); the
// quotes are not part of the field, and the closing quote must be followed
// by what ends a field.  A quote inside a field that does not start with
// one is an ordinary byte.
#ifndef NUMTALLY_SUPPORT_XT_DSV_H
#define NUMTALLY_SUPPORT_XT_DSV_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "xt.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Bytes after any field's first byte that may be read, whatever its length.
inline constexpr size_t XT_DSV_PAD = 64;

// The longest field kept whole; longer ones come cut to this many bytes.
inline constexpr size_t XT_DSV_FIELD_MAX = 4095;

// What a byte does to a field; the end of input has a class of its own.
enum xt_dsv_class : unsigned char {
    XT_DSV_ORD,   // part of the field
    XT_DSV_DELIM, // ends the field and is returned
    XT_DSV_SPACE, // ends the field; a run of them is one delimiter
    XT_DSV_NL,    // ends the line
    XT_DSV_CR,    // ends the line when LF or the end of input follows
    XT_DSV_END,   // end of input
    XT_DSV_QUOTE, // '"' under XT_DSV_QUOTES: opens a quoted field
};

// How a pass reader reads (xt_dsv_reader_open's flags).
enum : unsigned {
    XT_DSV_QUOTES = 1u,   // double-quoted fields, as above
    XT_DSV_SKIP_BOM = 2u, // a UTF-8 byte order mark that starts the input
                          // is not part of the first field
};

// What xt_dsv_reader_next and the skip calls return, besides a field's
// ending and -1, for quoted input that breaks the rules; the fault is in
// the field that the call would have returned next.
inline constexpr int XT_DSV_UNCLOSED_QUOTE = -2; // the input ends inside it
inline constexpr int XT_DSV_TEXT_AFTER_QUOTE = -3; // the closing quote is
                                                   // followed by text

// A delimiter set, resolved once.
struct xt_dsv_table_t {
    unsigned char cls[257]; // by byte + 1, so that EOF (-1) is cls[0]
    bool spaces;            // space is a delimiter
    bool cr_delim;          // CR not followed by LF is a delimiter
    bool quotes;            // '"' opens a quoted field (XT_DSV_QUOTE)
    // The bytes that can end a field (delimiters, LF, CR), when there are
    // at most four of them: fields are then found with vector compares.
    bool wide_scan;
    unsigned char stops[4];
};

// Resolves delims: every character ends a field, LF and CR as described in
// xt.h; with quotes, '"' (unless it is a delimiter) opens a quoted field.
void xt_dsv_table_build(xt_dsv_table_t *t, const char *delims,
                        bool quotes = false);

// Where a stream's bytes come from instead of its descriptor: read gives up
// to room bytes at dst, 0 at the end of input, or 0 with *error set (an
// errno value) when the input fails.  Files read one after the other and
// compressed input are decoded there, into the reader's own buffer.
struct xt_dsv_source_t {
    size_t (*read)(void *ctx, unsigned char *dst, size_t room, int *error);
    void *ctx;
};

// Where a pass reader stands.  Its caller keeps it in a variable of its own
// and hands it to every call, so that the position can stay in registers
// while other code runs between the fields.
struct xt_dsv_pos_t {
    const unsigned char *p;     // first unread byte
    const unsigned char *end;   // end of the bytes read so far
    const unsigned char *block; // the stop bits below are block's 64 bytes
    uint64_t stops;             // stop bytes at and after p in that block
};

// The pass reader.  Its fields are read only through the calls below.
struct xt_dsv_reader_t {
    FILE *stream;
    const xt_dsv_source_t *source; // where the bytes come from, or null
    xt_dsv_table_t table;
    unsigned char *base;  // the buffer: head room, data, padding
    size_t capacity;      // bytes of data it holds at most
    xt_dsv_pos_t pos;     // the position, between the caller's calls
    bool at_eof;          // the stream has no more bytes
    bool bom_pending;     // XT_DSV_SKIP_BOM, before the first byte is read
    int error;            // errno of a failed read, or 0
    const char *out;      // the field that the slow path found
    size_t out_len;
#if defined(__SSE2__)
    __m128i stop_vec[4];  // each of table.stops, sixteen times over
#endif
    char field[XT_DSV_FIELD_MAX + 1 + XT_DSV_PAD]; // fields not in the buffer
};

// Readers opened on stream from now on read through source (null: from the
// stream itself again).  The source must outlive them.
void xt_dsv_set_source(FILE *stream, const xt_dsv_source_t *source);

// Starts reading stream, from where it stands, with the delimiters delims
// and a buffer of capacity bytes (0: the default, 128 KiB), reading as
// flags (XT_DSV_QUOTES, XT_DSV_SKIP_BOM) ask, and returns the position to
// hand to the calls below.  The stream is the reader's until
// the end of input: other reads from it lose bytes.  One reader at a time
// on a thread: the buffer is the thread's, kept for its next one.  With
// source, the bytes come from there instead (stream may then be null).
xt_dsv_pos_t xt_dsv_reader_open(xt_dsv_reader_t *r, FILE *stream,
                                const char *delims, size_t capacity,
                                unsigned flags = 0,
                                const xt_dsv_source_t *source = nullptr);

// Reads the next field: returns what ended it, as xt_dsv_read_field does
// ('\n' at every line end, the delimiter, or -1 when no field is left), and
// stores in *field and *len where its bytes are and how many there are.
// The bytes stay valid until the next call; they are not NUL-terminated,
// and XT_DSV_PAD bytes from *field may be read.  Of a field longer than
// XT_DSV_FIELD_MAX only the first XT_DSV_FIELD_MAX bytes are there for sure;
// *len is its full length all the same.  A read error ends the input and
// is kept in error.  Under XT_DSV_QUOTES a quoted field comes without its
// quotes, its doubled quotes as one, and a faulty one ends the input with
// XT_DSV_UNCLOSED_QUOTE or XT_DSV_TEXT_AFTER_QUOTE instead of a field.
[[gnu::always_inline]] inline int
xt_dsv_reader_next(xt_dsv_reader_t *r, xt_dsv_pos_t *at, const char **field,
                   size_t *len);

// Consumes up to count fields as that many xt_dsv_reader_next calls would,
// stopping after a field that ends its line: as xt_dsv_skip_fields.  A
// quote fault is returned as xt_dsv_reader_next returns it, with *skipped
// the number of fields before the faulty one.
inline int xt_dsv_reader_skip_fields(xt_dsv_reader_t *r, xt_dsv_pos_t *at,
                                     size_t count, size_t *skipped);

// Consumes the rest of the line: as xt_dsv_skip_line; under XT_DSV_QUOTES
// line ends in quoted fields do not count, and a quote fault is returned.
inline int xt_dsv_reader_skip_line(xt_dsv_reader_t *r, xt_dsv_pos_t *at);

// The slow half of xt_dsv_reader_skip_line, from r->pos.
int xt_dsv_reader_skip_line_slow(xt_dsv_reader_t *r);

// The field as a NUL-terminated string (cut to XT_DSV_FIELD_MAX bytes, up
// to an embedded NUL as C strings go), valid until the next call.
const char *xt_dsv_reader_text(xt_dsv_reader_t *r, const char *field,
                               size_t len);

// The slow half of xt_dsv_reader_next, from r->pos: any field, any state of
// the buffer.  Leaves the field in r->out and r->out_len, unless skip says
// that its text is not wanted (a quoted field is then not unescaped).
int xt_dsv_reader_next_slow(xt_dsv_reader_t *r, bool skip = false);

// xt_dsv_reader_next, for a field whose text is wanted or not (Skip).
template <bool Skip>
[[gnu::always_inline]] inline int
xt_dsv_reader_take(xt_dsv_reader_t *r, xt_dsv_pos_t *at, const char **field,
                   size_t *len);

// ---- Inline part -------------------------------------------------------------

#if defined(__SSE2__)
// The stop bytes among the 64 at b, one bit each (lowest: b[0]).
inline uint64_t xt_dsv_stop_bits64(const xt_dsv_reader_t *r,
                                   const unsigned char *b)
{
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i x =
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 16 * i));
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(x, r->stop_vec[0]),
                         _mm_cmpeq_epi8(x, r->stop_vec[1])),
            _mm_or_si128(_mm_cmpeq_epi8(x, r->stop_vec[2]),
                         _mm_cmpeq_epi8(x, r->stop_vec[3])));
        bits |= static_cast<uint64_t>(static_cast<unsigned>(
                    _mm_movemask_epi8(hit)))
                << (16 * i);
    }
    return bits;
}

// The quotes among the 64 bytes at b, one bit each.
inline uint64_t xt_dsv_quote_bits64(const unsigned char *b)
{
    const __m128i quote = _mm_set1_epi8('"');
    uint64_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i x =
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 16 * i));
        bits |= static_cast<uint64_t>(static_cast<unsigned>(
                    _mm_movemask_epi8(_mm_cmpeq_epi8(x, quote))))
                << (16 * i);
    }
    return bits;
}
#endif

// Bit i: the parity of the bits of x at and below i.
inline uint64_t xt_dsv_prefix_xor(uint64_t x)
{
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

[[gnu::always_inline]] inline int
xt_dsv_reader_next(xt_dsv_reader_t *r, xt_dsv_pos_t *at, const char **field,
                   size_t *len)
{
    return xt_dsv_reader_take<false>(r, at, field, len);
}

template <bool Skip>
[[gnu::always_inline]] inline int
xt_dsv_reader_take(xt_dsv_reader_t *r, xt_dsv_pos_t *at, const char **field,
                   size_t *len)
{
    // The bulk of any input: the next stop byte is in the bits at hand and
    // plainly ends the field (a newline, or a delimiter with bytes after it).
    uint64_t stops = at->stops;
#if defined(__SSE2__)
    // Used up: the next whole block of read bytes gives the next bits.
    while (stops == 0 && at->end - at->block >= 128 && r->table.wide_scan) {
        at->block += 64;
        stops = at->stops = xt_dsv_stop_bits64(r, at->block);
    }
#endif
    if (stops != 0) {
        const unsigned char *p = at->p;
        const unsigned char *q = at->block + __builtin_ctzll(stops);
        const unsigned char c = *q;
        const unsigned char cls = r->table.cls[c + 1];
        if (cls == XT_DSV_NL || (cls == XT_DSV_DELIM && q + 1 < at->end)) {
            at->stops = stops & (stops - 1);
            at->p = q + 1;
            *field = reinterpret_cast<const char *>(p);
            *len = static_cast<size_t>(q - p);
            return cls == XT_DSV_NL ? '\n' : c;
        }
        if (cls == XT_DSV_QUOTE && q == p) {
#if defined(__SSE2__)
            // A quoted field: its closing quote is the first quote after
            // the opening one at which the count of quotes from the
            // opening one is even and that no quote follows (a doubled
            // quote stands for one).  Found by a parity mask over the
            // quote bits of whole blocks, without a branch per delimiter or
            // quote inside the field.  The masks of the first block do not
            // wait for the opening quote's place: only the last steps do,
            // as the next field waits for them.
            const unsigned char *block = at->block;
            uint64_t quotes = xt_dsv_quote_bits64(block);
            uint64_t lone = quotes & ~(quotes >> 1); // no quote follows
            uint64_t even = xt_dsv_prefix_xor(quotes);
            const unsigned open = static_cast<unsigned>(q - block);
            // Bit i: an even count of quotes from the opening one to i.
            even ^= uint64_t{0} - ((even >> open) & 1);
            uint64_t after = ~uint64_t{1} << open;
            uint64_t before = 0; // quotes inside, in blocks passed over
            const unsigned char *close;
            for (;;) {
                const uint64_t closing = lone & even & after;
                if (closing != 0) {
                    close = block + __builtin_ctzll(closing);
                    before |= quotes & after & ((closing & -closing) - 1);
                    if (close + 1 >= at->end)
                        goto slow; // what follows is not among the bytes
                    if (close[1] != '"')
                        break;
                    // A doubled quote across the block's end.
                    before = 1;
                }
                if (at->end - block < 128 || !r->table.wide_scan)
                    goto slow;
                before |= quotes & after;
                // Inside the field at the next block's start (past the
                // second quote of a pair across the edge).
                block += 64;
                after = closing != 0 ? ~uint64_t{1} : ~uint64_t{0};
                quotes = xt_dsv_quote_bits64(block);
                lone = quotes & ~(quotes >> 1);
                even = xt_dsv_prefix_xor(quotes & after);
            }
            // Doubled quotes inside need unescaping, unless the field's
            // text is not wanted.
            if (!Skip && before != 0)
                goto slow;
            const unsigned char e = close[1];
            const unsigned char ecls = r->table.cls[e + 1];
            if (ecls != XT_DSV_NL &&
                (ecls != XT_DSV_DELIM || close + 2 >= at->end))
                goto slow;
            // The stop bits after the byte that ends the field, which may
            // be the first of the next block.
            size_t next = static_cast<size_t>(close + 2 - block);
            uint64_t rest;
            if (next <= 64) {
                rest = block == at->block ? stops : xt_dsv_stop_bits64(r, block);
                rest = next < 64 ? rest & (~uint64_t{0} << next) : 0;
            } else {
                // The stop vectors hold only four of a wider set's stop
                // bytes: the slow path takes the next block's bits from
                // the whole set.
                if (!r->table.wide_scan)
                    goto slow;
                block += 64;
                next -= 64;
                rest = xt_dsv_stop_bits64(r, block) & (~uint64_t{0} << next);
                if (at->end - block < 64)
                    rest &= (uint64_t{1} << (at->end - block)) - 1;
            }
            at->block = block;
            at->stops = rest;
            at->p = close + 2;
            *field = reinterpret_cast<const char *>(p + 1);
            *len = static_cast<size_t>(close - p - 1);
            return ecls == XT_DSV_NL ? '\n' : e;
#endif
        }
    }
slow:
    r->pos = *at;
    const int result = xt_dsv_reader_next_slow(r, Skip);
    *at = r->pos;
    *field = r->out;
    *len = r->out_len;
    return result;
}

inline int xt_dsv_reader_skip_fields(xt_dsv_reader_t *r, xt_dsv_pos_t *at,
                                     size_t count, size_t *skipped)
{
    size_t done = 0;
    int result = -1;
    while (done < count) {
        const char *field;
        size_t len;
        result = xt_dsv_reader_take<true>(r, at, &field, &len);
        if (result < 0)
            break;
        ++done;
        if (result == '\n')
            break;
    }
    *skipped = done;
    return result;
}

inline int xt_dsv_reader_skip_line(xt_dsv_reader_t *r, xt_dsv_pos_t *at)
{
    // The newline is a stop byte like any other: step over the stop bits
    // to the first newline among them.
    uint64_t stops = at->stops;
    for (;;) {
        while (stops != 0) {
            const unsigned char *q = at->block + __builtin_ctzll(stops);
            stops &= stops - 1;
            if (*q == '\n') {
                at->stops = stops;
                at->p = q + 1;
                return '\n';
            }
            if (*q == '"' && r->table.quotes)
                goto slow; // a newline may stand inside the quotes
        }
#if defined(__SSE2__)
        if (at->end - at->block >= 128 && r->table.wide_scan) {
            at->block += 64;
            stops = xt_dsv_stop_bits64(r, at->block);
            continue;
        }
#endif
        break;
    }
slow:
    at->stops = 0;
    r->pos = *at;
    const int result = xt_dsv_reader_skip_line_slow(r);
    *at = r->pos;
    return result;
}

#endif
