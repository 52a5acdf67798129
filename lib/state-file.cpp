#include "state-file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <sysexits.h>

#include "exact-sums.h"

namespace {

// The preamble: what the file is, then the version (u32).
constexpr char kMagic[16] = {'n', 'u', 'm', 't', 'a', 'l', 'l', 'y',
                             '-', 's', 't', 'a', 't', 'e', '\n', '\0'};
constexpr size_t kFrameMax = size_t{1} << 20;

struct crc_table_t {
    uint32_t t[8][256];
    crc_table_t()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};

const crc_table_t &crc_table()
{
    static const crc_table_t table;
    return table;
}

void put_le(unsigned char *p, uint64_t v, int n)
{
    for (int k = 0; k < n; ++k)
        p[k] = static_cast<unsigned char>(v >> (8 * k));
}

uint64_t get_le(const unsigned char *p, int n)
{
    uint64_t v = 0;
    for (int k = 0; k < n; ++k)
        v |= uint64_t{p[k]} << (8 * k);
    return v;
}

} // namespace

uint32_t tally_crc32(uint32_t crc, const void *data, size_t n)
{
    const crc_table_t &c = crc_table();
    const unsigned char *p = static_cast<const unsigned char *>(data);
    crc = ~crc;
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t a = crc ^ static_cast<uint32_t>(get_le(p, 4));
        const uint32_t b = static_cast<uint32_t>(get_le(p + 4, 4));
        crc = c.t[7][a & 0xFF] ^ c.t[6][(a >> 8) & 0xFF] ^
              c.t[5][(a >> 16) & 0xFF] ^ c.t[4][a >> 24] ^
              c.t[3][b & 0xFF] ^ c.t[2][(b >> 8) & 0xFF] ^
              c.t[1][(b >> 16) & 0xFF] ^ c.t[0][b >> 24];
    }
    for (; n != 0; --n, ++p)
        crc = c.t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

tally_state_writer_t::tally_state_writer_t(FILE *out) : out_(out)
{
    frame_.reserve(kFrameMax + 8);
    frame_.resize(4);
}

void tally_state_writer_t::write_frame(const unsigned char *p, size_t n)
{
    unsigned char head[4], crc[4];
    put_le(head, n, 4);
    put_le(crc, tally_crc32(tally_crc32(0, head, 4), p, n), 4);
    std::fwrite(head, 1, 4, out_);
    std::fwrite(p, 1, n, out_);
    std::fwrite(crc, 1, 4, out_);
}

void tally_state_writer_t::flush_frame()
{
    if (!started_) {
        unsigned char version[4];
        put_le(version, TALLY_STATE_VERSION, 4);
        std::fwrite(kMagic, 1, sizeof kMagic, out_);
        std::fwrite(version, 1, sizeof version, out_);
        started_ = true;
    }
    const size_t n = frame_.size() - 4;
    put_le(frame_.data(), n, 4);
    unsigned char crc[4];
    put_le(crc, tally_crc32(0, frame_.data(), frame_.size()), 4);
    frame_.insert(frame_.end(), crc, crc + 4);
    std::fwrite(frame_.data(), 1, frame_.size(), out_);
    frame_.resize(4);
}

void tally_state_writer_t::bytes(const void *p, size_t n)
{
    const unsigned char *b = static_cast<const unsigned char *>(p);
    while (n != 0) {
        if (frame_.size() == 4 && n >= kFrameMax && started_) {
            // A whole frame's worth: written from where it is.
            write_frame(b, kFrameMax);
            b += kFrameMax;
            n -= kFrameMax;
            continue;
        }
        const size_t room = kFrameMax - (frame_.size() - 4);
        const size_t take = n < room ? n : room;
        frame_.insert(frame_.end(), b, b + take);
        b += take;
        n -= take;
        if (frame_.size() - 4 == kFrameMax)
            flush_frame();
    }
}

void tally_state_writer_t::u32(uint32_t v)
{
    unsigned char b[4];
    put_le(b, v, 4);
    bytes(b, 4);
}

void tally_state_writer_t::u64(uint64_t v)
{
    unsigned char b[8];
    put_le(b, v, 8);
    bytes(b, 8);
}

void tally_state_writer_t::f64(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    u64(bits);
}

void tally_state_writer_t::f64s(const double *v, uint64_t n)
{
    if constexpr (std::endian::native == std::endian::little) {
        bytes(v, n * sizeof(double));
    } else {
        for (uint64_t i = 0; i < n; ++i)
            f64(v[i]);
    }
}

