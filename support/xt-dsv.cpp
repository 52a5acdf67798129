// The delimited-field reader, in two forms over one set of rules.
//
// xt_dsv_read_field and xt_dsv_skip_fields read one field per call from a
// stdio stream that the caller may use in between: on glibc they work on
// the stream's own buffer (FileInput, the one place that knows its
// pointers), elsewhere through getc and ungetc.  The pass reader
// (xt-dsv.h) owns its stream and reads it in large blocks into a buffer of
// its own (BufferInput; read_some is the one place that takes bytes from
// stdio), finding field ends 64 bytes at a time.
//
// Both settle the bulk of all fields (a field followed by what plainly ends
// it, within the bytes at hand) on a fast path, and hand everything else to
// general_field, the one state machine that knows every rule, written once
// for both kinds of input.
#include "xt-dsv.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Table = xt_dsv_table_t;

constexpr unsigned char ORD = XT_DSV_ORD;
constexpr unsigned char DELIM = XT_DSV_DELIM;
constexpr unsigned char SPACE = XT_DSV_SPACE;
constexpr unsigned char NL = XT_DSV_NL;
constexpr unsigned char CR = XT_DSV_CR;
constexpr unsigned char END = XT_DSV_END;
constexpr unsigned char QUOTE = XT_DSV_QUOTE;

// ---- Delimiter tables ----------------------------------------------------------

// True when the NUL-terminated a and b hold the same text.  Delimiter
// strings are a few bytes long: a plain loop beats strcmp's set-up.
inline bool same_text(const char *a, const char *b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// The per-call functions of xt.h take the delimiters anew on every call:
// the table of the last set is kept, one per thread, so that threads
// reading with other delimiters never share it.
struct CachedTable {
    char *delims = nullptr; // the delimiter string it was built for
    size_t room = 0;        // bytes allocated at delims
    bool built = false;
    Table table;
    ~CachedTable() { xt_free(delims); }
};
thread_local CachedTable cached;

[[gnu::noinline, gnu::cold]] const Table &rebuild_table(const char *delims)
{
    const size_t need = std::strlen(delims) + 1;
    if (need > cached.room) {
        cached.delims = static_cast<char *>(xt_realloc(cached.delims, need, 1));
        cached.room = need;
    }
    std::memcpy(cached.delims, delims, need);
    xt_dsv_table_build(&cached.table, delims);
    cached.built = true;
    return cached.table;
}

inline const Table &table_for(const char *delims)
{
    if (cached.built && same_text(cached.delims, delims))
        return cached.table;
    return rebuild_table(delims);
}

// ---- Stop bytes, sixteen or sixty-four at a time ----------------------------

#if defined(__SSE2__)
struct StopVectors {
    __m128i v[4];
    explicit StopVectors(const Table &t)
    {
        for (int i = 0; i < 4; ++i)
            v[i] = _mm_set1_epi8(static_cast<char>(t.stops[i]));
    }
    // The stop bytes among the sixteen at p, one bit each (lowest: p[0]).
    unsigned mask16(const unsigned char *p) const
    {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, v[0]), _mm_cmpeq_epi8(x, v[1])),
                         _mm_or_si128(_mm_cmpeq_epi8(x, v[2]), _mm_cmpeq_epi8(x, v[3])));
        return static_cast<unsigned>(_mm_movemask_epi8(hit));
    }
};
#endif

// The stop bytes among the n (at most 64) bytes at p, one bit each; the 64
// bytes at p must be readable.
inline uint64_t stop_bits(const Table &t, const unsigned char *p, size_t n)
{
    uint64_t bits = 0;
#if defined(__SSE2__)
    if (t.wide_scan) {
        const StopVectors s(t);
        bits = uint64_t{s.mask16(p)} | uint64_t{s.mask16(p + 16)} << 16 |
               uint64_t{s.mask16(p + 32)} << 32 | uint64_t{s.mask16(p + 48)} << 48;
        return n >= 64 ? bits : bits & ((uint64_t{1} << n) - 1);
    }
#endif
    const unsigned char *cls = t.cls + 1;
    for (size_t i = 0; i < n && i < 64; ++i)
        if (cls[p[i]] != ORD)
            bits |= uint64_t{1} << i;
    return bits;
}

