#include "annotate.h"

#include "io.h"

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

constexpr std::string_view headerline = "struct pci_module_map scsi_pci_ids[] = {\n";
constexpr std::string_view closing = "};\n";

[[noreturn]] void fail(const char* what)
{
    throw failure(std::string(what) + ": " + std::strerror(errno));
}

// Whole lines of any length from a descriptor, newline included, as views
// into the reader's buffer. The filter holds two lines at a time, so each
// read keeps the line before it in the buffer too.
class linereader {
public:
    linereader(int fd, std::size_t size) : fd(fd), size(size > 0 ? size : 1), buf(new char[this->size]) {}

    // Sets line to the next line and moves prev, the line before it, along
    // with the buffer; false at the end of the input.
    bool getline(std::string_view& prev, std::string_view& line)
    {
        for (;;) {
            const auto* nl = static_cast<const char*>(std::memchr(buf.get() + scan, '\n', end - scan));
            if (nl != nullptr) {
                const std::size_t len = static_cast<std::size_t>(nl + 1 - buf.get()) - pos;
                line = {buf.get() + pos, len};
                pos += len;
                scan = pos;
                return true;
            }
            scan = end;  // a long line is searched once, not once per read
            if (eof) {
                line = {buf.get() + pos, end - pos};
                pos = scan = end;
                return !line.empty();
            }
            fill(prev);
        }
    }

private:
    // Reads more, first moving prev and the partial line to the front.
    void fill(std::string_view& prev)
    {
        const std::size_t keep = prev.empty() ? pos : static_cast<std::size_t>(prev.data() - buf.get());
        if (keep > 0) {
            std::memmove(buf.get(), buf.get() + keep, end - keep);
            end -= keep;
            pos -= keep;
            scan -= keep;
        }
        if (end == size) {  // a line longer than the buffer
            std::unique_ptr<char[]> more(new char[2 * size]);
            std::memcpy(more.get(), buf.get(), end);
            buf.swap(more);
            size *= 2;
        }
        if (!prev.empty())
            prev = {buf.get(), prev.size()};
        const long got = readfd(fd, buf.get() + end, size - end);
        if (got < 0)
            fail("Cant read input");
        eof = got == 0;
        end += static_cast<std::size_t>(got);
    }

    int fd;
    std::size_t size;
    std::unique_ptr<char[]> buf;
    std::size_t pos = 0;   // the start of the next line
    std::size_t scan = 0;  // where the search for its end goes on
    std::size_t end = 0;   // the end of what was read
    bool eof = false;
};

// Buffered output to a descriptor; every write is checked. While one buffer
// fills, a second thread writes the one filled before it, so that copying
// the output into the kernel overlaps the filter's own work. Output that
// fits one buffer is written at the end, without the thread.
class writer {
public:
    writer(int fd, std::size_t size) : fd(fd), size(size), bufs{std::unique_ptr<char[]>(new char[size])} {}

    writer(const writer&) = delete;
    writer& operator=(const writer&) = delete;

    ~writer()
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

    // Room for n bytes at the end of the buffer, or nullptr; commit(n)
    // keeps what was written there.
    char* room(std::size_t n) { return n <= size - len ? buf() + len : nullptr; }
    void commit(std::size_t n) { len += n; }

    void put(std::string_view s)
    {
        if (s.size() > size - len) {
            handoff();
            if (s.size() >= size) {
                drain();
                if (!writefd(fd, s))
                    fail("Cant write output");
                return;
            }
        }
        std::memcpy(buf() + len, s.data(), s.size());
        len += s.size();
    }

    // Writes all output given so far.
    void flush()
    {
        drain();
        if (!writefd(fd, {buf(), len}))
            fail("Cant write output");
        len = 0;
    }

private:
    char* buf() { return bufs[cur].get(); }

    // Gives the filled buffer to the thread and goes on in the other one.
    void handoff()
    {
        if (len == 0)
            return;
        std::unique_lock lock(m);
        changed.wait(lock, [this] { return pending.empty(); });
        failed();
        if (!thread.joinable() && !startthread()) {
            lock.unlock();
            flush();
            return;
        }
        pending = {buf(), len};
        lock.unlock();
        changed.notify_all();
        cur ^= 1;
        len = 0;
    }

    // Waits until the thread has written what it was given.
    void drain()
    {
        std::unique_lock lock(m);
        changed.wait(lock, [this] { return pending.empty(); });
        failed();
    }

    // Throws the thread's failure; m is held.
    void failed() const
    {
        if (error != 0) {
            errno = error;
            fail("Cant write output");
        }
    }

    // Without the memory or a thread, the output is written in turn.
    bool startthread()
    {
        if (!alone) {
            try {
                bufs[1].reset(new char[size]);
                thread = std::thread([this] { run(); });
                return true;
            } catch (const std::bad_alloc&) {
            } catch (const std::system_error&) {
            }
            bufs[1].reset();
            alone = true;
        }
        return false;
    }

    void run()
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

    int fd;
    std::size_t size;
    std::unique_ptr<char[]> bufs[2];
    int cur = 0;  // the buffer being filled
    std::size_t len = 0;
    bool alone = false;  // no thread could be started