void tally_state_writer_t::str(const std::string &s)
{
    u32(static_cast<uint32_t>(s.size()));
    bytes(s.data(), s.size());
}

bool tally_state_writer_t::finish(const char *name, tally_error_t *err)
{
    if (frame_.size() > 4)
        flush_frame();
    flush_frame(); // the end frame: no bytes
    errno = 0;
    if (std::fflush(out_) != 0 || std::ferror(out_)) {
        const int e = errno != 0 ? errno : EIO;
        return tally_fail(err, EX_IOERR,
                          std::string("numtally: ") + name +
                              ": write error: " + std::strerror(e) + "\n");
    }
    return true;
}

tally_state_reader_t::tally_state_reader_t(FILE *in, std::string name)
    : in_(in), name_(std::move(name))
{
}

bool tally_state_reader_t::fail(tally_error_t *err, const std::string &what)
{
    return tally_fail(err, EX_DATAERR,
                      "numtally: " + name_ + ": " + what + "\n");
}

bool tally_state_reader_t::bad(tally_error_t *err, const char *what)
{
    return fail(err, std::string("corrupted state file (") + what + ")");
}

bool tally_state_reader_t::mismatch(tally_error_t *err,
                                    const std::string &what)
{
    return fail(err, "state of another run: " + what);
}

bool tally_state_reader_t::open(tally_error_t *err)
{
    unsigned char pre[sizeof kMagic + 4];
    const size_t got = std::fread(pre, 1, sizeof pre, in_);
    if (std::ferror(in_))
        return tally_fail_io(err, name_.c_str(), errno);
    if (got < sizeof kMagic || std::memcmp(pre, kMagic, sizeof kMagic) != 0)
        return fail(err, "not a numtally state file");
    if (got < sizeof pre)
        return fail(err, "truncated state file");
    const uint64_t version = get_le(pre + sizeof kMagic, 4);
    if (version != TALLY_STATE_VERSION)
        return fail(err, "state file version " + std::to_string(version) +
                             ", this numtally reads version " +
                             std::to_string(TALLY_STATE_VERSION));
    return true;
}

// A frame's length.
bool tally_state_reader_t::frame_head(uint64_t *n, tally_error_t *err)
{
    if (ended_)
        return bad(err, "data past its end");
    unsigned char head[4];
    const size_t got = std::fread(head, 1, 4, in_);
    if (std::ferror(in_))
        return tally_fail_io(err, name_.c_str(), errno);
    if (got < 4)
        return fail(err, "truncated state file");
    *n = get_le(head, 4);
    if (*n > kFrameMax)
        return bad(err, "checksum");
    return true;
}

// Its n bytes, read to to, and its checksum checked.
bool tally_state_reader_t::frame_body(unsigned char *to, uint64_t n,
                                      tally_error_t *err)
{
    unsigned char tail[4], head[4];
    const size_t body = std::fread(to, 1, static_cast<size_t>(n), in_);
    const size_t got = body == n ? std::fread(tail, 1, 4, in_) : 0;
    if (std::ferror(in_))
        return tally_fail_io(err, name_.c_str(), errno);
    if (body < n || got < 4)
        return fail(err, "truncated state file");
    put_le(head, n, 4);
    const uint32_t crc =
        tally_crc32(tally_crc32(0, head, 4), to, static_cast<size_t>(n));
    if (crc != get_le(tail, 4))
        return bad(err, "checksum");
    ended_ = n == 0;
    return true;
}

bool tally_state_reader_t::next_frame(tally_error_t *err)
{
    uint64_t n = 0;
    if (!frame_head(&n, err))
        return false;
    frame_.resize(static_cast<size_t>(n));
    at_ = 0;
    return frame_body(frame_.data(), n, err);
}

bool tally_state_reader_t::bytes(void *p, size_t n, tally_error_t *err)
{
    unsigned char *b = static_cast<unsigned char *>(p);
    while (n != 0) {
        if (at_ == frame_.size()) {
            if (!next_frame(err))
                return false;
            if (ended_)
                return bad(err, "ends early");
            continue;
        }
        const size_t take = std::min(n, frame_.size() - at_);
        std::memcpy(b, frame_.data() + at_, take);
        at_ += take;
        b += take;
        n -= take;
    }
    return true;
}

