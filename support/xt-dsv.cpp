// The delimited-field reader.
//
// On glibc the reader works straight on the stream's buffer: it scans the
// bytes between the read pointer and the end of the buffer with a pointer of
// its own, sixteen bytes at a time where SSE2 is there, copies each run of
// field bytes at once, and hands the pointer back to the stream whenever it
// calls stdio (to refill the buffer, to put back a character it cannot step
// back over) and when it returns.  Elsewhere every character comes from
// getc_unlocked and goes back with ungetc; both paths share one state
// machine.  In front of it, xt_dsv_read_field settles the bulk of all
// fields (short, ended plainly, well inside the buffer) with one sixteen-byte
// comparison and one store, and xt_dsv_skip_fields does the same without the
// store.
#include "xt.h"

#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// What a byte does to a field; EOF has a class of its own.
enum Cls : unsigned char {
    ORD,   // part of the field
    DELIM, // ends the field and is returned
    SPACE, // ends the field; a run of them is one delimiter
    NL,    // ends the line
    CR,    // ends the line when LF or the end of input follows
    END,   // end of input
};

struct Table {
    char *delims;           // the delimiter string this table was built for
    size_t room;            // bytes allocated at delims
    unsigned char cls[257]; // indexed by character + 1, so that EOF is 0
    bool spaces;            // space is a delimiter
    bool cr_delim;          // CR not followed by LF is a delimiter
    // The bytes that end a run of field bytes (delimiters, LF, CR), when
    // there are at most four of them: sixteen bytes are then scanned at once.
    bool wide_scan;
    unsigned char stops[4];
#if defined(__SSE2__)
    __m128i stop_bytes[4]; // each stop byte, sixteen times over
#endif
};

#if defined(__SSE2__)
// keep_below[n]: all ones in the bytes before byte n, zero from byte n on.
struct KeepBelow {
    alignas(16) unsigned char bytes[17][16];
    constexpr KeepBelow() : bytes()
    {
        for (int n = 0; n <= 16; ++n)
            for (int i = 0; i < 16; ++i)
                bytes[n][i] = i < n ? 0xFF : 0x00;
    }
};
constexpr KeepBelow keep_below;
#endif

// True when the NUL-terminated a and b hold the same text.  Delimiter
// strings are a few bytes long: a plain loop beats strcmp's set-up.
inline bool same_text(const char *a, const char *b)
{
    // The usual two-byte strings settle without the loop.
    if (a[0] != b[0])
        return false;
    if (a[0] == '\0')
        return true;
    if (a[1] != b[1])
        return false;
    if (a[1] == '\0')
        return true;
    a += 2;
    b += 2;
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Zero-initialised, so no guard on every call.
Table table;
bool table_built = false;

[[gnu::noinline, gnu::cold]] const Table &build_table(const char *delims)
{
    Table &t = table;
    const size_t need = std::strlen(delims) + 1;
    if (need > t.room) {
        t.delims = static_cast<char *>(xt_realloc(t.delims, need, 1));
        t.room = need;
    }
    std::memcpy(t.delims, delims, need);
    for (unsigned char &c : t.cls)
        c = ORD;
    t.cr_delim = false;
    for (const char *p = delims; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        t.cls[c + 1] = c == ' ' ? SPACE : DELIM;
        if (c == '\r')
            t.cr_delim = true;
    }
    t.spaces = t.cls[' ' + 1] == SPACE;
    t.cls['\n' + 1] = NL;
    t.cls['\r' + 1] = CR;
    t.cls[0] = END;
    int stops = 0;
    t.wide_scan = true;
    for (int c = 0; c < 256; ++c) {
        if (t.cls[c + 1] == ORD)
            continue;
        if (stops == 4) {
            t.wide_scan = false;
            break;
        }
        t.stops[stops++] = static_cast<unsigned char>(c);
    }
    for (int i = stops; i < 4; ++i)
        t.stops[i] = t.stops[0]; // '\n' is always among them
#if defined(__SSE2__)
    for (int i = 0; i < 4; ++i)
        t.stop_bytes[i] = _mm_set1_epi8(static_cast<char>(t.stops[i]));
#endif
    table_built = true;
    return t;
}

inline const Table &table_for(const char *delims)
{
    if (table_built && same_text(table.delims, delims))
        return table;
    return build_table(delims);
}

#if defined(__SSE2__)
// The stop bytes among the sixteen at p, one bit each (lowest bit: p[0]).
inline unsigned stop_mask(const Table &t, const unsigned char *p)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i hit = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, t.stop_bytes[0]),
                     _mm_cmpeq_epi8(v, t.stop_bytes[1])),
        _mm_or_si128(_mm_cmpeq_epi8(v, t.stop_bytes[2]),
                     _mm_cmpeq_epi8(v, t.stop_bytes[3])));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

