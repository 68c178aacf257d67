#include "annotate.h"

#include "lineio.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view headerline = "struct pci_module_map scsi_pci_ids[] = {\n";
constexpr std::string_view closing = "};\n";

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

// The position of the last c in s, or npos; memrchr, where rfind would go
// byte by byte.
std::size_t last(std::string_view s, char c)
{
    const void* p = ::memrchr(s.data(), c, s.size());
    return p == nullptr ? std::string_view::npos : static_cast<std::size_t>(static_cast<const char*>(p) - s.data());
}

// Writes an entry line once per record whose name is its key, the text
// between its first and its last double quote, or once as "UNKNOWN".
void putentry(writer& w, std::string_view cur, std::size_t quote, const maptable& t)
{
    const std::size_t end = last(cur, '"');
    const std::size_t strp = last(cur, ')');
    // With one quote there is no key, and without a parenthesis no place for
    // the annotation: such a line goes out as it came.
    if (end == quote || strp == std::string_view::npos) {
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

void annotate(int in, int out, const maptable& t, std::size_t bufsize)
{
    linereader r(in, bufsize);
    writer w(out, bufsize);
    if (r.advance()) {
        bool seen = false;
        // A line is handled once the one after it is read.
        while (r.advance()) {
            const std::string_view cur = r.cur();
            const std::string_view next = r.next();
            const std::size_t quote = seen ? cur.find('"') : std::string_view::npos;
            if (cur == headerline) {
                seen = true;
                w.put(cur);
            } else if (quote != std::string_view::npos) {
                putentry(w, cur, quote, t);
            } else if (seen && next == closing && cur.ends_with(",\n")) {
                // The last entry before the closing line loses its comma.
                w.put(cur.substr(0, cur.size() - 2));
                w.put("\n");
            } else {
                w.put(cur);
            }
        }
        // The last line goes out unchanged, whatever it holds.
        w.put(r.next());
    }
    w.flush();
}
