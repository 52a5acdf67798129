// A run over one input on threads: chunks, passes, the merge in order.
#include "chunks.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Whether b[0, n) holds an odd number of double quotes.
bool odd_quotes(const unsigned char *b, size_t n)
{
    size_t i = 0;
    unsigned odd = 0;
#if defined(__SSE2__)
    // The quotes' bits of every 16 bytes, folded by exclusive or: their
    // parity is the quotes'.
    const __m128i quote = _mm_set1_epi8('"');
    unsigned folded = 0;
    for (; i + 64 <= n; i += 64) {
        const auto bits = [&](size_t k) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i + k));
            return static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(v, quote)));
        };
        folded ^= bits(0) ^ bits(16) ^ bits(32) ^ bits(48);
    }
    odd = static_cast<unsigned>(__builtin_parity(folded));
#endif
    for (; i < n; ++i)
        odd ^= b[i] == '"' ? 1u : 0u;
    return odd != 0;
}

// The first line end outside quotes at or after from (where the quotes
// before from are even), or n.
size_t line_end_after(const unsigned char *b, size_t from, size_t n,
                      bool quotes)
{
    if (!quotes) {
        const void *nl = std::memchr(b + from, '\n', n - from);
        return nl == nullptr ? n
                             : static_cast<size_t>(
                                   static_cast<const unsigned char *>(nl) - b) + 1;
    }
    bool inside = false;
    for (size_t i = from; i < n; ++i) {
        if (b[i] == '"')
            inside = !inside;
        else if (b[i] == '\n' && !inside)
            return i + 1;
    }
    return n;
}

// Where a chunk that starts at from (outside quotes) and holds at least
// want bytes ends.
size_t cut_at(const unsigned char *b, size_t from, size_t n, size_t want,
              bool quotes)
{
    const size_t t = std::min(n, from + std::max<size_t>(want, 1) - 1);
    if (!quotes)
        return line_end_after(b, t, n, false);
    // The quotes before t tell whether t stands inside a quoted field.
    const bool odd = odd_quotes(b + from, t - from);
    if (!odd)
        return line_end_after(b, t, n, true);
    const void *q = std::memchr(b + t, '"', n - t);
    if (q == nullptr)
        return n;
    const size_t close = static_cast<size_t>(
        static_cast<const unsigned char *>(q) - b) + 1;
    return line_end_after(b, close, n, true);
}

class memory_feed_t final : public tally_chunk_feed_t {
public:
    memory_feed_t(const unsigned char *bytes, size_t size)
        : bytes_(bytes), size_(size)
    {
    }
    bool next(size_t want, bool quotes, tally_chunk_t *c) override
    {
        if (at_ >= size_)
            return false;
        const size_t end = cut_at(bytes_, at_, size_, want, quotes);
        *c = tally_chunk_t{};
        c->bytes = bytes_ + at_;
        c->size = end - at_;
        c->last = end == size_;
        at_ = end;
        return true;
    }

private:
    const unsigned char *bytes_;
    size_t size_;
    size_t at_ = 0;
};

// The feed of a regular file: chunks found by reading a little around each
// cut (and, for quoted input, counting the quotes before it), each read by
// its thread with pread.
class file_feed_t final : public tally_chunk_feed_t {
public:
    file_feed_t(int fd, uint64_t from, uint64_t size)
        : fd_(fd), from_(from), size_(size)
    {
    }
    bool next(size_t want, bool quotes, tally_chunk_t *c) override
    {
        if (at_ >= size_)
            return false;
        const uint64_t t =
            std::min<uint64_t>(size_, at_ + std::max<size_t>(want, 1) - 1);
        bool inside = false;
        if (quotes)
            for (uint64_t p = at_; p < t;) {
                const size_t n = fill(p, std::min<uint64_t>(kBlock, t - p));
                if (n == 0)
                    break;
                inside ^= odd_quotes(buf_.get(), n);
                p += n;
            }
        uint64_t end = size_;
        for (uint64_t p = t; p < size_;) {
            const size_t n = fill(p, std::min<uint64_t>(kWindow, size_ - p));
            if (n == 0)
                break;
            size_t k = 0;
            for (; k < n; ++k) {
                if (quotes && buf_[k] == '"')
                    inside = !inside;
                else if (buf_[k] == '\n' && !inside)
                    break;
            }
            if (k < n) {
                end = p + k + 1;
                break;
            }
            p += n;
        }
        *c = tally_chunk_t{};
        c->fd = fd_;
        c->offset = from_ + at_;
        c->size = static_cast<size_t>(end - at_);
        c->last = end == size_;
        at_ = end;
        return true;
    }

private:
    static constexpr size_t kBlock = size_t{1} << 20;
    static constexpr size_t kWindow = size_t{1} << 14;

