// The plain field reader, the reference that the fast readers are held
// to: it takes one character at a time from getc and does what xt.h and
// xt-dsv.h say, quoted fields (reference::quotes) included.  Shared by the
// reader tests and the reader's differential fuzz target.
#ifndef NUMTALLY_TESTS_DSV_REFERENCE_H
#define NUMTALLY_TESTS_DSV_REFERENCE_H

#include <cstdio>
#include <cstring>
#include <string>

#include "xt-dsv.h"
#include "xt.h"

namespace reference {

namespace {

// What a byte does to a field; EOF has a class of its own.
enum Cls : unsigned char {
    ORD,   // part of the field
    DELIM, // ends the field and is returned
    SPACE, // ends the field; a run of them is one delimiter
    NL,    // ends the line
    CR,    // ends the line when LF or the end of input follows
    END,   // end of input
    QUOTE, // opens a quoted field (quoted mode)
};

// Quoted mode: a field that starts with '"' runs to its closing quote.
bool quotes = false;

struct Table {
    std::string delims;     // the delimiter string this table was built for
    bool quotes;
    unsigned char cls[257]; // indexed by character + 1, so that EOF is 0
    bool spaces;            // space is a delimiter
    bool cr_delim;          // CR not followed by LF is a delimiter
};

const Table &table_for(const char *delims)
{
    static Table t;
    static bool built = false;
    if (built && t.delims == delims && t.quotes == quotes)
        return t;
    t.delims = delims;
    t.quotes = quotes;
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
    if (quotes && t.cls['"' + 1] == ORD)
        t.cls['"' + 1] = QUOTE;
    built = true;
    return t;
}

inline int next(FILE *fp) { return getc_unlocked(fp); }

// Puts back c, the character just read.
inline void unget(FILE *fp, int c)
{
#if defined(__GLIBC__)
    if (fp->_IO_read_ptr > fp->_IO_read_base &&
        static_cast<unsigned char>(fp->_IO_read_ptr[-1]) == c) {
        --fp->_IO_read_ptr;
        return;
    }
#endif
    std::ungetc(c, fp);
}

// After a delimiter: when nothing follows, the line still holds one more
// (empty) field, so a newline is put back for the next call to end it.
inline void close_line_at_end(FILE *fp)
{
#if defined(__GLIBC__)
    if (fp->_IO_read_ptr < fp->_IO_read_end)
        return;
#endif
    const int d = next(fp);
    if (d == EOF)
        std::ungetc('\n', fp);
    else
        unget(fp, d);
}

} // namespace

int read_field(FILE *fp, char *buf, size_t size, const char *delims,
                      size_t *len)
{
    const Table &t = table_for(delims);
    const unsigned char *cls = t.cls + 1;
    const size_t keep = size != 0 ? size - 1 : 0;
    size_t n = 0;
    bool consumed = false; // anything read by this call, spaces included
    int result;

    bool closed = false; // after the closing quote of a quoted field
    int c = next(fp);
    if (t.spaces) {
        while (c == ' ') {
            consumed = true;
            c = next(fp);
        }
    }
    if (cls[c] == QUOTE) {
        consumed = true;
        for (;;) {
            c = next(fp);
            if (c == EOF) {
                result = XT_DSV_UNCLOSED_QUOTE;
                goto done;
            }
            if (c == '"' && (c = next(fp)) != '"')
                break;
            if (n < keep)
                buf[n] = static_cast<char>(c);
            ++n;
        }
        closed = true;
    }
    for (;;) {
        // The common case first: a run of ordinary characters, a quote
        // among them when the field did not start with one.
        while (cls[c] == ORD || cls[c] == QUOTE) {
            if (closed) {
                result = XT_DSV_TEXT_AFTER_QUOTE;
                goto done;
            }
            if (n < keep)
                buf[n] = static_cast<char>(c);
            ++n;
            c = next(fp);
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
            const int d = next(fp);
            if (d == '\n' || d == EOF) {
                result = '\n';
                goto done;
            }
            unget(fp, d);
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
            c = next(fp);
            continue;
        }
        case DELIM:
            result = c;
            goto delimited;
        case SPACE: {
            // Swallow the run; what follows it decides what ended the field.
            do
                c = next(fp);
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
                const int d = next(fp);
                if (d == '\n' || d == EOF) {
                    result = '\n';
                    goto done;
                }
                unget(fp, d);
                if (t.cr_delim) {
                    result = '\r';
                    goto delimited;
                }
                std::ungetc('\r', fp);
                result = ' ';
                goto done;
            }
            default:
                unget(fp, c);
                result = ' ';
                goto done;
            }
        }
        }
    }

delimited:
    close_line_at_end(fp);
done:
    if (size != 0)
        buf[n < keep ? n : keep] = '\0';
    *len = n;
    return result;
}

} // namespace reference

#endif