bool tally_state_reader_t::f64s(double *v, uint64_t n, tally_error_t *err)
{
    if constexpr (std::endian::native == std::endian::little) {
        unsigned char *b = reinterpret_cast<unsigned char *>(v);
        uint64_t left = n * sizeof(double);
        while (left != 0) {
            if (at_ == frame_.size() && !ended_ && left >= kFrameMax) {
                // A whole frame read where it goes, then checked.
                uint64_t len;
                if (!frame_head(&len, err))
                    return false;
                if (len <= left) {
                    if (!frame_body(b, len, err))
                        return false;
                    if (ended_)
                        return bad(err, "ends early");
                    b += len;
                    left -= len;
                    continue;
                }
                frame_.resize(static_cast<size_t>(len));
                at_ = 0;
                if (!frame_body(frame_.data(), len, err))
                    return false;
            }
            const size_t take = static_cast<size_t>(
                std::min<uint64_t>(left, at_ < frame_.size()
                                             ? frame_.size() - at_
                                             : left));
            if (!bytes(b, take, err))
                return false;
            b += take;
            left -= take;
        }
        return true;
    } else {
        for (uint64_t i = 0; i < n; ++i)
            if (!f64(&v[i], err))
                return false;
        return true;
    }
}

bool tally_state_reader_t::u8(uint8_t *v, tally_error_t *err)
{
    return bytes(v, 1, err);
}

bool tally_state_reader_t::u32(uint32_t *v, tally_error_t *err)
{
    unsigned char b[4];
    if (!bytes(b, 4, err))
        return false;
    *v = static_cast<uint32_t>(get_le(b, 4));
    return true;
}

bool tally_state_reader_t::u64(uint64_t *v, tally_error_t *err)
{
    unsigned char b[8];
    if (!bytes(b, 8, err))
        return false;
    *v = get_le(b, 8);
    return true;
}

bool tally_state_reader_t::f64(double *v, tally_error_t *err)
{
    uint64_t bits;
    if (!u64(&bits, err))
        return false;
    std::memcpy(v, &bits, sizeof bits);
    return true;
}

bool tally_state_reader_t::str(std::string *s, tally_error_t *err)
{
    uint32_t n;
    if (!u32(&n, err))
        return false;
    s->clear();
    // Read in frames' worth, so that a length the file cannot hold ends
    // as a truncated file rather than as a huge allocation.
    char buf[4096];
    while (n != 0) {
        const uint32_t take = n < sizeof buf ? n : sizeof buf;
        if (!bytes(buf, take, err))
            return false;
        s->append(buf, take);
        n -= take;
    }
    return true;
}

bool tally_state_reader_t::end(tally_error_t *err)
{
    if (at_ != frame_.size())
        return bad(err, "data past its end");
    if (!ended_ && !next_frame(err))
        return false;
    if (!ended_)
        return bad(err, "data past its end");
    if (std::fgetc(in_) != EOF)
        return bad(err, "data past its end");
    if (std::ferror(in_))
        return tally_fail_io(err, name_.c_str(), errno);
    return true;
}

namespace {

// The per-group arrays of the pass figures: their length first, so that a
// reader of another build refuses them rather than misreading.
void put_array(tally_state_writer_t &w, const uint64_t *v, size_t n)
{
    w.u32(static_cast<uint32_t>(n));
    for (size_t k = 0; k < n; ++k)
        w.u64(v[k]);
}

bool get_array(tally_state_reader_t &r, uint64_t *v, size_t n,
               tally_error_t *err)
{
    uint32_t len;
    if (!r.u32(&len, err))
        return false;
    if (len != n)
        return r.bad(err, "pass figures");
    for (size_t k = 0; k < n; ++k)
        if (!r.u64(&v[k], err))
            return false;
    return true;
}

} // namespace

void tally_state_put_stats(tally_state_writer_t &w,
                           const tally_pass_stats_t &s)
{
    w.u64(s.lines);
    w.u64(s.widest);
    put_array(w, s.row_gaps, TALLY_WANTS_MAX + 1);
    put_array(w, s.col_gaps, TALLY_WANTED_COLS_MAX + 1);
    put_array(w, s.col_short, TALLY_WANTED_COLS_MAX + 1);
    put_array(w, s.col_short_row, TALLY_WANTED_COLS_MAX + 1);
}

bool tally_state_get_stats(tally_state_reader_t &r, tally_pass_stats_t *s,
                           tally_error_t *err)
{
    return r.u64(&s->lines, err) && r.u64(&s->widest, err) &&
           get_array(r, s->row_gaps, TALLY_WANTS_MAX + 1, err) &&
           get_array(r, s->col_gaps, TALLY_WANTED_COLS_MAX + 1, err) &&
           get_array(r, s->col_short, TALLY_WANTED_COLS_MAX + 1, err) &&
           get_array(r, s->col_short_row, TALLY_WANTED_COLS_MAX + 1, err);
}

