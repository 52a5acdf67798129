// Kept values in sorted runs on disk, merged at report time.
#include "value-spill.h"

#include <algorithm>
#include <bit>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "feed.h"
#include "order-points.h"
#include "order-stats.h"
#include "tmp-file.h"
#include "xt.h"

// A run: the values [begin, end) of a file (counted in values).
struct value_run_t {
    int fd;
    uint64_t begin, end;
};

// A record's runs: those it wrote out to its own file, and those of the
// states merged into it, in their files (every file lives as long as the
// runs of every record: tally_values_release_all), in input order.
struct tally_value_runs_t {
    FILE *file = nullptr;       // made at the first run
    uint64_t own = 0;           // values written to file
    std::vector<value_run_t> runs;
    bool in_order = false;      // runs as the values came, not sorted
    int error = 0;              // errno of the first write that failed
    bool unmade = false;        // and it failed as the file was made
    void *map = nullptr;        // the gathered values, once mapped
    size_t map_bytes = 0;
    FILE *merged = nullptr;     // the file behind map, where not file

    ~tally_value_runs_t()
    {
        if (map != nullptr) {
            tally_values_forget_sorted(static_cast<double *>(map));
            munmap(map, map_bytes);
        }
        if (file != nullptr)
            std::fclose(file);
        if (merged != nullptr)
            std::fclose(merged);
    }
};

namespace {

std::atomic<uint64_t> limit_bytes{0};
std::atomic<uint64_t> shares{1};
std::atomic<bool> input_order{false};

// Every record's runs, given back together (records are copied and merged
// by value, so no one record owns them).
std::mutex runs_mutex;
std::vector<std::unique_ptr<tally_value_runs_t>> all_runs;

tally_value_runs_t *runs_of(tallyf_t *tf)
{
    if (tf->runs == nullptr) {
        auto r = std::make_unique<tally_value_runs_t>();
        r->in_order = input_order.load(std::memory_order_relaxed) ||
                      tf->code == TALLYF_GEO_MEAN ||
                      tf->code == TALLYF_HARM_MEAN ||
                      tf->code == TALLYF_SKEWNESS ||
                      tf->code == TALLYF_KURTOSIS;
        std::lock_guard<std::mutex> lock(runs_mutex);
        all_runs.push_back(std::move(r));
        tf->runs = all_runs.back().get();
    }
    return tf->runs;
}

// Writes n values to the runs' file; a failure is kept for the gather.
void write_values(tally_value_runs_t *r, const double *v, uint64_t n)
{
    if (r->error != 0 || n == 0)
        return;
    if (r->file == nullptr) {
        errno = 0;
        r->file = tallyf_tmpfile();
        if (r->file == nullptr) {
            r->error = errno != 0 ? errno : EIO;
            r->unmade = true;
            return;
        }
    }
    errno = 0;
    if (std::fwrite(v, sizeof(double), n, r->file) != n)
        r->error = errno != 0 ? errno : ENOSPC;
}

// Writes the array out as one run (sorted first, unless the runs keep
// input order) and empties it.
void spill(tallyf_t *tf)
{
    tally_value_runs_t *r = runs_of(tf);
    const uint64_t held = tf->num_count - tf->spilled;
    if (held == 0)
        return;
    if (!r->in_order)
        tally_sort_values(tf->nums, held);
    write_values(r, tf->nums, held);
    if (r->file != nullptr)
        r->runs.push_back({fileno(r->file), r->own, r->own + held});
    r->own += held;
    tf->spilled = tf->num_count;
}

// Reads n values of fd from value offset at: false, errno set, on failure.
bool read_at(int fd, double *out, uint64_t at, uint64_t n)
{
    char *p = reinterpret_cast<char *>(out);
    size_t left = n * sizeof(double);
    off_t off = static_cast<off_t>(at * sizeof(double));
    while (left != 0) {
        const ssize_t got = pread(fd, p, left, off);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO; // shorter than written
            return false;
        }
        p += got;
        left -= static_cast<size_t>(got);
        off += got;
    }
    return true;
}

