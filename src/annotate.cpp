#include "annotate.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view headerline = "struct pci_module_map scsi_pci_ids[] = {\n";
constexpr std::string_view closing = "};\n";

// Writes cur with ", ( \"mapped\" )" inserted after its last closing
// parenthesis, at lastparen.
void putannotated(writer& out, std::string_view cur, std::size_t lastparen, std::string_view mapped)
{
    out.put(cur.substr(0, lastparen + 1));
    out.put(", ( \"");
    out.put(mapped);
    out.put("\" )");
    out.put(cur.substr(lastparen + 1));
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
void putentry(writer& out, std::string_view cur, std::size_t firstquote, const maptable& t)
{
    const std::size_t lastquote = last(cur, '"');
    const std::size_t lastparen = last(cur, ')');
    // With one quote there is no key, and without a parenthesis no place for
    // the annotation: such a line goes out as it came.
    if (lastquote == firstquote || lastparen == std::string_view::npos) {
        out.put(cur);
        return;
    }
    const std::string_view key = cur.substr(firstquote + 1, lastquote - firstquote - 1);
    bool first = true;
    for (maptable::recno i = t.find(key); i != maptable::none; i = t.chained(i)) {
        putannotated(out, cur, lastparen, t.map()[i].module);
        first = false;
    }
    if (first)
        putannotated(out, cur, lastparen, "UNKNOWN");
}

}  // namespace

void annotate(linereader& in, writer& out, const maptable& t)
{
    if (in.advance()) {
        bool seen = false;
        // A line is handled once the one after it is read.
        while (in.advance()) {
            const std::string_view cur = in.cur();
            const std::string_view next = in.next();
            const std::size_t firstquote = seen ? cur.find('"') : std::string_view::npos;
            if (cur == headerline) {
                seen = true;
                out.put(cur);
            } else if (firstquote != std::string_view::npos) {
                putentry(out, cur, firstquote, t);
            } else if (seen && next == closing && cur.ends_with(",\n")) {
                // The last entry before the closing line loses its comma.
                out.put(cur.substr(0, cur.size() - 2));
                out.put("\n");
            } else {
                out.put(cur);
            }
        }
        // The last line goes out unchanged, whatever it holds.
        out.put(in.next());
    }
}
