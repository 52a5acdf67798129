// Temporary files for the values a record keeps on disk.
#include "tmp-file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {

// Opens an anonymous file for reading and writing in $TMPDIR (or /tmp):
// a descriptor, or -1 with errno set.
int open_tmp_fd()
{
    const char *dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0')
        dir = "/tmp";
    int fd = -1;
#if defined(O_TMPFILE)
    fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return -1; // the folder itself is the problem
#endif
    if (fd < 0) {
        // No unnamed files here: make a named one and remove its name.
        // (No exception from here: a stream's write calls this through C.)
        static const char name[] = "/numtally.XXXXXX";
        const size_t dir_len = std::strlen(dir);
        char *path = static_cast<char *>(std::malloc(dir_len + sizeof name));
        if (path == nullptr) {
            errno = ENOMEM;
            return -1;
        }
        std::memcpy(path, dir, dir_len);
        std::memcpy(path + dir_len, name, sizeof name);
        fd = mkostemp(path, O_CLOEXEC);
        const int saved = errno;
        if (fd >= 0)
            unlink(path);
        std::free(path);
        errno = saved;
    }
    return fd;
}

#if defined(__GLIBC__)
// A temporary file that costs nothing until it is used: the stream exists
// from the start, its backing file is made on the first write (or when
// asked for).  Until then it is an empty file: reads find its end, seeks
// move a position that the backing file takes over.
struct LazyTmp {
    LazyTmp *next; // every open lazy stream, to find a stream's backing file
    FILE *stream;
    int fd;        // -1 until the backing file is made
    off64_t pos;   // the position while there is no backing file
};

// The list is shared by every thread: under lazy_mutex, which a fork
// waits for so that the child's copy is never left locked.
LazyTmp *lazy_streams = nullptr;
std::mutex lazy_mutex;

[[maybe_unused]] const int lazy_fork_handlers = pthread_atfork(
    [] { lazy_mutex.lock(); }, [] { lazy_mutex.unlock(); },
    [] { lazy_mutex.unlock(); });

LazyTmp *lazy_of(FILE *f)
{
    std::lock_guard<std::mutex> lock(lazy_mutex);
    for (LazyTmp *c = lazy_streams; c != nullptr; c = c->next)
        if (c->stream == f)
            return c;
    return nullptr;
}

// Makes the backing file if there is none yet: false, with errno set, when
// it cannot be made.
bool back(LazyTmp *c)
{
    if (c->fd >= 0)
        return true;
    const int fd = open_tmp_fd();
    if (fd < 0)
        return false;
    if (c->pos != 0 && lseek64(fd, c->pos, SEEK_SET) < 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return false;
    }
    c->fd = fd;
    return true;
}

ssize_t lazy_read(void *cookie, char *buf, size_t size)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    if (c->fd < 0)
        return 0; // nothing was ever written
    for (;;) {
        const ssize_t n = read(c->fd, buf, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// Writes all or reports an error: stdio marks the stream failed on a short
// count, so a lost value is never silent.
ssize_t lazy_write(void *cookie, const char *buf, size_t size)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    if (!back(c))
        return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(c->fd, buf + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done != 0 ? static_cast<ssize_t>(done) : -1;
        }
        if (n == 0) {
            errno = ENOSPC;
            return static_cast<ssize_t>(done);
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int lazy_seek(void *cookie, off64_t *offset, int whence)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    if (c->fd >= 0) {
        const off64_t at = lseek64(c->fd, *offset, whence);
        if (at < 0)
            return -1;
        *offset = at;
        return 0;
    }
    off64_t at;
    switch (whence) {
    case SEEK_SET:
        at = *offset;
        break;
    case SEEK_CUR:
        at = c->pos + *offset;
        break;
    case SEEK_END: // the file is empty
        at = *offset;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    if (at < 0) {
        errno = EINVAL;
        return -1;
    }
    c->pos = at;
    *offset = at;
    return 0;
}

int lazy_close(void *cookie)
{
    LazyTmp *c = static_cast<LazyTmp *>(cookie);
    {
        std::lock_guard<std::mutex> lock(lazy_mutex);
        for (LazyTmp **p = &lazy_streams; *p != nullptr; p = &(*p)->next) {
            if (*p == c) {
                *p = c->next;
                break;
            }
        }
    }
    const int status = c->fd >= 0 ? close(c->fd) : 0;
    std::free(c);
    return status;
}
#endif

} // namespace

FILE *tallyf_tmpfile(void)
{
    const int fd = open_tmp_fd();
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "w+");
    if (f == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return f;
}

FILE *tallyf_tmpfile_lazy(void)
{
#if defined(__GLIBC__)
    LazyTmp *c = static_cast<LazyTmp *>(std::malloc(sizeof(LazyTmp)));
    if (c == nullptr)
        return nullptr;
    c->fd = -1;
    c->pos = 0;
    static const cookie_io_functions_t io = {lazy_read, lazy_write, lazy_seek,
                                             lazy_close};
    c->stream = fopencookie(c, "w+", io);
    if (c->stream == nullptr) {
        std::free(c);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(lazy_mutex);
    c->next = lazy_streams;
    lazy_streams = c;
    return c->stream;
#else
    return tallyf_tmpfile();
#endif
}

int tallyf_tmpfile_back(FILE *f)
{
#if defined(__GLIBC__)
    if (LazyTmp *c = lazy_of(f))
        return back(c) ? 0 : -1;
#endif
    (void)f;
    return 0;
}

int tallyf_tmpfile_size(FILE *f, uint64_t *size)
{
    int fd = -1;
#if defined(__GLIBC__)
    if (LazyTmp *c = lazy_of(f)) {
        if (c->fd < 0) {
            *size = 0;
            return 0;
        }
        fd = c->fd;
    }
#endif
    if (fd < 0)
        fd = fileno(f);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return -1;
    *size = static_cast<uint64_t>(st.st_size);
    return 0;
}