// One run being merged: a window of its values read ahead.
struct cursor_t {
    int fd;
    uint64_t next, end;        // the run's values not yet in the window
    std::vector<double> window;
    size_t at = 0;
};

// The k runs merged into out, in sorted order.  The windows take about
// 8 MiB in all.
bool merge_runs(const value_run_t *runs, size_t k, FILE *out, int *error)
{
    const uint64_t window =
        std::max<uint64_t>(512, (uint64_t{1} << 20) / std::max<size_t>(k, 1));
    // A tree of losers over the cursors (leaves padded to a power of two
    // with cursors that are done): each value out costs one comparison
    // per level, on the path of the cursor it came from.  Numbers compare
    // by their keys (the bits in the same order, -0 before +0), without a
    // branch; a cursor at a NaN (they sort last, so it has nothing else)
    // or done holds the largest key.  Once every cursor does, the NaNs
    // are merged by xt_double_less.
    constexpr uint64_t kLast = ~uint64_t{0};
    size_t leaves = 1;
    while (leaves < k)
        leaves <<= 1;
    std::vector<cursor_t> cursors(k);
    std::vector<double> top(leaves);        // each cursor's next value
    std::vector<uint64_t> key(leaves, kLast);
    std::vector<char> done(leaves, 1);      // a cursor with no value left
    const auto take = [&](size_t c, double x) {
        top[c] = x;
        const uint64_t u = std::bit_cast<uint64_t>(x);
        key[c] = x != x             ? kLast
                 : (u >> 63) != 0 ? ~u
                                  : u | (uint64_t{1} << 63);
    };
    const auto refill = [&](size_t c) {
        cursor_t &cur = cursors[c];
        const uint64_t n = std::min(window, cur.end - cur.next);
        cur.window.resize(n);
        cur.at = 0;
        if (n != 0 && !read_at(cur.fd, cur.window.data(), cur.next, n)) {
            *error = errno;
            return false;
        }
        cur.next += n;
        done[c] = n == 0;
        if (n != 0)
            take(c, cur.window[0]);
        else
            key[c] = kLast;
        return true;
    };
    const auto advance = [&](size_t c) {
        if (++cursors[c].at == cursors[c].window.size())
            return refill(c);
        take(c, cursors[c].window[cursors[c].at]);
        return true;
    };
    for (size_t i = 0; i < k; ++i) {
        cursors[i].fd = runs[i].fd;
        cursors[i].next = runs[i].begin;
        cursors[i].end = runs[i].end;
        if (!refill(i))
            return false;
    }
    std::vector<double> outbuf;
    outbuf.reserve(window * 2);
    const auto flush = [&] {
        errno = 0;
        if (std::fwrite(outbuf.data(), sizeof(double), outbuf.size(), out) !=
            outbuf.size()) {
            *error = errno != 0 ? errno : ENOSPC;
            return false;
        }
        outbuf.clear();
        return true;
    };
    std::vector<size_t> loser(leaves); // per inner node, 1 to leaves - 1
    // Merges while more() holds of the winner, beats(a, b) saying that a
    // goes out before b.
    const auto merge = [&](const auto &beats, const auto &more) {
        const auto build = [&](const auto &self, size_t node) -> size_t {
            if (node >= leaves)
                return node - leaves;
            const size_t a = self(self, 2 * node);
            const size_t b = self(self, 2 * node + 1);
            const bool first = beats(a, b);
            loser[node] = first ? b : a;
            return first ? a : b;
        };
        size_t winner = build(build, 1);
        while (more(winner)) {
            const size_t c = winner;
            outbuf.push_back(top[c]);
            if (outbuf.size() == outbuf.capacity() && !flush())
                return false;
            if (!advance(c))
                return false;
            size_t w = c;
            for (size_t node = (c + leaves) / 2; node >= 1; node /= 2) {
                const size_t l = loser[node];
                const bool swap = beats(l, w);
                loser[node] = swap ? w : l;
                w = swap ? l : w;
            }
            winner = w;
        }
        return true;
    };
    if (!merge([&](size_t a, size_t b) { return key[a] <= key[b]; },
               [&](size_t w) { return key[w] != kLast; }))
        return false;
    // The NaNs left, in xt_double_cmp's order among them.
    if (!merge(
            [&](size_t a, size_t b) {
                return !done[a] &&
                       (done[b] || !xt_double_less(top[b], top[a]));
            },
            [&](size_t w) { return !done[w]; }))
        return false;
    return flush();
}

