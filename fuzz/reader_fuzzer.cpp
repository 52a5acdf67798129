// Fuzz target: the pass's field reader (xt-dsv.h) against the plain
// reference grammar (tests/dsv_reference.h), field by field: random
// delimiter sets, quoted or not, buffer capacities and stdio buffers that
// split fields and line ends anywhere, and skips of fields and lines
// between fields.  A difference is a finding (abort).
//
// Input layout:
//   byte 0   bits 0-2: the reader's capacity (0 is the default, otherwise
//            1, 2, 3, 5, 8, 64 or 4096 bytes); bit 3: quoted fields;
//            bits 4-6: the stdio buffer (as the capacity)
//   byte 1   bits 0-2: length of the delimiter set; bit 3: the default set
//            " \t" instead
//   bytes 2-3  what is done after each field, cycled: five actions of 3
//            bits each (nothing, skip the line, skip 0, 1 or 3 fields)
//   then     the delimiter set (stops at a NUL byte like any C string)
//   rest     the input
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dsv_reference.h"
#include "xt-dsv.h"

namespace {

const size_t kSizes[] = {0, 1, 2, 3, 5, 8, 64, 4096};

enum Action { NOTHING, SKIP_LINE, SKIP_0, SKIP_1, SKIP_3 };

struct Field {
    std::string text;
    int end;
    size_t len;
    bool operator==(const Field &o) const
    {
        return text == o.text && end == o.end && len == o.len;
    }
};

struct Script {
    std::string input;
    std::string delims;
    size_t capacity;
    size_t stdio_buffer;
    bool quotes;
    Action actions[5];
};

FILE *open_input(std::string &copy, std::vector<char> &iobuf, size_t stdio)
{
    FILE *f = copy.empty() ? std::fopen("/dev/null", "r")
                           : fmemopen(copy.data(), copy.size(), "r");
    if (f != nullptr && stdio != 0)
        std::setvbuf(f, iobuf.data(), _IOFBF, stdio);
    return f;
}

size_t skip_count(Action a) { return a == SKIP_0 ? 0 : a == SKIP_1 ? 1 : 3; }

// The reference: fields read one by one, skips done by reading.
std::vector<Field> run_reference(const Script &s)
{
    reference::quotes = s.quotes;
    std::string copy = s.input;
    std::vector<char> iobuf(s.stdio_buffer + 1);
    FILE *f = open_input(copy, iobuf, s.stdio_buffer);
    std::vector<Field> out;
    if (f == nullptr)
        std::abort();
    std::vector<char> buf(XT_DSV_FIELD_MAX + 32);
    const size_t size = XT_DSV_FIELD_MAX + 1;
    const char *d = s.delims.c_str();
    size_t len = 0;
    for (size_t i = 0;; ++i) {
        const int end = reference::read_field(f, buf.data(), size, d, &len);
        if (end == -1)
            break;
        if (end < -1) {
            out.push_back({"<fault>", end, 0});
            break;
        }
        out.push_back({std::string(buf.data()), end, len});
        const Action a = s.actions[i % 5];
        if (a == SKIP_0 || a == SKIP_1 || a == SKIP_3) {
            size_t skipped = 0;
            int e = -1;
            while (skipped < skip_count(a)) {
                e = reference::read_field(f, buf.data(), size, d, &len);
                if (e < 0)
                    break;
                ++skipped;
                if (e == '\n')
                    break;
            }
            out.push_back({"<skip>", e, skipped});
            if (e < -1)
                break;
        } else if (a == SKIP_LINE && end != '\n') {
            out.push_back({"<skip>", 0, 0});
            int e;
            while ((e = reference::read_field(f, buf.data(), size, d, &len)) >=
                       0 &&
                   e != '\n') {
            }
            if (e < -1) {
                out.push_back({"<fault>", e, 0});
                break;
            }
        }
    }
    std::fclose(f);
    return out;
}

// The pass reader with its own buffer, over the same stream after a
// character taken and put back (stdio holds bytes when it starts).
std::vector<Field> run_reader(const Script &s)
{
    std::string copy = s.input;
    std::vector<char> iobuf(s.stdio_buffer + 1);
    FILE *f = open_input(copy, iobuf, s.stdio_buffer);
    if (f == nullptr)
        std::abort();
    const int c = std::getc(f);
    if (c != EOF)
        std::ungetc(c, f);
    static xt_dsv_reader_t r;
    xt_dsv_pos_t pos = xt_dsv_reader_open(&r, f, s.delims.c_str(), s.capacity,
                                          s.quotes ? XT_DSV_QUOTES : 0u);
    std::vector<Field> out;
    for (size_t i = 0;; ++i) {
        const char *field;
        size_t len;
        const int end = xt_dsv_reader_next(&r, &pos, &field, &len);
        if (end == -1)
            break;
        if (end < -1) {
            out.push_back({"<fault>", end, 0});
            break;
        }
        out.push_back({xt_dsv_reader_text(&r, field, len), end, len});
        const Action a = s.actions[i % 5];
        if (a == SKIP_0 || a == SKIP_1 || a == SKIP_3) {
            size_t skipped = 0;
            const int e =
                xt_dsv_reader_skip_fields(&r, &pos, skip_count(a), &skipped);
            out.push_back({"<skip>", e, skipped});
            if (e < -1)
                break;
        } else if (a == SKIP_LINE && end != '\n') {
            out.push_back({"<skip>", 0, 0});
            const int e = xt_dsv_reader_skip_line(&r, &pos);
            if (e < -1) {
                out.push_back({"<fault>", e, 0});
                break;
            }
        }
    }
    if (r.error != 0)
        std::abort();
    std::fclose(f);
    return out;
}

void show(const char *what, const std::vector<Field> &v, size_t at)
{
    std::fprintf(stderr, "%s: ", what);
    if (at >= v.size()) {
        std::fprintf(stderr, "<none>\n");
        return;
    }
    std::fprintf(stderr, "\"");
    for (unsigned char ch : v[at].text)
        std::fprintf(stderr, ch >= 32 && ch < 127 ? "%c" : "\\x%02x", ch);
    std::fprintf(stderr, "\" end %d len %zu\n", v[at].end, v[at].len);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    Script s;
    s.capacity = kSizes[data[0] & 7];
    s.quotes = (data[0] & 8) != 0;
    s.stdio_buffer = kSizes[(data[0] >> 4) & 7];
    const size_t delims_len = data[1] & 7;
    const unsigned acts = data[2] | unsigned{data[3]} << 8;
    for (int k = 0; k < 5; ++k)
        s.actions[k] = static_cast<Action>(((acts >> (3 * k)) & 7) % 5);
    if (size < 4 + delims_len)
        return 0;
    s.delims = data[1] & 8
                   ? std::string(" \t")
                   : std::string(reinterpret_cast<const char *>(data + 4),
                                 delims_len)
                         .c_str();
    s.input.assign(reinterpret_cast<const char *>(data + 4 + delims_len),
                   size - 4 - delims_len);
    const auto want = run_reference(s);
    const auto got = run_reader(s);
    if (got == want)
        return 0;
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    std::fprintf(stderr, "reader: first difference at field %zu\n", i);
    for (size_t k = 0; k < i; ++k)
        show("both", got, k);
    show("reader", got, i);
    show("reference", want, i);
    std::abort();
}