    std::mutex m;  // guards what follows
    std::condition_variable changed;
    std::string_view pending;  // the other buffer, while the thread writes it
    int error = 0;             // errno of the thread's failed write
    bool stop = false;
    std::thread thread;
};

// Copies n bytes, sizeof(W) <= n <= 2 * sizeof(W), as two words that may
// overlap.
template <class W> void copyends(char* dst, const char* src, std::size_t n)
{
    W a{};
    W b{};
    std::memcpy(&a, src, sizeof a);
    std::memcpy(&b, src + n - sizeof b, sizeof b);
    std::memcpy(dst, &a, sizeof a);
    std::memcpy(dst + n - sizeof b, &b, sizeof b);
}

// Copies n bytes, usually a few, without a call to memcpy: a module name or
// the end of a line. Reads nothing outside [src, src + n).
inline char* copyshort(char* dst, const char* src, std::size_t n)
{
    if (n > 16) {
        std::memcpy(dst, src, n);
    } else if (n >= 8) {
        copyends<std::uint64_t>(dst, src, n);
    } else if (n >= 4) {
        copyends<std::uint32_t>(dst, src, n);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = src[i];
    }
    return dst + n;
}

// Writes cur with ", ( \"mapped\" )" inserted after its last closing
// parenthesis, at strp.
inline void putcopy(writer& w, std::string_view cur, std::size_t strp, std::string_view mapped)
{
    constexpr std::string_view open = ", ( \"";
    constexpr std::string_view close = "\" )";
    const std::size_t n = cur.size() + open.size() + mapped.size() + close.size();
    char* p = w.room(n);
    if (p == nullptr) {
        w.put(cur.substr(0, strp + 1));
        w.put(open);
        w.put(mapped);
        w.put(close);
        w.put(cur.substr(strp + 1));
        return;
    }
    std::memcpy(p, cur.data(), strp + 1);
    p += strp + 1;
    std::memcpy(p, open.data(), open.size());
    p = copyshort(p + open.size(), mapped.data(), mapped.size());
    std::memcpy(p, close.data(), close.size());
    copyshort(p + close.size(), cur.data() + strp + 1, cur.size() - strp - 1);
    w.commit(n);
}

// Where the parts of a line with double quotes stand. Its key is the text
// between its first and its last double quote.
struct shape {
    std::size_t quote = std::string_view::npos;  // the first double quote
    std::size_t end = std::string_view::npos;    // the last one
    std::size_t strp = std::string_view::npos;   // the last closing parenthesis
    std::uint64_t hash = 0;                      // of the key
};

// The shape of a line; the lookup of its key starts fetching the table's
// memory while the line before it is written.
shape shapeof(std::string_view line, const maptable& t)
{
    shape s;
    s.quote = line.find('"');
    if (s.quote == std::string_view::npos)
        return s;
    // Searched from the end, where both usually stand a few bytes before it.
    s.end = static_cast<std::size_t>(static_cast<const char*>(::memrchr(line.data(), '"', line.size())) - line.data());
    const auto* strp = static_cast<const char*>(::memrchr(line.data(), ')', line.size()));
    if (strp != nullptr)
        s.strp = static_cast<std::size_t>(strp - line.data());
    if (s.end != s.quote && s.strp != std::string_view::npos) {
        s.hash = maptable::hash(line.substr(s.quote + 1, s.end - s.quote - 1));
        t.prefetch(s.hash);
    }
    return s;
}

// Writes an entry line once per record whose name is the line's key, or once
// as "UNKNOWN".
void putentry(writer& w, std::string_view cur, const shape& s, const maptable& t)
{
    // With one quote there is no key, and without a parenthesis no place for
    // the annotation: such a line goes out as it came.
    if (s.quote == s.end || s.strp == std::string_view::npos) {
        w.put(cur);
        return;
    }
    const std::string_view key = cur.substr(s.quote + 1, s.end - s.quote - 1);
    bool first = true;
    for (std::size_t i = t.find(key, s.hash); i != maptable::none; i = t.after(i)) {
        putcopy(w, cur, s.strp, t.map[i].module);
        first = false;
    }
    if (first)
        putcopy(w, cur, s.strp, "UNKNOWN");
}

}  // namespace

void annotate(int in, int out, const maptable& t, std::size_t bufsize)
{
    linereader r(in, bufsize);
    writer w(out, bufsize);
    std::string_view cur;
    if (r.getline(cur, cur)) {  // no line before the first: cur is still empty
        std::string_view next;
        bool seen = false;
        shape curshape;
        while (r.getline(cur, next)) {
            const bool header = cur == headerline;
            const shape nextshape = seen || header ? shapeof(next, t) : shape{};
            if (header) {
                seen = true;
                w.put(cur);
            } else if (seen && curshape.quote != std::string_view::npos) {
                putentry(w, cur, curshape, t);
            } else if (seen && next == closing && cur.ends_with(",\n")) {
                // The last entry before the closing line loses its comma.
                w.put(cur.substr(0, cur.size() - 2));
                w.put("\n");
            } else {
                w.put(cur);
            }
            // The next line's slot has come while this one was written.
            if (nextshape.hash != 0)
                t.warm(nextshape.hash);
            cur = next;
            curshape = nextshape;
        }
        // The last line goes out unchanged, whatever it holds.
        w.put(cur);
    }
    w.flush();
}