// Copies the at bytes before p[at] to dst and its terminator, in one store.
inline void store_short_field(char *dst, const unsigned char *p, unsigned at)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i keep = _mm_load_si128(
        reinterpret_cast<const __m128i *>(keep_below.bytes[at]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm_and_si128(keep, v));
}
#endif

// The field that starts at start ends at the stop byte *q (q < end, all of it
// in the stream's buffer).  Stores what ended it in *result and returns where
// the next field starts, as far as the buffered bytes settle it; returns null
// when only the general reader can tell: a CR, spaces at the start of a line,
// or an ending that runs to the end of the buffer, where an empty field may
// be owed.
inline const unsigned char *settle_ending(const unsigned char *cls,
                                          const unsigned char *start,
                                          const unsigned char *q,
                                          const unsigned char *end,
                                          int *result)
{
    const unsigned char *after = q + 1;
    switch (cls[*q]) {
    case NL:
        *result = '\n';
        return after;
    case DELIM:
        *result = *q;
        return after < end ? after : nullptr;
    case SPACE:
        if (q == start)
            return nullptr;
        while (after < end && *after == ' ')
            ++after;
        if (after == end)
            return nullptr;
        switch (cls[*after]) {
        case NL:
            *result = '\n';
            return after + 1;
        case DELIM:
            *result = *after;
            return after + 1 < end ? after + 1 : nullptr;
        case CR:
            return nullptr;
        default:
            *result = ' '; // the next field starts here
            return after;
        }
    default: // CR
        return nullptr;
    }
}

// The reader's view of a stream: on glibc a private copy of the read
// pointer and the end of the buffered bytes, null when not in use.
struct Input {
    FILE *fp;
    const unsigned char *p = nullptr;
    const unsigned char *end = nullptr;

    explicit Input(FILE *f) : fp(f) { load(); }

    // Takes the stream's read pointer and buffer end.
    void load()
    {
#if defined(__GLIBC__)
        p = reinterpret_cast<const unsigned char *>(fp->_IO_read_ptr);
        end = reinterpret_cast<const unsigned char *>(fp->_IO_read_end);
#endif
    }

    // Hands the read pointer back to the stream.
    void store()
    {
#if defined(__GLIBC__)
        if (p != nullptr)
            fp->_IO_read_ptr = reinterpret_cast<char *>(const_cast<unsigned char *>(p));
#endif
    }

    bool buffered() const { return p < end; }

    int next()
    {
        if (p < end)
            return *p++;
        return refill();
    }

    // The buffer is used up: let stdio fill it and take the first byte.
    int refill()
    {
        store();
        const int c = getc_unlocked(fp);
        load();
        return c;
    }

    // Puts back c, the character just read.
    void unget(int c)
    {
#if defined(__GLIBC__)
        const unsigned char *base =
            reinterpret_cast<const unsigned char *>(fp->_IO_read_base);
        if (p != nullptr && p > base && p[-1] == c) {
            --p;
            return;
        }
#endif
        push(c);
    }

    // Puts back c, whatever was read last.
    void push(int c)
    {
        store();
        std::ungetc(c, fp);
        load();
    }

