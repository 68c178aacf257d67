#include "maplist.h"

#include <cstring>

namespace {

// Adds one record for each module of a trimmed module list. Single blanks
// separate modules; double quotes enclose one that holds blanks, and text
// right before an opening quote is dropped. Blanks that only separate
// modules make no record; an empty quoted module does.
void addmodules(maptable& t, std::string_view name, std::string_view list)
{
    const std::uint64_t hash = t.hash(name);
    std::size_t n = 0;
    while (n < list.size()) {
        std::size_t p = n;
        while (p < list.size() && list[p] != ' ' && list[p] != '"')
            ++p;
        if (p == list.size())
            break;
        const bool quoted = list[p] == '"';
        if (quoted) {
            n = p + 1;
            p = list.find('"', n);
            if (p == std::string_view::npos)
                break;  // an unclosed quote takes the rest of the list
        }
        const std::string_view module = trim(list.substr(n, p - n));
        if (quoted || !module.empty())
            t.add(name, module, hash);
        n = p + 1;
    }
    if (n < list.size())
        t.add(name, trim(list.substr(n)), hash);
}

}  // namespace

void readmap(maptable& t, text list)
{
    const std::string_view s = t.adopt(std::move(list));
    const char* p = s.data();
    const char* end = p + s.size();
    while (p < end) {
        const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* eol = nl != nullptr ? nl : end;
        // The last bar separates; bars before it belong to the name.
        const auto* bar = static_cast<const char*>(::memrchr(p, '|', static_cast<std::size_t>(eol - p)));
        if (bar != nullptr)
            addmodules(t, trim({p, static_cast<std::size_t>(bar - p)}),
                       trim({bar + 1, static_cast<std::size_t>(eol - bar - 1)}));
        p = eol == end ? end : eol + 1;
    }
}

void readmap(maptable& t, std::string_view list)
{
    readmap(t, text(list.begin(), list.end()));
}