// At most this many runs are merged at once.
constexpr size_t kFanIn = 256;

// The runs' values end to end into out, in order.
bool join_runs(const std::vector<value_run_t> &runs, FILE *out, int *error)
{
    std::vector<double> buf(size_t{1} << 16);
    for (const value_run_t &run : runs) {
        for (uint64_t at = run.begin; at < run.end;) {
            const size_t n = static_cast<size_t>(
                std::min<uint64_t>(buf.size(), run.end - at));
            errno = 0;
            if (!read_at(run.fd, buf.data(), at, n) ||
                std::fwrite(buf.data(), sizeof(double), n, out) != n) {
                *error = errno != 0 ? errno : EIO;
                return false;
            }
            at += n;
        }
    }
    return true;
}

// The file of the whole of a record's values, in order: where one run
// fills one file from its start, that file's descriptor; otherwise a file
// made of them (r->merged): merged (in passes of at most kFanIn runs, each
// leaving fewer, longer runs), or joined end to end where the runs keep
// input order.  -1, with *error set, on failure.
int whole_file(tally_value_runs_t *r, uint64_t n, int *error)
{
    if (r->runs.size() == 1 && r->runs[0].begin == 0) {
        struct stat st;
        if (fstat(r->runs[0].fd, &st) == 0 &&
            static_cast<uint64_t>(st.st_size) == n * sizeof(double))
            return r->runs[0].fd;
    }
    std::vector<value_run_t> runs = r->runs;
    FILE *in = nullptr; // made by the pass before, not a record's
    do {
        errno = 0;
        FILE *out = tallyf_tmpfile();
        if (out == nullptr) {
            *error = errno != 0 ? errno : EIO;
            if (in != nullptr)
                std::fclose(in);
            return -1;
        }
        std::vector<value_run_t> next;
        bool ok = true;
        if (r->in_order) {
            ok = join_runs(runs, out, error);
        } else {
            uint64_t at = 0;
            for (size_t first = 0; ok && first < runs.size();
                 first += kFanIn) {
                const size_t k = std::min(runs.size() - first, kFanIn);
                ok = merge_runs(runs.data() + first, k, out, error);
                uint64_t values = 0;
                for (size_t i = first; i < first + k; ++i)
                    values += runs[i].end - runs[i].begin;
                next.push_back({fileno(out), at, at + values});
                at += values;
            }
        }
        if (ok && std::fflush(out) != 0) {
            *error = errno != 0 ? errno : EIO;
            ok = false;
        }
        if (in != nullptr)
            std::fclose(in);
        in = out;
        if (!ok) {
            std::fclose(out);
            return -1;
        }
        runs = std::move(next);
    } while (runs.size() > 1);
    r->merged = in;
    return fileno(in);
}

// The limit of a cgroup (v2), or 0 (none, or none to be read: a process
// short of descriptors reads no file).
uint64_t cgroup_limit()
{
    const int fd = open("/sys/fs/cgroup/memory.max", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char word[32];
    const ssize_t got = read(fd, word, sizeof word);
    close(fd);
    if (got <= 0)
        return 0;
    uint64_t n = 0;
    ssize_t i = 0;
    for (; i < got && word[i] >= '0' && word[i] <= '9'; ++i)
        n = n * 10 + static_cast<uint64_t>(word[i] - '0');
    // "max", or anything but digits up to the line's end: no limit.
    if (i == 0 || i == got || word[i] != '\n')
        return 0;
    return n;
}

} // namespace

void tally_values_set_limit(uint64_t bytes) { limit_bytes = bytes; }

