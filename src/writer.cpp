#include "writer.h"

#include "failure.h"
#include "fdio.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <unistd.h>

namespace {

// The buffer starts small, so that a table of real size touches little
// fresh memory, and doubles each time eight buffers full have been written,
// so that a large output takes few system calls.
constexpr std::size_t fullsize = std::size_t{512} * 1024;

}  // namespace

writer::writer(int fd, std::size_t bufsize) : fd(fd), size(bufsize > 0 ? bufsize : 1), buf(new char[size]) {}

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
    wait();
    if (len > 0 && !writefd(fd, {buf.get(), len}))
        syserror("Cant write output");
    total += len;
    len = 0;
}

void writer::close()
{
    flush();
    if (::close(fd) != 0)
        syserror("Cant write output");
}

// s does not fit behind what the buffer holds.
void writer::putfull(std::string_view s)
{
    if (thread.joinable()) {
        give();
    } else {
        flush();
        if (size < fullsize && total >= 8 * size) {
            buf.reset(new char[2 * size]);
            size *= 2;
            if (size >= fullsize)
                startthread();
        }
    }
    if (s.size() >= size) {
        wait();
        if (!writefd(fd, s))
            syserror("Cant write output");
        total += s.size();
        return;
    }
    std::memcpy(buf.get(), s.data(), s.size());
    len = s.size();
}

// From now on, a second thread writes each full buffer while the filter
// fills the other, so that the kernel's copy of a large output overlaps the
// filter's work. Without the memory or a thread, the output is written in
// turn.
void writer::startthread()
{
    try {
        spare.reset(new char[size]);
        thread = std::thread([this] { work(); });
    } catch (const std::bad_alloc&) {
        spare.reset();
    } catch (const std::system_error&) {
        spare.reset();
    }
}

// Gives the full buffer to the thread and goes on in the other one.
void writer::give()
{
    if (len == 0)
        return;
    wait();
    {
        const std::lock_guard lock(m);
        pending = {buf.get(), len};
    }
    changed.notify_all();
    buf.swap(spare);
    total += len;
    len = 0;
}

// Waits until the thread has written what it was given; throws its failure.
void writer::wait()
{
    if (!thread.joinable())
        return;
    std::unique_lock lock(m);
    changed.wait(lock, [this] { return pending.empty(); });
    if (error != 0) {
        errno = error;
        syserror("Cant write output");
    }
}

void writer::work()
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
        // After a failure the thread is given nothing more: wait() throws.
        if (!ok)
            error = e;
        pending = {};
        changed.notify_all();
    }
}