// ---- The ending of a field in buffered bytes ------------------------------------

// The field that starts at start ends at the stop byte *q (q < end, all of it
// buffered).  Stores what ended it in *result and returns where the next
// field starts, as far as the buffered bytes settle it; returns null when
// only the general reader can tell: a lone CR, spaces at the start of a
// field, or an ending that runs to the end of the bytes, where an empty
// field may be owed.
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
    case CR: // CR LF ends the line like LF
        if (after < end && *after == '\n') {
            *result = '\n';
            return after + 1;
        }
        return nullptr;
    default:
        return nullptr;
    }
}

// The one buffered-field routine of the per-call functions: finds the end
// of the field that starts at p (sixteen bytes at a time where it can) and
// settles it.  Returns where the next field starts and stores the field's
// end in *q and what ended it in *result; null when the general reader
// must decide.
inline const unsigned char *buffered_field(const Table &t,
                                           const unsigned char *p,
                                           const unsigned char *end,
                                           const unsigned char **q_out,
                                           int *result)
{
    const unsigned char *cls = t.cls + 1;
    const unsigned char *q = p;
#if defined(__SSE2__)
    if (t.wide_scan) {
        const StopVectors s(t);
        while (end - q >= 16) {
            const unsigned mask = s.mask16(q);
            if (mask != 0) {
                q += __builtin_ctz(mask);
                goto found;
            }
            q += 16;
        }
    }
#endif
    while (q < end && cls[*q] == ORD)
        ++q;
    if (q == end)
        return nullptr;
#if defined(__SSE2__)
found:
#endif
    *q_out = q;
    return settle_ending(cls, p, q, end, result);
}

// ---- Inputs ---------------------------------------------------------------------

// A stdio stream as the per-call functions read it.  On glibc: a private
// copy of the stream's read pointer and the end of its buffered bytes,
// handed back (store) before every stdio call and on return.
struct FileInput {
    FILE *fp;
    const unsigned char *p = nullptr;
    const unsigned char *end = nullptr;

    explicit FileInput(FILE *f) : fp(f) { load(); }

    void load()
    {
#if defined(__GLIBC__)
        p = reinterpret_cast<const unsigned char *>(fp->_IO_read_ptr);
        end = reinterpret_cast<const unsigned char *>(fp->_IO_read_end);
#endif
    }

    void store()
    {
#if defined(__GLIBC__)
        if (p != nullptr)
            fp->_IO_read_ptr = reinterpret_cast<char *>(const_cast<unsigned char *>(p));
#endif
    }

    bool buffered() const { return p < end; }

    int next() { return p < end ? *p++ : refill(); }

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
};