uint64_t tally_values_limit() { return limit_bytes; }

void tally_values_set_shares(uint64_t n) { shares = std::max<uint64_t>(n, 1); }

void tally_values_keep_input_order(bool keep) { input_order = keep; }

uint64_t tally_values_default_limit()
{
    uint64_t most = 0;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page > 0)
        most = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page);
    const auto lower = [&](uint64_t n) {
        if (n != 0 && (most == 0 || n < most))
            most = n;
    };
    lower(cgroup_limit());
    for (const int which : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit r;
        if (getrlimit(which, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
            lower(static_cast<uint64_t>(r.rlim_cur));
    }
    return most / 2;
}

uint64_t tally_values_cap()
{
    const uint64_t bytes = limit_bytes.load(std::memory_order_relaxed);
    if (bytes == 0)
        return UINT64_MAX;
    const uint64_t n =
        bytes / sizeof(double) / shares.load(std::memory_order_relaxed);
    return std::max<uint64_t>(n, 2);
}

// Every state the program feeds is a record's (the record extends the
// engine's state), and how its runs are ordered depends on the record's
// function: the spill, which belongs to the run, takes the record.
void tally_values_full(tally_state_t *state)
{
    tallyf_t *tf = static_cast<tallyf_t *>(state);
    const uint64_t held = tf->num_count - tf->spilled;
    const uint64_t cap = tally_values_cap();
    if (held < cap) {
        // Doubled as ever, but never past the cap.
        const uint64_t size = std::min(held < 8 ? 8 : 2 * held, cap);
        tf->nums = static_cast<double *>(
            xt_grow_huge(tf->nums, held, size, sizeof(double)));
        tf->array_size = size;
        return;
    }
    spill(tf);
}

void tally_values_append(tally_state_t *into_state, tally_state_t *from_state)
{
    tallyf_t *into = static_cast<tallyf_t *>(into_state);
    tallyf_t *from = static_cast<tallyf_t *>(from_state);
    const uint64_t into_held = into->num_count - into->spilled;
    const uint64_t from_held = from->num_count - from->spilled;
    const uint64_t need = into_held + from_held;
    if (into->runs == nullptr && from->runs == nullptr &&
        need <= tally_values_cap()) {
        if (need > into->array_size) {
            into->nums = static_cast<double *>(xt_grow_huge(
                into->nums, into->num_count, need, sizeof(double)));
            into->array_size = need;
        }
        std::memcpy(into->nums + into_held, from->nums,
                    from_held * sizeof(double));
        return;
    }
    // The caller adds from's count to into's afterwards: into counts them
    // here while they go in (spilled is of the count with them), and gives
    // the count back at the end.
    const uint64_t count = into->num_count;
    if (from->runs != nullptr) {
        // from's runs come after into's values, whose array goes first.
        spill(into);
        // (Taken as they lie, in from's file, which stays open.)
        tally_value_runs_t *r = runs_of(into);
        tally_value_runs_t *fr = from->runs;
        if (fr->file != nullptr && std::fflush(fr->file) != 0 &&
            fr->error == 0)
            fr->error = errno != 0 ? errno : EIO;
        if (fr->error != 0 && r->error == 0) {
            r->error = fr->error;
            r->unmade = fr->unmade;
        }
        r->runs.insert(r->runs.end(), fr->runs.begin(), fr->runs.end());
        into->num_count += from->spilled;
        into->spilled = into->num_count;
    }
    for (uint64_t i = 0; i < from_held; ++i) {
        if (into->num_count - into->spilled == into->array_size)
            tally_values_full(into);
        into->nums[into->num_count - into->spilled] = from->nums[i];
        ++into->num_count;
    }
    into->num_count = count; // spilled stays: it counts those added
}

bool tally_values_gather(tallyf_t *tf, tally_error_t *err)
{
    tally_value_runs_t *r = tf->runs;
    if (r == nullptr)
        return true;
    spill(tf);
    int error = r->error;
    if (error == 0 && r->file != nullptr && std::fflush(r->file) != 0)
        error = errno != 0 ? errno : EIO;
    const uint64_t n = tf->num_count;
    int fd = -1;
    if (error == 0 && n != 0) {
        fd = whole_file(r, n, &error);
        if (fd < 0 && error == 0)
            error = EIO;
    }
    if (error != 0)
        return tally_fail_io(err,
                             r->unmade ? "cannot create temporary file"
                                       : "cannot write temporary file",
                             error);
    void *map = nullptr;
    if (n != 0) {
        struct stat st;
        if (fstat(fd, &st) != 0)
            return tally_fail_io(err, "temporary file", errno);
        if (static_cast<uint64_t>(st.st_size) != n * sizeof(double))
            return tally_fail_io(err, "cannot write temporary file", ENOSPC);
        // Private and writable: a statistic that reorders values in place
        // copies the pages it writes; the others read the file's pages.
        map = mmap(nullptr, n * sizeof(double), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED)
            return tally_fail_io(err, "cannot map temporary file", errno);
        madvise(map, n * sizeof(double), MADV_SEQUENTIAL); // advice only
    }
    r->map = map;
    r->map_bytes = n * sizeof(double);
    xt_free(tf->nums);
    tf->nums = static_cast<double *>(map);
    tf->array_size = n;
    tf->spilled = 0;
    tf->runs = nullptr;
    if (!r->in_order && map != nullptr)
        tally_values_known_sorted(tf->nums, n);
    return true;
}

namespace {

// Reads a run of the file ahead, a window at a time.
struct run_reader_t {
    int fd;
    uint64_t pos, end; // in bytes
    std::vector<char> buf;
    size_t at = 0, have = 0;

    // Copies bytes of the run to out; false, errno set, past its end or
    // on a read error.
    bool get(void *out, size_t bytes)
    {
        char *o = static_cast<char *>(out);
        while (bytes != 0) {
            if (at == have) {
                const uint64_t n = std::min<uint64_t>(buf.size(), end - pos);
                if (n == 0) {
                    errno = EIO;
                    return false;
                }
                if (!read_bytes(n))
                    return false;
            }
            const size_t k = std::min(bytes, have - at);
            std::memcpy(o, buf.data() + at, k);
            o += k;
            at += k;
            bytes -= k;
        }
        return true;
    }
    bool done() const { return at == have && pos == end; }

private:
    bool read_bytes(uint64_t n)
    {
        size_t got = 0;
        while (got < n) {
            const ssize_t r = pread(fd, buf.data() + got, n - got,
                                    static_cast<off_t>(pos + got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                if (r == 0)
                    errno = EIO;
                return false;
            }
            got += static_cast<size_t>(r);
        }
        pos += n;
        at = 0;
        have = n;
        return true;
    }
};

struct segment_head_t {
    uint64_t key, count;
};

// The runs [first, last) of fd (ends in bytes) merged into out by key, a
// tie to the earlier run: as segments again, or (values_only) as the
// values alone.
bool merge_keyed(int fd, const std::vector<uint64_t> &ends, size_t first,
                 size_t last, FILE *out, bool values_only, int *error)
{
    const size_t k = last - first;
    std::vector<run_reader_t> runs(k);
    std::vector<segment_head_t> head(k);
    std::vector<size_t> heap;
    const auto later = [&](size_t a, size_t b) {
        return head[a].key != head[b].key ? head[a].key > head[b].key : a > b;
    };
    const auto fail = [&] {
        *error = errno != 0 ? errno : EIO;
        return false;
    };
    for (size_t i = 0; i < k; ++i) {
        run_reader_t &r = runs[i];
        r.fd = fd;
        r.pos = first + i == 0 ? 0 : ends[first + i - 1];
        r.end = ends[first + i];
        r.buf.resize(size_t{32} << 10);
        if (!r.done()) {
            if (!r.get(&head[i], sizeof head[i]))
                return fail();
            heap.push_back(i);
        }
    }
    std::make_heap(heap.begin(), heap.end(), later);
    std::vector<double> piece(size_t{8} << 10);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        const size_t i = heap.back();
        errno = 0;
        if (!values_only &&
            std::fwrite(&head[i], sizeof head[i], 1, out) != 1)
            return fail();
        for (uint64_t left = head[i].count; left != 0;) {
            const size_t n = static_cast<size_t>(
                std::min<uint64_t>(left, piece.size()));
            if (!runs[i].get(piece.data(), n * sizeof(double)))
                return fail();
            if (std::fwrite(piece.data(), sizeof(double), n, out) != n)
                return fail();
            left -= n;
        }
        if (runs[i].done()) {
            heap.pop_back();
            continue;
        }
        if (!runs[i].get(&head[i], sizeof head[i]))
            return fail();
        std::push_heap(heap.begin(), heap.end(), later);
    }
    return true;
}

} // namespace

tally_keyed_runs_t::~tally_keyed_runs_t()
{
    if (file_ != nullptr)
        std::fclose(file_);
    if (merged_ != nullptr)
        std::fclose(merged_);
}

void tally_keyed_runs_t::write(const void *p, size_t bytes)
{
    if (error_ != 0 || bytes == 0)
        return;
    if (file_ == nullptr) {
        errno = 0;
        file_ = tallyf_tmpfile();
        if (file_ == nullptr) {
            error_ = errno != 0 ? errno : EIO;
            unmade_ = true;
            return;
        }
    }
    errno = 0;
    if (std::fwrite(p, 1, bytes, file_) != bytes)
        error_ = errno != 0 ? errno : ENOSPC;
    size_ += bytes;
}

void tally_keyed_runs_t::put(uint64_t key, const double *v, uint64_t n)
{
    if (n == 0)
        return;
    const segment_head_t h{key, n};
    write(&h, sizeof h);
    write(v, n * sizeof(double));
}

void tally_keyed_runs_t::end_run()
{
    if (ends_.empty() || ends_.back() != size_)
        ends_.push_back(size_);
}

bool tally_keyed_runs_t::merge(tally_error_t *err)
{
    int error = error_;
    if (error == 0 && file_ != nullptr && std::fflush(file_) != 0)
        error = errno != 0 ? errno : EIO;
    FILE *in = file_;
    std::vector<uint64_t> ends = ends_;
    while (error == 0 && in != nullptr) {
        const bool last_pass = ends.size() <= kFanIn;
        errno = 0;
        FILE *out = tallyf_tmpfile();
        if (out == nullptr) {
            error = errno != 0 ? errno : EIO;
            unmade_ = true;
            break;
        }
        std::vector<uint64_t> next;
        bool ok = true;
        for (size_t first = 0; ok && first < ends.size(); first += kFanIn) {
            const size_t last = std::min(ends.size(), first + kFanIn);
            ok = merge_keyed(fileno(in), ends, first, last, out, last_pass,
                             &error);
            next.push_back(static_cast<uint64_t>(std::ftell(out)));
        }
        if (ok && std::fflush(out) != 0) {
            error = errno != 0 ? errno : EIO;
            ok = false;
        }
        if (in != file_)
            std::fclose(in);
        in = nullptr;
        if (!ok) {
            std::fclose(out);
            break;
        }
        if (last_pass) {
            merged_ = out;
            break;
        }
        in = out;
        ends = std::move(next);
    }
    if (error != 0)
        return tally_fail_io(err,
                             unmade_ ? "cannot create temporary file"
                                     : "cannot write temporary file",
                             error);
    return true;
}

bool tally_keyed_runs_t::next(double *out, uint64_t n, tally_error_t *err)
{
    if (n == 0)
        return true;
    if (merged_ == nullptr || !read_at(fileno(merged_), out,
                                       read_ / sizeof(double), n))
        return tally_fail_io(err, "cannot read temporary file",
                             errno != 0 ? errno : EIO);
    read_ += n * sizeof(double);
    return true;
}

void tally_values_release_all()
{
    std::lock_guard<std::mutex> lock(runs_mutex);
    all_runs.clear();
}