    // Reads up to n bytes from the input's byte p into the buffer: how many
    // (0 where it cannot, the chunk's own read then failing as it may).
    size_t fill(uint64_t p, uint64_t n)
    {
        if (buf_ == nullptr)
            buf_.reset(new unsigned char[kBlock]);
        for (;;) {
            const ssize_t got = pread(fd_, buf_.get(), static_cast<size_t>(n),
                                      static_cast<off_t>(from_ + p));
            if (got >= 0)
                return static_cast<size_t>(got);
            if (errno != EINTR)
                return 0;
        }
    }

    int fd_;
    uint64_t from_, size_;
    uint64_t at_ = 0;
    std::unique_ptr<unsigned char[]> buf_;
};

class source_feed_t final : public tally_chunk_feed_t {
public:
    explicit source_feed_t(const xt_dsv_source_t *source) : source_(source) {}
    bool next(size_t want, bool quotes, tally_chunk_t *c) override
    {
        if (ended_ && carry_.empty())
            return false;
        want = std::max<size_t>(want, 1);
        size_t room = std::max(want, carry_.size() + (size_t{1} << 16));
        buffer_t buf = take_buffer(room);
        size_t len = carry_.size();
        if (len != 0) // (an empty carry's data may be null)
            std::memcpy(buf.get(), carry_.data(), len);
        carry_.clear();
        size_t cut = 0;
        for (;;) {
            while (!ended_ && len < room) {
                int e = 0;
                const size_t n =
                    source_->read(source_->ctx, buf.get() + len, room - len, &e);
                if (n == 0) {
                    ended_ = true;
                    error_ = e;
                }
                len += n;
            }
            if (ended_) {
                cut = len;
                break;
            }
            cut = last_line_end(buf.get(), len, quotes);
            if (cut != 0)
                break;
            // A line longer than the block: a bigger one.
            size_t bigger = 2 * room;
            buffer_t more = take_buffer(bigger);
            std::memcpy(more.get(), buf.get(), len);
            buf = std::move(more);
            room = bigger;
        }
        carry_.assign(buf.get() + cut, buf.get() + len);
        *c = tally_chunk_t{};
        c->bytes = buf.get();
        c->size = cut;
        c->last = ended_ && carry_.empty();
        c->error = c->last ? error_ : 0;
        c->slot = next_slot_++;
        held_.push_back({c->slot, room, std::move(buf)});
        return true;
    }
    void release(const tally_chunk_t &c) override
    {
        for (auto it = held_.begin(); it != held_.end(); ++it)
            if (it->slot == c.slot) {
                // Kept for a later block: a fresh one would be faulted in
                // page by page again.
                if (free_.size() < 16)
                    free_.push_back(std::move(*it));
                held_.erase(it);
                return;
            }
    }

private:
    using buffer_t = std::unique_ptr<unsigned char[]>;
    struct held_t {
        size_t slot, room;
        buffer_t bytes;
    };

    // A buffer of at least room bytes, a released one where one is big
    // enough.
    buffer_t take_buffer(size_t &room)
    {
        for (auto it = free_.begin(); it != free_.end(); ++it)
            if (it->room >= room) {
                room = it->room;
                buffer_t b = std::move(it->bytes);
                free_.erase(it);
                return b;
            }
        return buffer_t(new unsigned char[room]);
    }

    // The end of the last line in b[0, n) that ends outside quotes (the
    // quotes counted from b's start), or 0.
    static size_t last_line_end(const unsigned char *b, size_t n, bool quotes)
    {
        if (!quotes) {
            const void *nl = memrchr(b, '\n', n);
            return nl == nullptr ? 0
                                 : static_cast<size_t>(
                                       static_cast<const unsigned char *>(nl) - b) + 1;
        }
        bool odd = odd_quotes(b, n);
        for (size_t i = n; i-- > 0;) {
            if (b[i] == '"')
                odd = !odd;
            else if (b[i] == '\n' && !odd)
                return i + 1;
        }
        return 0;
    }

