// The run's input: files in order, decompressed where they are compressed.
#include "input.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

#include <zlib.h>
#include <zstd.h>

namespace {

enum class format_t { unknown, plain, gzip, zstd };

// The compressed bytes read ahead, and for plain input the first bytes read
// to tell the format.
constexpr size_t RAW_SIZE = size_t{1} << 17;

// A header line longer than this is compared by its first bytes only.
constexpr size_t HEADER_KEEP = size_t{1} << 20;

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

} // namespace

struct tally_input_t {
    std::vector<const char *> files;
    bool header = false;
    xt_dsv_source_t source{};

    // The file being read.
    size_t index = 0;
    int fd = -1;
    bool opened = false;   // files[index] has been opened
    format_t format = format_t::unknown;
    unsigned char *raw = nullptr;
    size_t raw_at = 0, raw_end = 0; // unread raw bytes: raw[raw_at, raw_end)
    bool raw_eof = false;
    z_stream z{};
    bool z_ready = false;
    bool z_ended = false;  // the last gzip member ended
    ZSTD_DStream *zs = nullptr;
    size_t zstd_left = 0;  // ZSTD_decompressStream's last hint: 0 at a frame end
    bool produced = false; // the file gave bytes
    unsigned char last = '\n';
    bool dropping = false; // the file's header line is being left out
    bool bom_check = false;
    std::string line;      // the header line being left out, or the first's
    bool capturing = false;
    std::string first_header;

    // Where each file's lines start among the rows the run counts.
    std::vector<uint64_t> start_row;
    std::vector<uint64_t> first_line;
    uint64_t newlines = 0;

    bool named = false;    // files were named on the command line

    // The failure, if any.
    bool failed = false;
    int read_errno = 0;    // a read error of standard input alone
    tally_error_t error;

    // Progress on a terminal.
    bool progress = false;
    bool drawn = false;
    double started = 0, drawn_at = 0;
    uint64_t raw_total = 0; // bytes of the regular files, 0: unknown
    uint64_t raw_read = 0;
    uint64_t bytes_out = 0;

    const char *name() const
    {
        return std::strcmp(files[index], "-") == 0 ? "standard input"
                                                    : files[index];
    }

    bool fail(int status, const std::string &what)
    {
        failed = true;
        error.status = status;
        error.usage = false;
        error.message = "numtally: " + what + "\n";
        return false;
    }

    // A read error: named by the file where files were named; on standard
    // input alone, handed to the reader, whose run reports it as ever.
    bool read_failed(int errnum)
    {
        if (!named) {
            read_errno = errnum;
            failed = true;
            return false;
        }
        return fail(EX_IOERR, std::string(name()) + ": read error: " +
                                  std::strerror(errnum));
    }

    // Reads more raw bytes after the unread ones; false on a read error.
    bool refill()
    {
        if (raw_at != 0) {
            std::memmove(raw, raw + raw_at, raw_end - raw_at);
            raw_end -= raw_at;
            raw_at = 0;
        }
        while (!raw_eof && raw_end < RAW_SIZE) {
            const ssize_t n = ::read(fd, raw + raw_end, RAW_SIZE - raw_end);
            if (n > 0) {
                raw_end += static_cast<size_t>(n);
                raw_read += static_cast<uint64_t>(n);
                return true;
            }
            if (n == 0) {
                raw_eof = true;
            } else if (errno != EINTR) {
                return read_failed(errno);
            }
        }
        return true;
    }