void tally_state_put_splits(tally_state_writer_t &w, const tallyf_list_t *list,
                            const tally_split_keys_t *keys)
{
    uint32_t n = 0;
    for (int i = 0; i < list->count; ++i)
        n += list->functions[i].split;
    w.u32(n);
    for (int i = 0; i < list->count; ++i) {
        if (!list->functions[i].split)
            continue;
        const tally_split_keys_t &k = keys[i];
        w.u32(static_cast<uint32_t>(i));
        w.u8(k.more);
        w.u32(static_cast<uint32_t>(k.count));
        for (int j = 0; j < k.count; ++j)
            w.str(k.keys[j]);
    }
}

bool tally_state_get_splits(tally_state_reader_t &r, const tallyf_list_t *list,
                            tally_split_keys_t *keys, tally_error_t *err)
{
    uint32_t n;
    if (!r.u32(&n, err))
        return false;
    uint32_t want = 0;
    for (int i = 0; i < list->count; ++i)
        want += list->functions[i].split;
    if (n != want)
        return r.bad(err, "split count");
    for (int i = 0; i < list->count; ++i) {
        if (!list->functions[i].split)
            continue;
        uint32_t index, count;
        uint8_t more;
        if (!r.u32(&index, err) || !r.u8(&more, err) || !r.u32(&count, err))
            return false;
        if (index != static_cast<uint32_t>(i) || more > 1 ||
            count > static_cast<uint32_t>(tally_split_keys_t::kKept) ||
            (more == 1 && count != tally_split_keys_t::kKept))
            return r.bad(err, "split keys");
        tally_split_keys_t &k = keys[i];
        k.more = more == 1;
        k.count = static_cast<int>(count);
        for (int j = 0; j < k.count; ++j)
            if (!r.str(&k.keys[j], err))
                return false;
    }
    return true;
}

void tally_state_put_fields(tally_state_writer_t &w,
                            const std::vector<std::string> &fields)
{
    w.u32(static_cast<uint32_t>(fields.size()));
    for (const std::string &f : fields)
        w.str(f);
}

bool tally_state_get_fields(tally_state_reader_t &r,
                            std::vector<std::string> *fields,
                            tally_error_t *err)
{
    uint32_t n;
    if (!r.u32(&n, err))
        return false;
    fields->clear();
    for (uint32_t k = 0; k < n; ++k) {
        std::string f;
        if (!r.str(&f, err))
            return false;
        fields->push_back(std::move(f));
    }
    return true;
}

namespace {

// A record's collected fields, in the order the file holds them: the
// counts, then the doubles.
constexpr int kDoubles = 13;
constexpr int kPairDoubles = 20;

void record_doubles(tallyf_t &tf, double **d)
{
    double *p[kDoubles] = {&tf.sum,   &tf.sum_x,    &tf.sum_x_2, &tf.sum_y,
                           &tf.sum_y_2, &tf.sum_x_y, &tf.shift,  &tf.sum_d,
                           &tf.sum_d_lo, &tf.sum_d_2, &tf.sum_d_2_lo,
                           &tf.low,   &tf.high};
    std::copy(p, p + kDoubles, d);
}

void pair_doubles(tallyf_sums2_t &t, double **d)
{
    double *p[kPairDoubles] = {
        &t.shift[0], &t.shift[1], &t.d[0],    &t.d[1],    &t.d_lo[0],
        &t.d_lo[1],  &t.d2[0],    &t.d2[1],   &t.d2_lo[0], &t.d2_lo[1],
        &t.dxy,      &t.exy,      &t.dxy_lo,  &t.exy_lo,  &t.e2[0],
        &t.e2[1],    &t.e2_lo[0], &t.e2_lo[1], nullptr,   nullptr};
    std::copy(p, p + kPairDoubles, d);
}

} // namespace

