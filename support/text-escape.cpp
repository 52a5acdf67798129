// Input text for messages: control bytes and broken UTF-8 escaped, long
// text cut.
#include "text-escape.h"

namespace {

// The length of the valid UTF-8 character at p (n bytes available), or 0:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t utf8_length(const unsigned char *p, size_t n)
{
    const unsigned char c = p[0];
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return len;
}

char *put_hex(char *o, unsigned char c)
{
    static const char digits[] = "0123456789abcdef";
    *o++ = '\\';
    *o++ = 'x';
    *o++ = digits[c >> 4];
    *o++ = digits[c & 15];
    return o;
}

} // namespace

const char *xt_escape_text(const char *text, size_t len, char *out)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    char *o = out;
    size_t i = 0;
    while (i < len) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            if (i + 1 > XT_ESCAPE_KEEP)
                break;
            *o++ = static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t avail = len - i < 4 ? len - i : 4;
        const size_t n = c >= 0x80 ? utf8_length(p + i, avail) : 0;
        const size_t step = n != 0 ? n : 1;
        if (i + step > XT_ESCAPE_KEEP)
            break;
        if (c == '\t' || c == '\n' || c == '\r') {
            *o++ = '\\';
            *o++ = c == '\t' ? 't' : c == '\n' ? 'n' : 'r';
        } else if (n == 0 || (c == 0xC2 && p[i + 1] < 0xA0)) {
            // A control byte, a stray byte, or a C1 control (U+0080-U+009F).
            for (size_t k = 0; k < step; ++k)
                o = put_hex(o, p[i + k]);
        } else {
            for (size_t k = 0; k < n; ++k)
                *o++ = static_cast<char>(p[i + k]);
        }
        i += step;
    }
    if (i < len) {
        *o++ = '.';
        *o++ = '.';
        *o++ = '.';
    }
    *o = '\0';
    return out;
}
