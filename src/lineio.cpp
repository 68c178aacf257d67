#include "lineio.h"

#include "failure.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// Reads up to n bytes; the count, 0 at the end of the input, -1 on error.
long readfd(int fd, char* buf, std::size_t n)
{
    for (;;) {
        const ssize_t got = ::read(fd, buf, n);
        if (got >= 0 || errno != EINTR)
            return static_cast<long>(got);
    }
}

// Writes all of s; false on error (errno set).
bool writefd(int fd, std::string_view s)
{
    while (!s.empty()) {
        const ssize_t put = ::write(fd, s.data(), s.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;  // no file takes nothing here; retrying would loop forever
            return false;
        }
        s.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

}  // namespace

bool readall(int fd, text& out)
{
    // A regular file is read in one go; the byte more shows its end.
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    out.resize(regular ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
    std::size_t len = 0;
    for (;;) {
        if (len == out.size())
            out.resize(2 * out.size());
        const long got = readfd(fd, out.data() + len, out.size() - len);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        len += static_cast<std::size_t>(got);
    }
    out.resize(len);
    return true;
}

linereader::linereader(int fd, std::size_t bufsize) : fd(fd), size(bufsize > 0 ? bufsize : 1), buf(new char[size]) {}

bool linereader::advance()
{
    for (;;) {
        const auto* nl = static_cast<const char*>(std::memchr(buf.get() + scan, '\n', end - scan));
        if (nl != nullptr) {
            from = mid;
            mid = to;
            to = scan = static_cast<std::size_t>(nl + 1 - buf.get());
            return true;
        }
        scan = end;  // a long line is searched once, not once per read
        if (eof) {
            if (to == end)
                return false;
            from = mid;
            mid = to;
            to = end;
            return true;
        }
        fill();
    }
}

void linereader::fill()
{
    if (mid > 0) {  // cur is no longer needed once the line after next is found
        std::memmove(buf.get(), buf.get() + mid, end - mid);
        to -= mid;
        scan -= mid;
        end -= mid;
        from = mid = 0;
    }
    if (end == size) {  // next and the line after it fill the buffer
        std::unique_ptr<char[]> more(new char[2 * size]);
        std::memcpy(more.get(), buf.get(), end);
        buf.swap(more);
        size *= 2;
    }
    const long got = readfd(fd, buf.get() + end, size - end);
    if (got < 0)
        syserror("Cant read input");
    eof = got == 0;
    end += static_cast<std::size_t>(got);
}

writer::writer(int fd, std::size_t bufsize)
    : fd(fd), size(bufsize > 0 ? bufsize : 1), bufs{std::unique_ptr<char[]>(new char[size])}
{
}

writer::~writer()
{
    if (!thread.joinable())
        return;
    {
        const std::lock_guard lock(m);
        stop = true;
    }
    changed.notify_all();
    thread.join();
}

void writer::flush()
{
    drain();
    if (!writefd(fd, {buf(), len}))
        syserror("Cant write output");
    len = 0;
}

void writer::spill(std::string_view s)
{
    handoff();
    if (s.size() >= size) {
        drain();
        if (!writefd(fd, s))
            syserror("Cant write output");
        return;
    }
    std::memcpy(buf() + len, s.data(), s.size());
    len += s.size();
}

// Gives the filled buffer to the thread and goes on in the other one.
void writer::handoff()
{
    if (len == 0)
        return;
    std::unique_lock lock(m);
    changed.wait(lock, [this] { return pending.empty(); });
    throwfailed();
    if (!thread.joinable() && !startthread()) {
        lock.unlock();
        flush();
        return;
    }
    pending = {buf(), len};
    lock.unlock();
    changed.notify_all();
    filling ^= 1;
    len = 0;
}

// Waits until the thread has written what it was given.
void writer::drain()
{
    std::unique_lock lock(m);
    changed.wait(lock, [this] { return pending.empty(); });
    throwfailed();
}

// Throws the thread's failure; m is held.
void writer::throwfailed() const
{
    if (error != 0) {
        errno = error;
        syserror("Cant write output");
    }
}

// Without the memory or a thread, the output is written in turn.
bool writer::startthread()
{
    if (nothread)
        return false;
    try {
        bufs[1].reset(new char[size]);
        thread = std::thread([this] { run(); });
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::system_error&) {
    }
    bufs[1].reset();
    nothread = true;
    return false;
}

void writer::run()
{
    std::unique_lock lock(m);
    for (;;) {
        changed.wait(lock, [this] { return stop || !pending.empty(); });
        if (pending.empty())
            return;
        const std::string_view out = pending;
        lock.unlock();
        const bool ok = writefd(fd, out);
        const int e = errno;
        lock.lock();
        // After a failure nothing more is given: the filter throws.
        if (!ok)
            error = e;
        pending = {};
        changed.notify_all();
    }
}