    // Appends the run of ordinary bytes that starts at the read pointer to
    // buf (up to keep bytes in all) and counts it in n; returns the byte
    // that ends the run, taken from the stream, or EOF.
    int take_run(const unsigned char *cls, char *buf, size_t keep, size_t &n)
    {
        for (;;) {
            const unsigned char *q = p;
            while (q < end && cls[*q] == ORD)
                ++q;
            const size_t run = static_cast<size_t>(q - p);
            if (run != 0 && n < keep)
                std::memcpy(buf + n, p, run < keep - n ? run : keep - n);
            n += run;
            p = q;
            if (p < end)
                return *p++;
            const int c = refill();
            if (cls[c] != ORD)
                return c;
            if (n < keep)
                buf[n] = static_cast<char>(c);
            ++n;
        }
    }
};

// After a delimiter: when nothing follows, the line still holds one more
// (empty) field, so a newline is put back for the next call to end it.
inline void close_line_at_end(Input &in)
{
    if (in.buffered())
        return;
    const int d = in.next();
    if (d == EOF)
        in.push('\n');
    else
        in.unget(d);
}

// The whole reader: any field, any stream, any state of its buffer.
[[gnu::noinline]] int read_field(FILE *fp, char *buf, size_t size,
                                 const Table &t, size_t *len)
{
    const unsigned char *cls = t.cls + 1;
    const size_t keep = size != 0 ? size - 1 : 0;
    size_t n = 0;
    bool consumed = false; // anything read by this call, spaces included
    int result;
    Input in(fp);

    // The common case, settled within the buffered bytes: a short field
    // ended by a newline, a delimiter or spaces, with more bytes after it.
    if (in.buffered() && !(t.spaces && *in.p == ' ')) {
        const unsigned char *q = in.p;
        const unsigned char *const limit =
            static_cast<size_t>(in.end - q) > keep ? q + keep : in.end;
        char *dst = buf;
        bool terminated = false; // the NUL after the field is in place
#if defined(__SSE2__)
        if (t.wide_scan) {
            // Sixteen bytes at a time while they lie in the stream's buffer
            // and fit in the field buffer: copy them all, up to the first
            // stop byte if there is one.
            while (in.end - q >= 16 &&
                   static_cast<size_t>(dst - buf) + 16 <= keep) {
                const unsigned mask = stop_mask(t, q);
                if (mask != 0) {
                    // The terminator goes in with the same store: a caller
                    // that reads the field back in words gets it straight
                    // from that one store.
                    const unsigned at =
                        static_cast<unsigned>(__builtin_ctz(mask));
                    store_short_field(dst, q, at);
                    q += at;
                    dst += at;
                    terminated = true;
                    goto scanned;
                }
                std::memcpy(dst, q, 16);
                q += 16;
                dst += 16;
            }
        }
#endif
        while (q < limit && cls[*q] == ORD)
            *dst++ = static_cast<char>(*q++);
#if defined(__SSE2__)
    scanned:
#endif
        if (q < in.end && cls[*q] != ORD) {
            const unsigned char *next =
                settle_ending(cls, in.p, q, in.end, &result);
            if (next != nullptr) {
                *len = static_cast<size_t>(q - in.p);
                in.p = next;
                in.store();
                if (size != 0 && !terminated)
                    *dst = '\0';
                return result;
            }
        }
    }

    // The general path: any field, any state of the buffer.
    int c = in.next();
    if (t.spaces) {
        while (c == ' ') {
            consumed = true;
            c = in.next();
        }
    }
    for (;;) {
        // The common case first: a run of ordinary characters.
        if (cls[c] == ORD) {
            if (n < keep)
                buf[n] = static_cast<char>(c);
            ++n;
            c = in.take_run(cls, buf, keep, n);
        }
        switch (cls[c]) {
        case END:
            // A last line without a newline ends here all the same.
            result = (consumed || n != 0) ? '\n' : -1;
            goto done;
        case NL:
            result = '\n';
            goto done;
        case CR: {
            const int d = in.next();
            if (d == '\n' || d == EOF) {
                result = '\n';
                goto done;
            }
            in.unget(d);
            if (t.cr_delim) {
                result = '\r';
                goto delimited;
            }
            if (n < keep)
                buf[n] = '\r';
            ++n;
            c = in.next();
            continue;
        }
        case DELIM:
            result = c;
            goto delimited;
        case SPACE: {
            // Swallow the run; what follows it decides what ended the field.
            do
                c = in.next();
            while (c == ' ');
            switch (cls[c]) {
            case END:
            case NL:
                result = '\n';
                goto done;
            case DELIM:
                result = c;
                goto delimited;
            case CR: {
                const int d = in.next();
                if (d == '\n' || d == EOF) {
                    result = '\n';
                    goto done;
                }
                in.unget(d);
                if (t.cr_delim) {
                    result = '\r';
                    goto delimited;
                }
                in.push('\r');
                result = ' ';
                goto done;
            }
            default:
                in.unget(c);
                result = ' ';
                goto done;
            }
        }
        default: // ORD: unreachable, take_run stops at no ordinary byte
            continue;
        }
    }

delimited:
    close_line_at_end(in);
done:
    in.store();
    if (size != 0)
        buf[n < keep ? n : keep] = '\0';
    *len = n;
    return result;
}

} // namespace

