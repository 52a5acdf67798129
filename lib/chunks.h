// A run over one input on threads: the input cut into chunks at line ends,
// each chunk's pass on a thread of its own into records of its own, the
// records merged in input order, then the one report.  What it prints is
// what one pass over the whole input prints.
//
// A chunk ends at a line end outside quotes as the quotes counted from the
// input's start tell (a quote inside an unquoted field would fool them).
// That is a guess, checked: a chunk's pass that ends inside a quoted field
// while more input follows means the cut was inside one, and the run reads
// the rest of the input from that chunk on in one pass.  A chunk's rows are
// numbered from 1 while it runs; a chunk that fails is read again, once the
// chunks before it are merged, with its rows numbered as in the whole, so
// that its message names the row one pass names.
#ifndef NUMTALLY_LIB_CHUNKS_H
#define NUMTALLY_LIB_CHUNKS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exact-sums.h"
#include "pass.h"
#include "tally-error.h"
#include "xt-dsv.h"

// Bytes of an input: in memory until released, or in a file.
struct tally_chunk_t {
    const unsigned char *bytes = nullptr; // null: in fd, from offset
    int fd = -1;
    uint64_t offset = 0;
    size_t size = 0;
    bool last = false; // nothing follows it
    int error = 0;     // a read error right after its bytes (errno), or 0
    size_t slot = 0;   // the feed's own
};

// Where the chunks come from, in input order; used by one thread.
class tally_chunk_feed_t {
public:
    virtual ~tally_chunk_feed_t() = default;
    // The next chunk: at least want bytes where the input has them, up to a
    // line end outside quotes (quotes: the quotes are counted), or to the
    // end of input.  False when the input has ended.
    virtual bool next(size_t want, bool quotes, tally_chunk_t *chunk) = 0;
    // A chunk's bytes are no longer needed.
    virtual void release(const tally_chunk_t &) {}
};

// The feed of bytes already in memory: nothing is copied.
std::unique_ptr<tally_chunk_feed_t> tally_memory_feed(const unsigned char *bytes,
                                                      size_t size);

// The feed of size bytes of a regular file from its byte from: each
// chunk's pass reads it with pread, on its own thread; the cuts are found
// by reading around them (and for quoted input the bytes before them).
std::unique_ptr<tally_chunk_feed_t> tally_file_feed(int fd, uint64_t from,
                                                    uint64_t size);

// The feed of a source read by one reader (a pipe): blocks of bytes read
// into buffers of their own, each cut at its last line end.
std::unique_ptr<tally_chunk_feed_t> tally_source_feed(const xt_dsv_source_t *source);

// A part of a run: its records, and what its pass saw.
class tally_part_t {
public:
    virtual ~tally_part_t() = default;
};

// What a run does with its parts.  first: the part that is the run's own
// (its records are the ones reported).
class tally_part_ops_t {
public:
    virtual ~tally_part_ops_t() = default;
    // The run's own part, before any pass.
    virtual tally_part_t *first() = 0;
    // Called once the first part's columns are known (after the header
    // line's pass, if any) and before any pass of it on another thread.
    virtual void begin_parts() = 0;
    // Back to no values, for a first pass that has to be made again.
    virtual void reset_first() = 0;
    // Another part, empty, with the first's columns.  Called after the
    // header line's pass, if any, and before any pass of the first part
    // on another thread.
    virtual std::unique_ptr<tally_part_t> make_part() = 0;
    // The pass over source into part: later null for the input's start
    // (the header line read where there is one).  On any thread.
    virtual bool pass(tally_part_t *part, const xt_dsv_source_t *source,
                      const tally_pass_input_t *later, tally_error_t *err) = 0;
    // The rests of the part's records, taken out of the calling thread's
    // run (after its pass, on its thread) or given to it.
    virtual void take_rests(tally_part_t *part, tally_rests_held_t *) = 0;
    virtual void give_rests(tally_part_t *part, tally_rests_held_t *) = 0;
    virtual tally_pass_stats_t *stats(tally_part_t *part) = 0;
    virtual uint64_t header_fields(tally_part_t *first) = 0;
    // Merges part into the first, which holds the parts before it.
    virtual bool merge(tally_part_t *part, tally_error_t *err) = 0;
    // The report from the first part's records.
    virtual bool report(tally_error_t *err, std::string *notes) = 0;
};

struct tally_chunk_run_t {
    int threads = 2;         // passes at once
    size_t chunk_bytes = 0;  // bytes a chunk (0: as the feed and threads suit)
    bool header = false;
    bool quotes = false;
};

// The run over feed's chunks.  False with err as one pass fails.
bool tally_run_chunked(tally_part_ops_t *ops, tally_chunk_feed_t *feed,
                       const tally_chunk_run_t &run, tally_error_t *err,
                       std::string *notes);

#endif