    const xt_dsv_source_t *source_;
    std::vector<unsigned char> carry_;
    std::deque<held_t> held_;
    std::vector<held_t> free_;
    size_t next_slot_ = 0;
    bool ended_ = false;
    int error_ = 0;
};

// Up to room bytes of chunk c from its byte at on, at dst: 0 at its end
// (with *err its read error, if any).
size_t read_chunk(const tally_chunk_t &c, size_t at, unsigned char *dst,
                  size_t room, int *err)
{
    const size_t n = std::min(room, c.size - std::min(at, c.size));
    if (n == 0) {
        if (c.error != 0)
            *err = c.error;
        return 0;
    }
    if (c.bytes != nullptr) {
        std::memcpy(dst, c.bytes + at, n);
        return n;
    }
    for (;;) {
        const ssize_t got = pread(c.fd, dst, n, static_cast<off_t>(c.offset + at));
        if (got > 0)
            return static_cast<size_t>(got);
        if (got == 0) {
            *err = EIO; // the file shrank under the run
            return 0;
        }
        if (errno != EINTR) {
            *err = errno;
            return 0;
        }
    }
}

// A chunk as a pass's source: its bytes, then its read error if any.
struct chunk_source_t {
    const tally_chunk_t &chunk;
    size_t at = 0;
    xt_dsv_source_t source{read, this};

    explicit chunk_source_t(const tally_chunk_t &c) : chunk(c) {}
    chunk_source_t(const chunk_source_t &) = delete;
    chunk_source_t &operator=(const chunk_source_t &) = delete;

    static size_t read(void *ctx, unsigned char *dst, size_t room, int *err)
    {
        auto *s = static_cast<chunk_source_t *>(ctx);
        const size_t n = read_chunk(s->chunk, s->at, dst, room, err);
        s->at += n;
        return n;
    }
};

// Chunks in order and then the rest of the feed, as one source.
struct rest_source_t {
    std::deque<tally_chunk_t> chunks;
    tally_chunk_feed_t *feed;
    bool quotes;
    size_t want;
    std::vector<tally_chunk_t> done;
    size_t at = 0;
    xt_dsv_source_t source{read, this};

    static size_t read(void *ctx, unsigned char *dst, size_t room, int *err)
    {
        auto *s = static_cast<rest_source_t *>(ctx);
        for (;;) {
            if (s->chunks.empty()) {
                tally_chunk_t c;
                if (!s->feed->next(s->want, s->quotes, &c))
                    return 0;
                s->chunks.push_back(c);
            }
            const tally_chunk_t &c = s->chunks.front();
            int e = 0;
            const size_t n = read_chunk(c, s->at, dst, room, &e);
            s->at += n;
            if (n != 0)
                return n;
            if (e != 0) {
                *err = e;
                return 0;
            }
            s->done.push_back(c);
            s->chunks.pop_front();
            s->at = 0;
        }
    }
};

// Whether a pass ended inside a quoted field.
bool ended_in_quotes(const tally_error_t &e)
{
    return e.in_quotes;
}

struct job_t {
    tally_chunk_t chunk;
    std::unique_ptr<tally_part_t> own;
    tally_part_t *part = nullptr;
    bool is_first = false;
    uint64_t header_fields = 0;
    tally_rests_held_t rests;
    bool ok = false;
    bool done = false;
    tally_error_t err;
};

// The threads that run the passes, jobs taken in the order given.
class pool_t {
public:
    // As many threads as can be made, up to threads.
    pool_t(tally_part_ops_t *ops, int threads) : ops_(ops)
    {
        try {
            for (int t = 0; t < threads; ++t)
                threads_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            // Fewer threads, or none (size() 0).
        }
    }
    size_t size() const { return threads_.size(); }
    ~pool_t() { stop(); }
    pool_t(const pool_t &) = delete;
    pool_t &operator=(const pool_t &) = delete;

