#include "annotate.h"

#include "io.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::string_view header = "struct pci_module_map scsi_pci_ids[] = {\n";
constexpr std::string_view closing = "};\n";
constexpr std::size_t bufsize = 128 * 1024;

[[noreturn]] void fail(const char* what)
{
    throw failure(std::string(what) + ": " + std::strerror(errno));
}

// Whole lines of any length from a descriptor, newline included, as views
// into the reader's buffer. The filter holds two lines at a time, so each
// read keeps the line before it in the buffer too.
class linereader {
public:
    explicit linereader(int fd) : fd(fd), buf(bufsize) {}

    // Sets line to the next line and moves prev, the line before it, along
    // with the buffer; false at the end of the input.
    bool getline(std::string_view& prev, std::string_view& line)
    {
        for (;;) {
            const auto* nl = static_cast<const char*>(std::memchr(buf.data() + pos, '\n', end - pos));
            if (nl != nullptr) {
                const std::size_t len = static_cast<std::size_t>(nl + 1 - buf.data()) - pos;
                line = {buf.data() + pos, len};
                pos += len;
                return true;
            }
            if (eof) {
                line = {buf.data() + pos, end - pos};
                pos = end;
                return !line.empty();
            }
            fill(prev);
        }
    }

private:
    // Reads more, first moving prev and the partial line to the front.
    void fill(std::string_view& prev)
    {
        const std::size_t keep = prev.empty() ? pos : static_cast<std::size_t>(prev.data() - buf.data());
        std::memmove(buf.data(), buf.data() + keep, end - keep);
        end -= keep;
        pos -= keep;
        if (end == buf.size())
            buf.resize(2 * buf.size());  // a line longer than the buffer
        if (!prev.empty())
            prev = {buf.data(), prev.size()};
        const long got = readfd(fd, buf.data() + end, buf.size() - end);
        if (got < 0)
            fail("Cant read input");
        eof = got == 0;
        end += static_cast<std::size_t>(got);
    }

    int fd;
    std::vector<char> buf;
    std::size_t pos = 0;  // the start of the next line
    std::size_t end = 0;  // the end of what was read
    bool eof = false;
};

// Buffered output to a descriptor; every write is checked.
class writer {
public:
    explicit writer(int fd) : fd(fd), buf(new char[bufsize]) {}

    void put(std::initializer_list<std::string_view> parts)
    {
        std::size_t n = 0;
        for (const std::string_view s : parts)
            n += s.size();
        if (n > bufsize - len) {
            for (const std::string_view s : parts)
                put(s);
            return;
        }
        char* p = buf.get() + len;
        for (const std::string_view s : parts) {
            std::memcpy(p, s.data(), s.size());
            p += s.size();
        }
        len += n;
    }

    void put(std::string_view s)
    {
        if (s.size() > bufsize - len) {
            flush();
            if (s.size() >= bufsize) {
                if (!writefd(fd, s))
                    fail("Cant write output");
                return;
            }
        }
        std::memcpy(buf.get() + len, s.data(), s.size());
        len += s.size();
    }

    void flush()
    {
        if (!writefd(fd, {buf.get(), len}))
            fail("Cant write output");
        len = 0;
    }

private:
    int fd;
    std::unique_ptr<char[]> buf;
    std::size_t len = 0;
};

// Writes cur with ", ( \"mapped\" )" inserted after its last closing
// parenthesis, at strp.
void putcopy(writer& w, std::string_view cur, std::size_t strp, std::string_view mapped)
{
    w.put({cur.substr(0, strp + 1), ", ( \"", mapped, "\" )", cur.substr(strp + 1)});
}

// Writes an entry line once per record whose name is the line's key, the
// text between its first and last double quote, or once as "UNKNOWN".
void putentry(writer& w, std::string_view cur, const maptable& t)
{
    const std::size_t quote = cur.find('"');
    const std::size_t end = cur.rfind('"');
    const std::size_t strp = cur.rfind(')');
    // With one quote there is no key, and without a parenthesis no place for
    // the annotation: such a line goes out as it came.
    if (quote == end || strp == std::string_view::npos) {
        w.put(cur);
        return;
    }
    const std::string_view key = cur.substr(quote + 1, end - quote - 1);
    bool first = true;
    for (std::size_t i = t.find(key); i != maptable::none; i = t.after(i)) {
        putcopy(w, cur, strp, t.map[i].module);
        first = false;
    }
    if (first)
        putcopy(w, cur, strp, "UNKNOWN");
}

}  // namespace

void annotate(int in, int out, const maptable& t)
{
    linereader r(in);
    writer w(out);
    std::string_view cur;
    std::string_view next;
    bool seen = false;
    if (r.getline(cur, cur)) {
        while (r.getline(cur, next)) {
            if (cur == header) {
                seen = true;
                w.put(cur);
            } else if (seen && cur.find('"') != std::string_view::npos) {
                putentry(w, cur, t);
            } else if (seen && next == closing && cur.ends_with(",\n")) {
                // The last entry before the closing line loses its comma.
                w.put({cur.substr(0, cur.size() - 2), "\n"});
            } else {
                w.put(cur);
            }
            cur = next;
        }
        // The last line goes out unchanged, whatever it holds.
        w.put(cur);
    }
    w.flush();
}