    bool open_file()
    {
        const char *path = files[index];
        if (std::strcmp(path, "-") == 0) {
            fd = 0;
        } else {
            fd = ::open(path, O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return fail(EX_NOINPUT, std::string(path) + ": " +
                                            std::strerror(errno));
        }
        opened = true;
        format = format_t::unknown;
        raw_at = raw_end = 0;
        raw_eof = false;
        produced = false;
        dropping = header && index != 0;
        bom_check = index != 0;
        capturing = header && index == 0;
        line.clear();
        start_row.push_back(newlines + 1);
        first_line.push_back(dropping ? 2 : 1);
        return true;
    }

    void close_file()
    {
        if (fd > 0)
            ::close(fd);
        fd = -1;
        opened = false;
        ++index;
    }

    // Tells the format by the first bytes.
    bool detect()
    {
        while (raw_end - raw_at < 4 && !raw_eof)
            if (!refill())
                return false;
        const unsigned char *b = raw + raw_at;
        const size_t have = raw_end - raw_at;
        if (have >= 2 && b[0] == 0x1f && b[1] == 0x8b) {
            format = format_t::gzip;
            if (!z_ready) {
                z = z_stream{};
                if (inflateInit2(&z, 15 + 16) != Z_OK)
                    return fail(EX_OSERR, "out of memory");
                z_ready = true;
            } else {
                inflateReset(&z);
            }
            z_ended = false;
        } else if (have >= 4 && b[0] == 0x28 && b[1] == 0xb5 && b[2] == 0x2f &&
                   b[3] == 0xfd) {
            format = format_t::zstd;
            if (zs == nullptr && (zs = ZSTD_createDStream()) == nullptr)
                return fail(EX_OSERR, "out of memory");
            ZSTD_initDStream(zs);
            zstd_left = 1;
        } else {
            format = format_t::plain;
        }
        return true;
    }

    bool corrupt(const char *kind, const char *what)
    {
        return fail(EX_DATAERR, std::string(name()) + ": " + what + " " + kind +
                                    " input");
    }

    // The file's next decoded bytes: 0 at its end or on a failure.
    size_t decoded(unsigned char *dst, size_t room)
    {
        if (format == format_t::unknown && !detect())
            return 0;
        switch (format) {
        case format_t::plain: {
            if (raw_at < raw_end) {
                const size_t n = std::min(room, raw_end - raw_at);
                std::memcpy(dst, raw + raw_at, n);
                raw_at += n;
                return n;
            }
            for (;;) {
                const ssize_t n = ::read(fd, dst, room);
                if (n >= 0) {
                    raw_read += static_cast<uint64_t>(n);
                    return static_cast<size_t>(n);
                }
                if (errno != EINTR) {
                    read_failed(errno);
                    return 0;
                }
            }
        }
        case format_t::gzip:
            for (;;) {
                if (z_ended) {
                    // Another member may follow, as gzip writes them.
                    if (raw_at == raw_end && !raw_eof && !refill())
                        return 0;
                    if (raw_at == raw_end)
                        return 0;
                    if (raw_end - raw_at < 2 && !raw_eof && !refill())
                        return 0;
                    if (raw_end - raw_at < 2 || raw[raw_at] != 0x1f ||
                        raw[raw_at + 1] != 0x8b) {
                        corrupt("gzip", "corrupt");
                        return 0;
                    }
                    inflateReset(&z);
                    z_ended = false;
                }
                if (raw_at == raw_end && !raw_eof && !refill())
                    return 0;
                z.next_in = raw + raw_at;
                z.avail_in = static_cast<uInt>(raw_end - raw_at);
                z.next_out = dst;
                z.avail_out = static_cast<uInt>(std::min<size_t>(room, UINT32_MAX));
                const int ret = inflate(&z, Z_NO_FLUSH);
                raw_at = raw_end - z.avail_in;
                const size_t n = static_cast<size_t>(z.next_out - dst);
                if (ret == Z_STREAM_END)
                    z_ended = true;
                else if (ret != Z_OK && ret != Z_BUF_ERROR) {
                    corrupt("gzip", "corrupt");
                    return 0;
                }
                if (n != 0)
                    return n;
                if (!z_ended && raw_at == raw_end && raw_eof) {
                    corrupt("gzip", "truncated");
                    return 0;
                }
            }
        case format_t::zstd:
            for (;;) {
                if (raw_at == raw_end && !raw_eof && !refill())
                    return 0;
                // (With no input left, the call still hands out what the
                // decoder holds.)
                ZSTD_inBuffer in{raw + raw_at, raw_end - raw_at, 0};
                ZSTD_outBuffer out{dst, room, 0};
                const size_t ret = ZSTD_decompressStream(zs, &out, &in);
                raw_at += in.pos;
                if (ZSTD_isError(ret)) {
                    corrupt("zstd", "corrupt");
                    return 0;
                }
                // (A call that moved nothing tells the size of a next
                // frame's header, not that this one is unfinished.)
                if (in.pos != 0 || out.pos != 0)
                    zstd_left = ret;
                if (out.pos != 0)
                    return out.pos;
                if (raw_at == raw_end && raw_eof) {
                    if (zstd_left != 0)
                        corrupt("zstd", "truncated");
                    return 0;
                }
            }
        case format_t::unknown:
            break;
        }
        return 0;
    }

    // Leaves out the first n bytes at dst.
    static size_t drop(unsigned char *dst, size_t n, size_t k)
    {
        std::memmove(dst, dst + k, n - k);
        return n - k;
    }

    static std::string without_cr(const std::string &s)
    {
        return !s.empty() && s.back() == '\r' ? s.substr(0, s.size() - 1) : s;
    }

    // The bytes of the file just decoded into dst, as the run reads them.
    size_t settle(unsigned char *dst, size_t n)
    {
        if (bom_check && n >= 3) {
            bom_check = false;
            if (dst[0] == 0xef && dst[1] == 0xbb && dst[2] == 0xbf)
                n = drop(dst, n, 3);
        }
        if (dropping) {
            const unsigned char *nl =
                static_cast<const unsigned char *>(std::memchr(dst, '\n', n));
            const size_t k = nl != nullptr ? static_cast<size_t>(nl - dst) : n;
            if (line.size() < HEADER_KEEP)
                line.append(reinterpret_cast<const char *>(dst),
                            std::min(k, HEADER_KEEP - line.size()));
            if (nl == nullptr)
                return 0;
            dropping = false;
            if (without_cr(line) != without_cr(first_header)) {
                fail(EX_DATAERR, std::string(name()) +
                                     ": its header line differs from " +
                                     files[0] + "'s");
                return 0;
            }
            n = drop(dst, n, k + 1);
        }
        if (capturing) {
            const unsigned char *nl =
                static_cast<const unsigned char *>(std::memchr(dst, '\n', n));
            const size_t k = nl != nullptr ? static_cast<size_t>(nl - dst) : n;
            if (first_header.size() < HEADER_KEEP)
                first_header.append(reinterpret_cast<const char *>(dst),
                                    std::min(k, HEADER_KEEP - first_header.size()));
            capturing = nl == nullptr;
        }
        if (n != 0) {
            produced = true;
            last = dst[n - 1];
            if (files.size() > 1)
                newlines += static_cast<uint64_t>(
                    std::count(dst, dst + n, static_cast<unsigned char>('\n')));
        }
        return n;
    }

    void show_progress()
    {
        const double t = now();
        if (t - started < 1.0 || t - drawn_at < 0.25)
            return;
        drawn_at = t;
        char line_text[120];
        const double mb = static_cast<double>(raw_read) / 1e6;
        int len;
        if (raw_total != 0 && raw_read <= raw_total && raw_read != 0) {
            const double part = static_cast<double>(raw_read) /
                                static_cast<double>(raw_total);
            const double left = (t - started) * (1 - part) / part;
            len = std::snprintf(line_text, sizeof line_text,
                                "\rnumtally: %.0f MB read, %.0f%%, %d:%02d left ",
                                mb, 100 * part, static_cast<int>(left) / 60,
                                static_cast<int>(left) % 60);
        } else {
            len = std::snprintf(line_text, sizeof line_text,
                                "\rnumtally: %.0f MB read ", mb);
        }
        if (len > 0 && ::write(2, line_text, static_cast<size_t>(len)) > 0)
            drawn = true;
    }

    size_t read(unsigned char *dst, size_t room, int *err)
    {
        for (;;) {
            if (failed) {
                *err = read_errno != 0 ? read_errno : EIO;
                return 0;
            }
            if (!opened) {
                if (index == files.size()) {
                    finish();
                    return 0;
                }
                if (!open_file())
                    continue;
            }
            size_t n = decoded(dst, room);
            if (failed)
                continue;
            if (n == 0) {
                // The file's end: a line end before the next file's bytes.
                const bool more = index + 1 < files.size();
                const bool end_line = more && produced && last != '\n';
                close_file();
                if (end_line) {
                    dst[0] = '\n';
                    last = '\n';
                    ++newlines;
                    return 1;
                }
                continue;
            }
            n = settle(dst, n);
            if (progress)
                show_progress();
            if (n != 0)
                return n;
        }
    }

    void finish()
    {
        if (drawn) {
            static const char blank[] =
                "\r                                                      \r";
            if (::write(2, blank, sizeof blank - 1) < 0) {
                // Nothing to be done: the line stays.
            }
            drawn = false;
        }
        progress = false;
    }
};

namespace {

size_t source_read(void *ctx, unsigned char *dst, size_t room, int *error)
{
    return static_cast<tally_input_t *>(ctx)->read(dst, room, error);
}

} // namespace

tally_input_t *tally_input_open(const std::vector<const char *> &files,
                                bool header)
{
    static tally_input_t in;
    in.files = files;
    in.named = !files.empty();
    if (in.files.empty())
        in.files.push_back("-");
    in.header = header;
    in.source = {source_read, &in};
    static unsigned char raw[RAW_SIZE];
    in.raw = raw;
    in.progress = isatty(2) == 1;
    if (in.progress) {
        in.started = in.drawn_at = now();
        for (const char *f : in.files) {
            struct stat st;
            const bool regular = std::strcmp(f, "-") == 0
                                     ? fstat(0, &st) == 0 && S_ISREG(st.st_mode)
                                     : stat(f, &st) == 0 && S_ISREG(st.st_mode);
            if (!regular) {
                in.raw_total = 0;
                break;
            }
            in.raw_total += static_cast<uint64_t>(st.st_size);
        }
    }
    return &in;
}

const xt_dsv_source_t *tally_input_source(tally_input_t *in)
{
    return &in->source;
}

bool tally_input_failed(const tally_input_t *in, tally_error_t *err)
{
    if (!in->failed || in->read_errno != 0)
        return false;
    *err = in->error;
    return true;
}

void tally_input_finish(tally_input_t *in) { in->finish(); }

bool tally_input_plain(tally_input_t *in)
{
    if (in->failed || in->index != 0)
        return false;
    if (!in->opened && !in->open_file())
        return false;
    if (in->format == format_t::unknown && !in->detect())
        return false;
    return !in->failed && in->format == format_t::plain;
}

void tally_input_read_elsewhere(tally_input_t *in)
{
    in->start_row.assign(1, 1);
    in->first_line.assign(1, 1);
}

void tally_input_progress(tally_input_t *in, uint64_t bytes)
{
    if (!in->progress)
        return;
    in->raw_read = bytes;
    in->show_progress();
}

void tally_input_name_rows(const tally_input_t *in, tally_error_t *err)
{
    std::string &m = err->message;
    const size_t at = m.find("row ");
    if (at == std::string::npos || (at != 0 && m[at - 1] != ' ') ||
        in->start_row.empty())
        return;
    size_t end = at + 4;
    uint64_t row = 0;
    while (end < m.size() && m[end] >= '0' && m[end] <= '9')
        row = row * 10 + static_cast<uint64_t>(m[end++] - '0');
    if (end == at + 4)
        return;
    size_t k = 0;
    while (k + 1 < in->start_row.size() && in->start_row[k + 1] <= row)
        ++k;
    const uint64_t line = row - in->start_row[k] + in->first_line[k];
    const char *file = std::strcmp(in->files[k], "-") == 0 ? "standard input"
                                                            : in->files[k];
    m.replace(at, end - at, std::string(file) + " line " + std::to_string(line));
}
