// The field reader for a whole pass over one stream.  It reads the fields
// exactly as xt_dsv_read_field does (xt.h), but owns the stream from the
// first field to the end of input: it reads large blocks into a buffer of
// its own, finds every field end of 64 bytes at once with vector compares,
// and hands out fields where they lie in that buffer instead of copying
// them.  Not installed: the program's pass uses it, other callers have the
// calls of xt.h.
#ifndef NUMTALLY_SUPPORT_XT_DSV_H
#define NUMTALLY_SUPPORT_XT_DSV_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "xt.h"

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
};

// A delimiter set, resolved once.
struct xt_dsv_table_t {
    unsigned char cls[257]; // by byte + 1, so that EOF (-1) is cls[0]
    bool spaces;            // space is a delimiter
    bool cr_delim;          // CR not followed by LF is a delimiter
    // The bytes that can end a field (delimiters, LF, CR), when there are
    // at most four of them: fields are then found with vector compares.
    bool wide_scan;
    unsigned char stops[4];
};

// Resolves delims: every character ends a field, LF and CR as described in
// xt.h.
void xt_dsv_table_build(xt_dsv_table_t *t, const char *delims);

// The pass reader.  Its fields are read only through the calls below.
struct xt_dsv_reader_t {
    FILE *stream;
    xt_dsv_table_t table;
    unsigned char *base;       // the buffer: head room, data, padding
    size_t capacity;           // bytes of data it holds at most
    const unsigned char *p;    // first unread byte
    const unsigned char *end;  // end of the bytes read so far
    const unsigned char *block; // the stop bits below are block's 64 bytes
    uint64_t stops;            // stop bytes at and after p in that block
    bool at_eof;               // the stream has no more bytes
    int error;                 // errno of a failed read, or 0
    char field[XT_DSV_FIELD_MAX + 1 + XT_DSV_PAD]; // fields not in the buffer
};

// Starts reading stream, from where it stands, with the delimiters delims
// and a buffer of capacity bytes (0: the default, 128 KiB).  The stream is
// the reader's until the end of input: other reads from it lose bytes.
// One reader at a time: the buffer is the module's, kept for the next one.
void xt_dsv_reader_open(xt_dsv_reader_t *r, FILE *stream, const char *delims,
                        size_t capacity);

// Reads the next field: returns what ended it, as xt_dsv_read_field does
// ('\n' at every line end, the delimiter, or -1 when no field is left), and
// stores in *field and *len where its bytes are and how many there are.
// The bytes stay valid until the next call; they are not NUL-terminated,
// and XT_DSV_PAD bytes from *field may be read.  Of a field longer than
// XT_DSV_FIELD_MAX only the first XT_DSV_FIELD_MAX bytes are there for sure;
// *len is its full length all the same.  A read error ends the input and
// is kept in error.
inline int xt_dsv_reader_next(xt_dsv_reader_t *r, const char **field,
                              size_t *len);

// Consumes up to count fields as that many xt_dsv_reader_next calls would,
// stopping after a field that ends its line: as xt_dsv_skip_fields.
int xt_dsv_reader_skip_fields(xt_dsv_reader_t *r, size_t count,
                              size_t *skipped);

// Consumes the rest of the line: as xt_dsv_skip_line.
int xt_dsv_reader_skip_line(xt_dsv_reader_t *r);

// The field as a NUL-terminated string (cut to XT_DSV_FIELD_MAX bytes, up
// to an embedded NUL as C strings go), valid until the next call.
const char *xt_dsv_reader_text(xt_dsv_reader_t *r, const char *field,
                               size_t len);

// The slow half of xt_dsv_reader_next: any field, any state of the buffer.
int xt_dsv_reader_next_slow(xt_dsv_reader_t *r, const char **field,
                            size_t *len);

// ---- Inline part -------------------------------------------------------------

inline int xt_dsv_reader_next(xt_dsv_reader_t *r, const char **field,
                              size_t *len)
{
    // The bulk of any input: the next stop byte is in the bits at hand and
    // plainly ends the field (a newline, or a delimiter with bytes after it).
    const uint64_t stops = r->stops;
    if (stops != 0) {
        const unsigned char *p = r->p;
        const unsigned char *q = r->block + __builtin_ctzll(stops);
        const unsigned char c = *q;
        const unsigned char cls = r->table.cls[c + 1];
        if (cls == XT_DSV_NL || (cls == XT_DSV_DELIM && q + 1 < r->end)) {
            r->stops = stops & (stops - 1);
            r->p = q + 1;
            *field = reinterpret_cast<const char *>(p);
            *len = static_cast<size_t>(q - p);
            return cls == XT_DSV_NL ? '\n' : c;
        }
    }
    return xt_dsv_reader_next_slow(r, field, len);
}

#endif