int xt_dsv_read_field(FILE *fp, char *buf, size_t size, const char *delims,
                      size_t *len)
{
    const Table &t = table_for(delims);
#if defined(__GLIBC__) && defined(__SSE2__)
    // The bulk of any input: a field of fewer than sixteen bytes, followed
    // by what ends it, all in the stream's buffer with bytes to spare.  One
    // comparison of sixteen bytes finds its end; one store copies it in,
    // terminator included.
    const unsigned char *p =
        reinterpret_cast<const unsigned char *>(fp->_IO_read_ptr);
    const unsigned char *const end =
        reinterpret_cast<const unsigned char *>(fp->_IO_read_end);
    if (t.wide_scan && size > 16 && end - p >= 32) {
        const unsigned mask = stop_mask(t, p);
        if (mask != 0) {
            const unsigned at = static_cast<unsigned>(__builtin_ctz(mask));
            int result;
            const unsigned char *next =
                settle_ending(t.cls + 1, p, p + at, end, &result);
            if (next != nullptr) {
                store_short_field(buf, p, at);
                fp->_IO_read_ptr =
                    reinterpret_cast<char *>(const_cast<unsigned char *>(next));
                *len = at;
                return result;
            }
        }
    }
#endif
    return read_field(fp, buf, size, t, len);
}

int xt_dsv_skip_fields(FILE *fp, const char *delims, size_t count,
                       size_t *skipped)
{
    const Table &t = table_for(delims);
    size_t done = 0;
    int result = -1;
    while (done < count) {
#if defined(__GLIBC__) && defined(__SSE2__)
        // The fast case of xt_dsv_read_field, field after field, without
        // copying anything.
        const unsigned char *p =
            reinterpret_cast<const unsigned char *>(fp->_IO_read_ptr);
        const unsigned char *const end =
            reinterpret_cast<const unsigned char *>(fp->_IO_read_end);
        if (t.wide_scan && end - p >= 32) {
            const unsigned mask = stop_mask(t, p);
            if (mask != 0) {
                const unsigned at = static_cast<unsigned>(__builtin_ctz(mask));
                const unsigned char *next =
                    settle_ending(t.cls + 1, p, p + at, end, &result);
                if (next != nullptr) {
                    fp->_IO_read_ptr = reinterpret_cast<char *>(
                        const_cast<unsigned char *>(next));
                    ++done;
                    if (result == '\n')
                        break;
                    continue;
                }
            }
        }
#endif
        // Everything else: the reader itself, into a scratch buffer.
        char scratch[64];
        size_t len;
        result = xt_dsv_read_field(fp, scratch, sizeof scratch, delims, &len);
        if (result == -1)
            break;
        ++done;
        if (result == '\n')
            break;
    }
    *skipped = done;
    return result;
}

int xt_dsv_skip_line(FILE *fp)
{
    Input in(fp);
    for (;;) {
        if (in.buffered()) {
            const size_t avail = static_cast<size_t>(in.end - in.p);
            const void *nl = std::memchr(in.p, '\n', avail);
            if (nl != nullptr) {
                in.p = static_cast<const unsigned char *>(nl) + 1;
                in.store();
                return '\n';
            }
            in.p = in.end;
        }
        const int c = in.refill();
        if (c == EOF) {
            in.store();
            return -1;
        }
        if (c == '\n') {
            in.store();
            return '\n';
        }
    }
}