    void push(job_t *j)
    {
        {
            const std::lock_guard<std::mutex> hold(m_);
            pending_.push_back(j);
        }
        more_.notify_one();
    }
    void wait(job_t *j)
    {
        std::unique_lock<std::mutex> hold(m_);
        done_.wait(hold, [j] { return j->done; });
    }
    // Lets the passes under way end and drops the ones not begun.
    void stop()
    {
        {
            const std::lock_guard<std::mutex> hold(m_);
            stopping_ = true;
            pending_.clear();
        }
        more_.notify_all();
        for (std::thread &t : threads_)
            t.join();
        threads_.clear();
    }

private:
    void work()
    {
        for (;;) {
            job_t *j;
            {
                std::unique_lock<std::mutex> hold(m_);
                more_.wait(hold, [this] { return stopping_ || !pending_.empty(); });
                if (stopping_)
                    return;
                j = pending_.front();
                pending_.pop_front();
            }
            run(j);
            {
                const std::lock_guard<std::mutex> hold(m_);
                j->done = true;
            }
            done_.notify_all();
        }
    }
    void run(job_t *j)
    {
        // The records' rests are this thread's while the pass runs, and
        // go with the records when it ends.
        const tally_rest_scope_t scope;
        chunk_source_t source(j->chunk);
        tally_pass_input_t later{};
        later.header_fields = j->header_fields;
        later.source = &source.source;
        try {
            j->ok = ops_->pass(j->part, &source.source,
                               j->is_first ? nullptr : &later, &j->err);
        } catch (const std::bad_alloc &) {
            j->ok = tally_fail_nomem(&j->err);
        }
        ops_->take_rests(j->part, &j->rests);
    }

    tally_part_ops_t *ops_;
    std::vector<std::thread> threads_;
    std::mutex m_;
    std::condition_variable more_, done_;
    std::deque<job_t *> pending_;
    bool stopping_ = false;
};

// Rows a part counted from 1, renumbered from first_row.
void renumber(tally_pass_stats_t *s, uint64_t first_row)
{
    for (int g = 0; g <= TALLY_WANTED_COLS_MAX; ++g)
        if (s->col_short[g] != 0)
            s->col_short_row[g] += first_row - 1;
}

class chunked_run_t {
public:
    chunked_run_t(tally_part_ops_t *ops, tally_chunk_feed_t *feed,
                  const tally_chunk_run_t &run)
        : ops_(ops), feed_(feed), run_(run)
    {
        later_.first_row = 1;
    }