// Reads up to room bytes of the pass reader's stream into dst: the one
// place that takes bytes from stdio for it.  Bytes that stdio holds already
// come first; then, where the stream has a descriptor, straight read(2)s of
// whatever is there (so that a pipe's lines flow as they come); otherwise
// fread.  Returns 0 only at the end of input or on an error (kept in
// r->error).
size_t read_some(xt_dsv_reader_t *r, unsigned char *dst, size_t room)
{
    if (r->source != nullptr)
        return r->source->read(r->source->ctx, dst, room, &r->error);
    FILE *fp = r->stream;
#if defined(__GLIBC__)
    const size_t held = static_cast<size_t>(fp->_IO_read_end - fp->_IO_read_ptr);
    if (fp->_IO_read_ptr < fp->_IO_read_end) {
        const size_t n = std::min(held, room);
        std::memcpy(dst, fp->_IO_read_ptr, n);
        fp->_IO_read_ptr += n;
        return n;
    }
    // Characters put back with ungetc live in a second area of stdio's:
    // a getc takes the last of them and goes back to the main one.
    constexpr int in_backup = 0x100; // glibc's _IO_IN_BACKUP
    if ((fp->_flags & in_backup) != 0) {
        const int c = getc_unlocked(fp);
        if (c != EOF) {
            dst[0] = static_cast<unsigned char>(c);
            return 1;
        }
    }
    const int fd = fileno(fp);
    if (fd >= 0) {
        if (std::feof(fp) || std::ferror(fp))
            return 0;
        for (;;) {
            const ssize_t n = read(fd, dst, room);
            if (n > 0)
                return static_cast<size_t>(n);
            if (n == 0)
                return 0;
            if (errno != EINTR) {
                r->error = errno;
                return 0;
            }
        }
    }
#endif
    errno = 0;
    const size_t n = std::fread(dst, 1, room, fp);
    if (n == 0 && std::ferror(fp))
        r->error = errno != 0 ? errno : EIO;
    return n;
}

// ---- The pass reader's buffer ---------------------------------------------------

// Head room before the data, for characters put back.
constexpr size_t HEAD = 64;
constexpr size_t DEFAULT_CAPACITY = size_t{1} << 17;

// The buffer, kept from one reader to the next on its thread (passes over
// parts of one input run on threads of their own), given back when the
// thread ends.
struct reader_buffer_t {
    unsigned char *bytes = nullptr;
    size_t size = 0;
    ~reader_buffer_t() { xt_free(bytes); }
};
thread_local reader_buffer_t reader_buffer;

inline unsigned char *data_start(xt_dsv_reader_t *r) { return r->base + HEAD; }

// Takes the stop bits of the 64 bytes from p on.
inline void rescan(xt_dsv_reader_t *r)
{
    r->pos.block = r->pos.p;
    r->pos.stops = stop_bits(r->table, r->pos.p, static_cast<size_t>(r->pos.end - r->pos.p));
}

// Moves the read position on to p, within the bytes read.
inline void move_to(xt_dsv_reader_t *r, const unsigned char *p)
{
    r->pos.p = p;
    const size_t off = static_cast<size_t>(p - r->pos.block);
    if (off < 64)
        r->pos.stops &= ~uint64_t{0} << off;
    else
        rescan(r);
}

// Keeps the unread bytes, moved to the front, and reads more after them.
// False when nothing more came: the end of input, a read error, or a
// buffer that one field fills whole.
bool fill(xt_dsv_reader_t *r)
{
    if (r->at_eof)
        return false;
    const size_t keep = static_cast<size_t>(r->pos.end - r->pos.p);
    if (keep >= r->capacity)
        return false;
    unsigned char *data = data_start(r);
    if (r->pos.p != data)
        std::memmove(data, r->pos.p, keep);
    unsigned char *end = data + keep;
    const size_t got = read_some(r, end, r->capacity - keep);
    if (got == 0)
        r->at_eof = true;
    end += got;
    std::memset(end, 0, XT_DSV_PAD);
    r->pos.p = data;
    r->pos.end = end;
    rescan(r);
    return got != 0;
}

// The pass reader's bytes as the general reader takes them.
struct BufferInput {
    xt_dsv_reader_t *r;
    const unsigned char *p;
    const unsigned char *end;

    explicit BufferInput(xt_dsv_reader_t *reader)
        : r(reader), p(reader->pos.p), end(reader->pos.end) {}

    bool buffered() const { return p < end; }

    int next() { return p < end ? *p++ : refill(); }

    int refill()
    {
        r->pos.p = p;
        const bool more = fill(r);
        p = r->pos.p;
        end = r->pos.end;
        return more ? *p++ : EOF;
    }

    void unget(int c)
    {
        if (p > r->base && p[-1] == c)
            --p;
        else
            push(c);
    }