void tally_state_put_record(tally_state_writer_t &w, const tallyf_t &tf,
                            tally_feed_t kind)
{
    tallyf_t &t = const_cast<tallyf_t &>(tf); // read only
    w.u8(static_cast<uint8_t>(kind));
    w.u64(tf.num_count);
    w.u64(tf.shift_count);
    w.u64(tf.pairs.n[0]);
    w.u64(tf.pairs.n[1]);
    double *d[kPairDoubles];
    record_doubles(t, d);
    for (int k = 0; k < kDoubles; ++k)
        w.f64(*d[k]);
    pair_doubles(t.pairs, d);
    for (int k = 0; k < kPairDoubles && d[k] != nullptr; ++k)
        w.f64(*d[k]);
    // The rest (lib/exact-sums.h), rarely there.
    tally_rest_data_t rest;
    if (!tally_rest_get(&tf, &rest)) {
        w.u8(0);
        return;
    }
    w.u8(1);
    for (const exact_wide_t &x : rest.wide)
        for (uint64_t word : x.w)
            w.u64(word);
    const uint8_t flags = static_cast<uint8_t>(
        rest.lane_nan[0] | rest.lane_nan[1] << 1 | rest.lane_pos[0] << 2 |
        rest.lane_pos[1] << 3 | rest.lane_neg[0] << 4 | rest.lane_neg[1] << 5);
    w.u8(flags);
    w.u64(rest.first_nan);
    w.u64(rest.first_pos);
    w.u64(rest.first_neg);
    w.f64(rest.nan_value);
}

bool tally_state_get_record(tally_state_reader_t &r, tallyf_t *tf,
                            tally_feed_t kind, tally_error_t *err)
{
    uint8_t k;
    if (!r.u8(&k, err))
        return false;
    if (k != static_cast<uint8_t>(kind))
        return r.bad(err, "record kind");
    if (!r.u64(&tf->num_count, err) || !r.u64(&tf->shift_count, err) ||
        !r.u64(&tf->pairs.n[0], err) || !r.u64(&tf->pairs.n[1], err))
        return false;
    double *d[kPairDoubles];
    record_doubles(*tf, d);
    for (int j = 0; j < kDoubles; ++j)
        if (!r.f64(d[j], err))
            return false;
    pair_doubles(tf->pairs, d);
    for (int j = 0; j < kPairDoubles && d[j] != nullptr; ++j)
        if (!r.f64(d[j], err))
            return false;
    tf->scaled_lo = NAN;
    uint8_t has_rest;
    if (!r.u8(&has_rest, err))
        return false;
    if (has_rest > 1)
        return r.bad(err, "record");
    if (has_rest == 0)
        return true;
    tally_rest_data_t rest;
    for (exact_wide_t &x : rest.wide)
        for (uint64_t &word : x.w)
            if (!r.u64(&word, err))
                return false;
    uint8_t flags;
    if (!r.u8(&flags, err) || !r.u64(&rest.first_nan, err) ||
        !r.u64(&rest.first_pos, err) || !r.u64(&rest.first_neg, err) ||
        !r.f64(&rest.nan_value, err))
        return false;
    if (flags > 63)
        return r.bad(err, "record");
    for (int l = 0; l < 2; ++l) {
        rest.lane_nan[l] = (flags >> l & 1) != 0;
        rest.lane_pos[l] = (flags >> (2 + l) & 1) != 0;
        rest.lane_neg[l] = (flags >> (4 + l) & 1) != 0;
    }
    tally_rest_set(tf, rest);
    return true;
}

void tally_state_put_values(tally_state_writer_t &w, const double *v,
                            uint64_t n)
{
    w.f64s(v, n);
}

bool tally_state_put_file_values(tally_state_writer_t &w, FILE *f,
                                 uint64_t n, tally_error_t *err)
{
    if (n == 0)
        return true;
    if (f == nullptr || std::fflush(f) != 0 || std::fseek(f, 0, SEEK_SET) != 0)
        return tally_fail_io(err, "cannot read a listing back", errno);
    double buf[512];
    while (n != 0) {
        const size_t want = n < 512 ? static_cast<size_t>(n) : 512;
        if (std::fread(buf, sizeof(double), want, f) != want)
            return tally_fail_io(err, "cannot read a listing back", errno);
        tally_state_put_values(w, buf, want);
        n -= want;
    }
    return true;
}

void tally_state_rows_t::place(tally_pass_stats_t *part,
                               const std::vector<std::string> &fields)
{
    if (header && !header_line(*part, fields))
        part->lines = 0;
    if (part->lines == 0)
        return;
    // A later part's header line is the whole's first line, said once.
    const bool drop = header && seen;
    const uint64_t base = drop ? lines - 1 : lines;
    for (int g = 0; g <= TALLY_WANTED_COLS_MAX; ++g)
        if (part->col_short[g] != 0)
            part->col_short_row[g] += base;
    if (drop)
        --part->lines;
    seen = true;
    lines += part->lines;
}