    bool go(tally_error_t *err, std::string *notes)
    {
        if (run_.chunk_bytes == 0)
            run_.chunk_bytes = size_t{4} << 20;
        if (run_.threads <= 1)
            return from_here({}, true, err, notes);
        // The jobs outlive the threads that run them (declared first, they
        // are destroyed last, whichever way the run ends).
        std::deque<std::unique_ptr<job_t>> jobs;
        std::unique_ptr<pool_t> pool;
        bool first_done = false;
        if (run_.header) {
            tally_chunk_t c;
            if (!feed_->next(1, run_.quotes, &c))
                return whole_empty(err, notes);
            chunk_source_t source(c);
            if (!ops_->pass(ops_->first(), &source.source, nullptr, err)) {
                if (!c.last && ended_in_quotes(*err))
                    return from_here({c}, true, err, notes);
                return false;
            }
            first_done = true;
            later_.first_row += ops_->stats(ops_->first())->lines;
            later_.header_fields = ops_->header_fields(ops_->first());
            feed_->release(c);
        }
        ops_->begin_parts();
        // The first chunk of data: where it is all the input (or no thread
        // can be made), it is read here in one pass, no thread made.
        tally_chunk_t first_chunk;
        if (!feed_->next(run_.chunk_bytes, run_.quotes, &first_chunk))
            return first_done ? ops_->report(err, notes) : whole_empty(err, notes);
        if (!first_chunk.last)
            pool = std::make_unique<pool_t>(ops_, run_.threads);
        if (pool == nullptr || pool->size() == 0) {
            pool.reset();
            return from_here({first_chunk}, !first_done, err, notes);
        }
        bool taken = false; // first_chunk handed out
        bool ended = false;
        // Chunks handed out ahead of the merge: enough that a thread
        // seldom waits for the reader, or the reader for the merge.
        const size_t most = 4 * static_cast<size_t>(run_.threads);
        for (;;) {
            while (!ended && jobs.size() < most) {
                tally_chunk_t c = first_chunk;
                if (taken && !feed_->next(run_.chunk_bytes, run_.quotes, &c)) {
                    ended = true;
                    break;
                }
                taken = true;
                auto j = std::make_unique<job_t>();
                j->chunk = c;
                if (!first_done) {
                    j->part = ops_->first();
                    j->is_first = true;
                    first_done = true;
                } else {
                    j->own = ops_->make_part();
                    j->part = j->own.get();
                    j->header_fields = later_.header_fields;
                }
                ended = c.last;
                pool->push(j.get());
                jobs.push_back(std::move(j));
            }
            if (jobs.empty())
                break;
            job_t *j = jobs.front().get();
            pool->wait(j);
            ops_->give_rests(j->part, &j->rests);
            bool numbered = j->is_first;
            if (!j->ok) {
                if (!j->chunk.last && ended_in_quotes(j->err)) {
                    pool->stop();
                    std::deque<tally_chunk_t> rest;
                    for (const auto &k : jobs)
                        rest.push_back(k->chunk);
                    return from_here(std::move(rest), j->is_first, err, notes);
                }
                if (j->is_first) {
                    *err = j->err;
                    return false;
                }
                // Again, with its rows numbered as in the whole: its
                // message names the row one pass names.  (A pass that
                // failed for want of memory may pass now: it goes on.)
                chunk_source_t source(j->chunk);
                tally_pass_input_t later = later_;
                later.source = &source.source;
                j->own = ops_->make_part();
                j->part = j->own.get();
                if (!ops_->pass(j->part, &source.source, &later, err))
                    return false;
                numbered = true;
            }
            if (!j->is_first) {
                if (!numbered)
                    renumber(ops_->stats(j->part), later_.first_row);
                if (!ops_->merge(j->part, err))
                    return false;
            }
            later_.first_row += ops_->stats(j->part)->lines;
            feed_->release(j->chunk);
            jobs.pop_front();
        }
        pool->stop();
        return ops_->report(err, notes);
    }

private:
    bool whole_empty(tally_error_t *err, std::string *notes)
    {
        const tally_chunk_t none{};
        chunk_source_t source(none);
        return ops_->pass(ops_->first(), &source.source, nullptr, err) &&
               ops_->report(err, notes);
    }

    // The rest of the input in one pass, from the chunks given on: a cut
    // fell inside a quoted field.
    bool from_here(std::deque<tally_chunk_t> chunks, bool first,
                   tally_error_t *err, std::string *notes)
    {
        rest_source_t rest{std::move(chunks), feed_, run_.quotes,
                           run_.chunk_bytes, {}};
        if (first) {
            ops_->reset_first();
            if (!ops_->pass(ops_->first(), &rest.source, nullptr, err))
                return false;
        } else {
            const auto part = ops_->make_part();
            tally_pass_input_t later = later_;
            later.source = &rest.source;
            if (!ops_->pass(part.get(), &rest.source, &later, err) ||
                !ops_->merge(part.get(), err))
                return false;
        }
        return ops_->report(err, notes);
    }

    tally_part_ops_t *ops_;
    tally_chunk_feed_t *feed_;
    tally_chunk_run_t run_;
    tally_pass_input_t later_{};
};

} // namespace

std::unique_ptr<tally_chunk_feed_t> tally_memory_feed(const unsigned char *bytes,
                                                      size_t size)
{
    return std::make_unique<memory_feed_t>(bytes, size);
}

std::unique_ptr<tally_chunk_feed_t> tally_file_feed(int fd, uint64_t from,
                                                    uint64_t size)
{
    return std::make_unique<file_feed_t>(fd, from, size);
}

std::unique_ptr<tally_chunk_feed_t> tally_source_feed(const xt_dsv_source_t *source)
{
    return std::make_unique<source_feed_t>(source);
}

bool tally_run_chunked(tally_part_ops_t *ops, tally_chunk_feed_t *feed,
                       const tally_chunk_run_t &run, tally_error_t *err,
                       std::string *notes)
{
    chunked_run_t r(ops, feed, run);
    return r.go(err, notes);
}