    // The head room and the bytes already read are the reader's own.
    void push(int c)
    {
        --p;
        *const_cast<unsigned char *>(p) = static_cast<unsigned char>(c);
    }

    void store() { r->pos.p = p; }
};

// Takes a UTF-8 byte order mark off the start of the input, once.
void skip_bom(xt_dsv_reader_t *r)
{
    r->bom_pending = false;
    BufferInput in(r);
    static const unsigned char bom[3] = {0xEF, 0xBB, 0xBF};
    int got[3];
    int n = 0;
    while (n < 3 && (got[n] = in.next()) == bom[n])
        ++n;
    if (n < 3) {
        // Not a mark: every byte read goes back, in order.
        if (got[n] != EOF)
            in.unget(got[n]);
        while (n > 0)
            in.unget(got[--n]);
    }
    in.store();
    rescan(r);
}

// Appends the len bytes at from (readable XT_DSV_PAD bytes further) to the
// side buffer, which holds n bytes (the field's length so far, of which
// XT_DSV_FIELD_MAX are kept).
inline void append_field(xt_dsv_reader_t *r, size_t &n,
                         const unsigned char *from, size_t len)
{
    if (n + len + 16 <= XT_DSV_FIELD_MAX) {
        for (size_t i = 0; i < len; i += 16) // short runs: whole vectors
            std::memcpy(r->field + n + i, from + i, 16);
    } else if (n < XT_DSV_FIELD_MAX) {
        std::memcpy(r->field + n, from, std::min(len, XT_DSV_FIELD_MAX - n));
    }
    n += len;
}

// The quoted field that starts at r->pos.p, when it and what ends it lie
// in the bytes read: handed out where it lies, or, when it holds doubled
// quotes, unescaped into the side buffer (unless skip: then its text is
// not wanted).  Its quotes are found over the stop bits, 64 bytes at a
// time.  Stores what ended it in *result.  False when only the general
// reader can tell: the field or its ending runs past the bytes read, or
// text follows the closing quote.
bool quoted_in_buffer(xt_dsv_reader_t *r, int *result, bool skip)
{
    const Table &t = r->table;
    const unsigned char *const open = r->pos.p;
    const unsigned char *const end = r->pos.end;
    // The stop bits of base's 64 bytes after the opening quote: those at
    // hand when they start with it.
    const unsigned char *base;
    uint64_t bits;
    if (r->pos.stops != 0 &&
        r->pos.block + __builtin_ctzll(r->pos.stops) == open) {
        base = r->pos.block;
        bits = r->pos.stops & (r->pos.stops - 1);
    } else {
        base = open;
        bits = stop_bits(t, base, static_cast<size_t>(end - base)) & ~uint64_t{1};
    }
    const unsigned char *from = open + 1; // the content not yet taken
    const unsigned char *close;
    size_t n = 0;
    bool copied = false;
    for (;;) {
        while (bits == 0) {
            base += 64;
            if (base >= end)
                return false;
            bits = stop_bits(t, base, static_cast<size_t>(end - base));
        }
        const unsigned char *c = base + __builtin_ctzll(bits);
        bits &= bits - 1;
        if (*c != '"')
            continue;
        if (end - c < 2)
            return false;
        if (c[1] != '"') {
            close = c;
            break;
        }
        // A doubled quote: one quote of it is the field's.
        if (!skip)
            append_field(r, n, from, static_cast<size_t>(c + 1 - from));
        copied = true;
        from = c + 2;
        if (c + 1 - base < 64) {
            bits &= bits - 1;
        } else {
            base += 64;
            bits = stop_bits(t, base, static_cast<size_t>(end - base)) & ~uint64_t{1};
        }
    }
    const unsigned char *next = settle_ending(t.cls + 1, close, close + 1, end, result);
    if (next == nullptr)
        return false;
    if (copied && !skip) {
        append_field(r, n, from, static_cast<size_t>(close - from));
        r->field[std::min(n, XT_DSV_FIELD_MAX)] = '\0';
        r->out = r->field;
        r->out_len = n;
    } else {
        r->out = reinterpret_cast<const char *>(open + 1);
        r->out_len = static_cast<size_t>(close - open - 1);
    }
    r->pos.block = base;
    r->pos.stops = bits;
    move_to(r, next);
    return true;
}

