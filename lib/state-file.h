// A part's state in a file: what one pass over a part of an input kept, so
// that another process can merge the parts and print the report of the
// whole (numtally --state-out, numtally --merge).  docs/state-format.md
// describes the bytes: a fixed preamble, then frames of at most 1 MiB,
// each with its CRC-32, little-endian throughout, a frame of length 0 at
// the end.  The writer and the reader know nothing of records; the record
// and pass encodings below are built on them.
#ifndef NUMTALLY_LIB_STATE_FILE_H
#define NUMTALLY_LIB_STATE_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "feed-kind.h"
#include "pass.h"
#include "split-keys.h"
#include "tally-error.h"
#include "tallyf-list.h"

inline constexpr uint32_t TALLY_STATE_VERSION = 2;

// The CRC-32 of ISO-HDLC (zlib's crc32, Python's zlib.crc32) of n bytes,
// continuing from crc (0 to start).
uint32_t tally_crc32(uint32_t crc, const void *data, size_t n);

class tally_state_writer_t {
public:
    // The preamble is written with the first frame: a run that fails
    // before its state is whole writes nothing.
    explicit tally_state_writer_t(FILE *out);
    void bytes(const void *p, size_t n);
    void u8(uint8_t v) { bytes(&v, 1); }
    void u32(uint32_t v);
    void u64(uint64_t v);
    void f64(double v);
    void str(const std::string &s); // u32 length, then the bytes
    void f64s(const double *v, uint64_t n);
    // The last frame, the end frame, flushed.  False (74, naming the file
    // as name) when any of it could not be written.
    bool finish(const char *name, tally_error_t *err);

private:
    void flush_frame();
    void write_frame(const unsigned char *p, size_t n);
    FILE *out_;
    bool started_ = false;
    std::vector<unsigned char> frame_;
};

class tally_state_reader_t {
public:
    // name: how messages name the file.
    tally_state_reader_t(FILE *in, std::string name);
    // The preamble: a state file, of this version (65 otherwise).
    bool open(tally_error_t *err);
    bool bytes(void *p, size_t n, tally_error_t *err);
    bool u8(uint8_t *v, tally_error_t *err);
    bool u32(uint32_t *v, tally_error_t *err);
    bool u64(uint64_t *v, tally_error_t *err);
    bool f64(double *v, tally_error_t *err);
    bool str(std::string *s, tally_error_t *err);
    bool f64s(double *v, uint64_t n, tally_error_t *err);
    // Nothing left but the end frame, and nothing after it.
    bool end(tally_error_t *err);
    // A value the file holds that cannot be (65: a corrupted file, as a
    // checksum cannot catch what was written wrong).
    bool bad(tally_error_t *err, const char *what);
    // The file's state is of another run than the first file's (65).
    bool mismatch(tally_error_t *err, const std::string &what);
    const std::string &name() const { return name_; }

private:
    bool next_frame(tally_error_t *err);
    bool frame_head(uint64_t *n, tally_error_t *err);
    bool frame_body(unsigned char *to, uint64_t n, tally_error_t *err);
    bool fail(tally_error_t *err, const std::string &what);
    FILE *in_;
    std::string name_;
    std::vector<unsigned char> frame_;
    size_t at_ = 0;
    bool ended_ = false;
};

// What a pass saw besides the values (rows of a part numbered from its
// first line).
void tally_state_put_stats(tally_state_writer_t &w,
                           const tally_pass_stats_t &stats);
bool tally_state_get_stats(tally_state_reader_t &r, tally_pass_stats_t *stats,
                           tally_error_t *err);

// The header line's fields.
void tally_state_put_fields(tally_state_writer_t &w,
                            const std::vector<std::string> &fields);
bool tally_state_get_fields(tally_state_reader_t &r,
                            std::vector<std::string> *fields,
                            tally_error_t *err);

// The keys that the list's welch-t --split records met, in the order met
// (keys[i] for each record i asked with --split).
void tally_state_put_splits(tally_state_writer_t &w, const tallyf_list_t *list,
                            const tally_split_keys_t *keys);
// Into keys[i] (empty) for the same records.
bool tally_state_get_splits(tally_state_reader_t &r, const tallyf_list_t *list,
                            tally_split_keys_t *keys, tally_error_t *err);

// What a record fed as kind collected, before it is settled: counts, sums,
// bounds, its rest, and then its values (kept or listed) as the caller
// writes them with tally_state_put_values, num_count of them.
void tally_state_put_record(tally_state_writer_t &w, const tallyf_t &tf,
                            tally_feed_t kind);
// Into a record of the same request with nothing collected; the values
// are left to the caller.
bool tally_state_get_record(tally_state_reader_t &r, tallyf_t *tf,
                            tally_feed_t kind, tally_error_t *err);

void tally_state_put_values(tally_state_writer_t &w, const double *v,
                            uint64_t n);
// A listing's values, from its temporary file (8 bytes each, as written).
bool tally_state_put_file_values(tally_state_writer_t &w, FILE *f,
                                 uint64_t n, tally_error_t *err);
// n values, handed to each(double) one at a time.
template <class Each>
bool tally_state_get_values(tally_state_reader_t &r, uint64_t n, Each each,
                            tally_error_t *err)
{
    double buf[1024];
    while (n != 0) {
        const uint64_t take = n < 1024 ? n : 1024;
        if (!r.f64s(buf, take, err))
            return false;
        for (uint64_t i = 0; i < take; ++i)
            each(buf[i]);
        n -= take;
    }
    return true;
}

// Where a part's rows stand in the whole, as parts are merged in order:
// with a header line each part has its own, and the whole only the first.
struct tally_state_rows_t {
    bool header = false;
    bool seen = false;  // a part with a line (its header) came already
    uint64_t lines = 0; // the whole's so far
    // Whether a part read a header line (its fields, with options.header):
    // a part without input has none, and adds nothing to the whole.
    bool header_line(const tally_pass_stats_t &part,
                     const std::vector<std::string> &fields) const
    {
        return header && (!fields.empty() || part.lines > 1);
    }
    // Renumbers a part's figures as the whole's, and counts its lines.
    void place(tally_pass_stats_t *part,
               const std::vector<std::string> &fields);
};

#endif
