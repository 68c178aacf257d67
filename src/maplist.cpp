#include "maplist.h"

#include "io.h"

#include <functional>
#include <sys/stat.h>

namespace {

bool isspace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::size_t hashof(std::string_view s)
{
    return std::hash<std::string_view>{}(s);
}

// Splits a trimmed module list into its tokens: single blanks separate them,
// double quotes enclose a token that holds blanks, and text right before an
// opening quote is dropped. Blanks that only separate tokens make no record;
// an empty quoted token does.
void addmodules(maptable& t, std::string_view name, std::string_view list)
{
    std::size_t n = 0;
    while (n < list.size()) {
        std::size_t p = list.find_first_of(" \"", n);
        if (p == std::string_view::npos)
            break;
        const bool quoted = list[p] == '"';
        if (quoted) {
            n = p + 1;
            p = list.find('"', n);
            if (p == std::string_view::npos)
                break; // an unclosed quote takes the rest of the list
        }
        const std::string_view module = trim(list.substr(n, p - n));
        if (quoted || !module.empty())
            t.add(name, module);
        n = p + 1;
    }
    if (n < list.size())
        t.add(name, trim(list.substr(n)));
}

// Adds the records of a list text that the table keeps.
void parse(maptable& t, std::string_view text)
{
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);

        // The last bar separates; bars before it belong to the name.
        const std::size_t bar = line.rfind('|');
        if (bar == std::string_view::npos)
            continue;
        addmodules(t, trim(line.substr(0, bar)), trim(line.substr(bar + 1)));
    }
}

} // namespace

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isspace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isspace(s.back()))
        s.remove_suffix(1);
    return s;
}

void readmap(maptable& t, std::string_view list)
{
    std::string& text = t.keep();
    text.assign(list);
    parse(t, text);
}

bool readmap(maptable& t, int fd)
{
    std::string& text = t.keep();
    struct stat st {};
    // A regular file is read in one go; one byte more shows its end.
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    text.resize(regular ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
    std::size_t len = 0;
    for (;;) {
        if (len == text.size())
            text.resize(2 * text.size());
        const long got = readfd(fd, text.data() + len, text.size() - len);
        if (got < 0) {
            text.clear();
            return false;
        }
        if (got == 0)
            break;
        len += static_cast<std::size_t>(got);
    }
    text.resize(len);
    parse(t, text);
    return true;
}

void maptable::add(std::string_view name, std::string_view module)
{
    if (2 * (used + 1) > slots.size())
        grow();
    const std::size_t hash = hashof(name);
    slot& s = slots[locate(name, hash)];
    const std::size_t i = map.size();
    map.push_back({name, module});
    next.push_back(none);
    if (s.head == none) {
        s = {hash, i, i};
        ++used;
    } else {
        next[s.tail] = i;
        s.tail = i;
    }
}

std::size_t maptable::find(std::string_view key) const
{
    if (slots.empty())
        return none;
    return slots[locate(key, hashof(key))].head;
}

// The slot that holds key, or the empty slot where it would go.
std::size_t maptable::locate(std::string_view key, std::size_t hash) const
{
    const std::size_t mask = slots.size() - 1;
    std::size_t i = hash & mask;
    while (slots[i].head != none && (slots[i].hash != hash || map[slots[i].head].name != key))
        i = (i + 1) & mask;
    return i;
}

void maptable::grow()
{
    std::vector<slot> old(slots.empty() ? 16 : 2 * slots.size());
    old.swap(slots);
    const std::size_t mask = slots.size() - 1;
    for (const slot& s : old) {
        if (s.head == none)
            continue;
        std::size_t i = s.hash & mask;
        while (slots[i].head != none)
            i = (i + 1) & mask;
        slots[i] = s;
    }
}