// ---- The general reader ---------------------------------------------------------

// Appends the run of ordinary bytes that starts at the read position to buf
// (up to keep bytes in all) and counts it in n; returns the byte that ends
// the run, or EOF.
template <class In>
int take_run(In &in, const unsigned char *cls, char *buf, size_t keep,
             size_t &n)
{
    for (;;) {
        const unsigned char *q = in.p;
        while (q < in.end && cls[*q] == ORD)
            ++q;
        const size_t run = static_cast<size_t>(q - in.p);
        if (run != 0 && n < keep)
            std::memcpy(buf + n, in.p, run < keep - n ? run : keep - n);
        n += run;
        in.p = q;
        if (in.p < in.end)
            return *in.p++;
        const int c = in.refill();
        if (cls[c] != ORD)
            return c;
        if (n < keep)
            buf[n] = static_cast<char>(c);
        ++n;
    }
}

// After a delimiter: when nothing follows, the line still holds one more
// (empty) field, so a newline is put back for the next call to end it.
template <class In> void close_line_at_end(In &in)
{
    if (in.buffered())
        return;
    const int d = in.next();
    if (d == EOF)
        in.push('\n');
    else
        in.unget(d);
}

// The whole reader: any field, any input, any state of its buffer.
template <class In>
int general_field(In &in, const Table &t, char *buf, size_t size, size_t *len)
{
    const unsigned char *cls = t.cls + 1;
    const size_t keep = size != 0 ? size - 1 : 0;
    size_t n = 0;
    bool consumed = false; // anything read by this call, spaces included
    int result;

    bool closed = false; // a quoted field's closing quote was read
    int c = in.next();
    if (t.spaces) {
        while (c == ' ') {
            consumed = true;
            c = in.next();
        }
    }
    if (cls[c] == QUOTE) {
        // The quoted part: everything up to the closing quote, a doubled
        // quote standing for one.
        for (;;) {
            c = in.next();
            if (c == EOF) {
                result = XT_DSV_UNCLOSED_QUOTE;
                goto done;
            }
            if (c == '"') {
                c = in.next();
                if (c != '"')
                    break;
            }
            if (n < keep)
                buf[n] = static_cast<char>(c);
            ++n;
        }
        closed = true;
        consumed = true;
    }
    for (;;) {
        if (cls[c] == ORD) {
            if (closed) {
                result = XT_DSV_TEXT_AFTER_QUOTE;
                goto done;
            }
            if (n < keep)
                buf[n] = static_cast<char>(c);
            ++n;
            c = take_run(in, cls, buf, keep, n);
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
            if (closed) {
                result = XT_DSV_TEXT_AFTER_QUOTE;
                goto done;
            }
            if (n < keep)
                buf[n] = '\r';
            ++n;
            c = in.next();
            continue;
        }
        case QUOTE: // inside a field that did not start with one: a byte
            if (closed) {
                result = XT_DSV_TEXT_AFTER_QUOTE;
                goto done;
            }
            if (n < keep)
                buf[n] = '"';
            ++n;
            c = in.next();
            continue;
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

// ---- Tables -----------------------------------------------------------------------

void xt_dsv_table_build(xt_dsv_table_t *t, const char *delims, bool quotes)
{
    for (unsigned char &c : t->cls)
        c = ORD;
    t->cr_delim = false;
    for (const char *p = delims; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        t->cls[c + 1] = c == ' ' ? SPACE : DELIM;
        if (c == '\r')
            t->cr_delim = true;
    }
    t->spaces = t->cls[' ' + 1] == SPACE;
    t->cls['\n' + 1] = NL;
    t->cls['\r' + 1] = CR;
    t->cls[0] = END;
    t->quotes = quotes && t->cls['"' + 1] == ORD;
    if (t->quotes)
        t->cls['"' + 1] = QUOTE;
    int stops = 0;
    t->wide_scan = true;
    for (int c = 0; c < 256; ++c) {
        if (t->cls[c + 1] == ORD)
            continue;
        if (stops == 4) {
            t->wide_scan = false;
            break;
        }
        t->stops[stops++] = static_cast<unsigned char>(c);
    }
    for (int i = stops; i < 4; ++i)
        t->stops[i] = t->stops[0]; // '\n' is always among them
}

// ---- The per-call functions of xt.h ------------------------------------------------

int xt_dsv_read_field(FILE *fp, char *buf, size_t size, const char *delims,
                      size_t *len)
{
    const Table &t = table_for(delims);
    FileInput in(fp);
    if (in.buffered()) {
        const unsigned char *q;
        int result;
        const unsigned char *next = buffered_field(t, in.p, in.end, &q, &result);
        if (next != nullptr) {
            const size_t n = static_cast<size_t>(q - in.p);
            if (size != 0) {
                const size_t kept = std::min(n, size - 1);
                std::memcpy(buf, in.p, kept);
                buf[kept] = '\0';
            }
            *len = n;
            in.p = next;
            in.store();
            return result;
        }
    }
    return general_field(in, t, buf, size, len);
}

int xt_dsv_skip_fields(FILE *fp, const char *delims, size_t count,
                       size_t *skipped)
{
    const Table &t = table_for(delims);
    FileInput in(fp);
    size_t done = 0;
    int result = -1;
    while (done < count) {
        const unsigned char *next = nullptr;
        if (in.buffered()) {
            const unsigned char *q;
            next = buffered_field(t, in.p, in.end, &q, &result);
        }
        if (next != nullptr) {
            in.p = next;
        } else {
            char scratch[64];
            size_t len;
            result = general_field(in, t, scratch, sizeof scratch, &len);
            if (result == -1)
                break;
        }
        ++done;
        if (result == '\n')
            break;
    }
    in.store();
    *skipped = done;
    return result;
}

int xt_dsv_skip_line(FILE *fp)
{
    FileInput in(fp);
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

// ---- The pass reader -------------------------------------------------------------

namespace {
FILE *source_stream = nullptr;
const xt_dsv_source_t *stream_source = nullptr;
} // namespace

void xt_dsv_set_source(FILE *stream, const xt_dsv_source_t *source)
{
    source_stream = source != nullptr ? stream : nullptr;
    stream_source = source;
}

xt_dsv_pos_t xt_dsv_reader_open(xt_dsv_reader_t *r, FILE *stream,
                                const char *delims, size_t capacity,
                                unsigned flags, const xt_dsv_source_t *source)
{
    r->stream = stream;
    r->source = source != nullptr          ? source
                : stream == source_stream ? stream_source
                                          : nullptr;
    xt_dsv_table_build(&r->table, delims, (flags & XT_DSV_QUOTES) != 0);
    r->bom_pending = (flags & XT_DSV_SKIP_BOM) != 0;
    r->capacity = capacity != 0 ? capacity : DEFAULT_CAPACITY;
    const size_t need = HEAD + r->capacity + XT_DSV_PAD;
    if (need > reader_buffer.size) {
        reader_buffer.bytes = static_cast<unsigned char *>(
            xt_realloc(reader_buffer.bytes, need, 1));
        reader_buffer.size = need;
    }
    r->base = reader_buffer.bytes;
    r->pos.p = r->pos.end = data_start(r);
    std::memset(data_start(r), 0, XT_DSV_PAD);
    r->at_eof = false;
    r->error = 0;
#if defined(__SSE2__)
    for (int i = 0; i < 4; ++i)
        r->stop_vec[i] = _mm_set1_epi8(static_cast<char>(r->table.stops[i]));
#endif
    rescan(r);
    return r->pos;
}

int xt_dsv_reader_next_slow(xt_dsv_reader_t *r, bool skip)
{
    if (r->bom_pending)
        skip_bom(r);
    int result;
    if (r->table.quotes && r->pos.p < r->pos.end && *r->pos.p == '"' &&
        quoted_in_buffer(r, &result, skip))
        return result;
    const unsigned char *cls = r->table.cls + 1;
    if (r->table.wide_scan) {
        for (;;) {
            if (r->pos.stops == 0) {
                // On to the next block with a stop byte in it.
                const unsigned char *b = r->pos.block + 64;
                while (b < r->pos.end) {
                    const uint64_t bits = stop_bits(
                        r->table, b, static_cast<size_t>(r->pos.end - b));
                    if (bits != 0) {
                        r->pos.block = b;
                        r->pos.stops = bits;
                        break;
                    }
                    b += 64;
                }
                if (r->pos.stops == 0) {
                    // The field runs to the end of the bytes read.
                    if (fill(r))
                        continue;
                    break;
                }
            }
            const unsigned char *p = r->pos.p;
            const unsigned char *q = r->pos.block + __builtin_ctzll(r->pos.stops);
            if (cls[*q] == QUOTE) {
                if (q != p) {
                    // A quote inside the field is one of its bytes.
                    r->pos.stops &= r->pos.stops - 1;
                    continue;
                }
                if (quoted_in_buffer(r, &result, skip))
                    return result;
                break;
            }
            const unsigned char *next = settle_ending(cls, p, q, r->pos.end, &result);
            if (next != nullptr) {
                move_to(r, next);
                r->out = reinterpret_cast<const char *>(p);
                r->out_len = static_cast<size_t>(q - p);
                return result;
            }
            // Unsettled where more bytes may settle it: read them.
            const bool at_edge =
                r->pos.end - q <= 2 ||
                (cls[*q] == SPACE && q != p &&
                 std::all_of(q, r->pos.end, [](unsigned char c) { return c == ' '; }));
            if (at_edge && fill(r))
                continue;
            break;
        }
    }
    BufferInput in(r);
    result = general_field(in, r->table, r->field,
                                     XT_DSV_FIELD_MAX + 1, &r->out_len);
    rescan(r);
    r->out = r->field;
    return result;
}

int xt_dsv_reader_skip_line_slow(xt_dsv_reader_t *r)
{
    if (r->bom_pending)
        skip_bom(r);
    if (r->table.quotes) {
        // Field by field: a newline inside quotes ends no line.
        rescan(r);
        xt_dsv_pos_t at = r->pos;
        int result;
        const char *field;
        size_t len;
        do
            result = xt_dsv_reader_next(r, &at, &field, &len);
        while (result >= 0 && result != '\n');
        r->pos = at;
        return result;
    }
    int result = '\n';
    for (;;) {
        const size_t avail = static_cast<size_t>(r->pos.end - r->pos.p);
        const void *nl = std::memchr(r->pos.p, '\n', avail);
        if (nl != nullptr) {
            move_to(r, static_cast<const unsigned char *>(nl) + 1);
            break;
        }
        r->pos.p = r->pos.end;
        if (!fill(r)) {
            result = -1;
            break;
        }
    }
    return result;
}

const char *xt_dsv_reader_text(xt_dsv_reader_t *r, const char *field,
                               size_t len)
{
    if (field == r->field)
        return field;
    const size_t n = std::min(len, XT_DSV_FIELD_MAX);
    std::memmove(r->field, field, n);
    r->field[n] = '\0';
    return r->field;
}
