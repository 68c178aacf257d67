#include "annotate.h"

#include "io.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::string_view header = "struct pci_module_map scsi_pci_ids[] = {\n";
constexpr std::string_view closing = "};\n";
constexpr std::size_t bufsize = 128 * 1024;

[[noreturn]] void fail(const char* what)
{
    throw failure(std::string(what) + ": " + std::strerror(errno));
}

// Whole lines of any length from a descriptor, newline included.
class linereader {
public:
    explicit linereader(int fd) : fd(fd), buf(new char[bufsize]) {}

    // Replaces line with the next line; false at the end of the input.
    bool getline(std::string& line)
    {
        line.clear();
        for (;;) {
            const char* from = buf.get() + beg;
            const auto* nl = static_cast<const char*>(std::memchr(from, '\n', end - beg));
            if (nl != nullptr) {
                line.append(from, nl + 1);
                beg += static_cast<std::size_t>(nl + 1 - from);
                return true;
            }
            line.append(from, end - beg);
            beg = end = 0;
            if (eof)
                return !line.empty();
            const long got = readfd(fd, buf.get(), bufsize);
            if (got < 0)
                fail("Cant read input");
            eof = got == 0;
            end = static_cast<std::size_t>(got);
        }
    }

private:
    int fd;
    std::unique_ptr<char[]> buf;
    std::size_t beg = 0;
    std::size_t end = 0;
    bool eof = false;
};

// Buffered output to a descriptor; every write is checked.
class writer {
public:
    explicit writer(int fd) : fd(fd), buf(new char[bufsize]) {}

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
    w.put(cur.substr(0, strp + 1));
    w.put(", ( \"");
    w.put(mapped);
    w.put("\" )");
    w.put(cur.substr(strp + 1));
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
    std::string cur;
    std::string next;
    bool seen = false;
    if (r.getline(cur)) {
        while (r.getline(next)) {
            if (cur == header) {
                seen = true;
                w.put(cur);
            } else if (seen && cur.find('"') != std::string::npos) {
                putentry(w, cur, t);
            } else if (seen && next == closing && cur.ends_with(",\n")) {
                // The last entry before the closing line loses its comma.
                w.put(std::string_view(cur).substr(0, cur.size() - 2));
                w.put("\n");
            } else {
                w.put(cur);
            }
            cur.swap(next);
        }
        // The last line goes out unchanged, whatever it holds.
        w.put(cur);
    }
    w.flush();
}
