// Arbitrary bytes as a mapping list. The records must be those of a plain,
// byte by byte reading of the rules, and every lookup must give exactly the
// records of its name, in order.
#include "maplist.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The records of a list, read one byte at a time: each line's last bar
// splits it into a name and its modules. Outside quotes a blank ends a
// module (none if it is empty) and a double quote drops the text before it
// and opens a quoted module, which its closing quote ends even if empty. A
// module still open at the end of the list is kept.
std::vector<std::pair<std::string_view, std::string_view>> records(std::string_view list)
{
    std::vector<std::pair<std::string_view, std::string_view>> r;
    while (!list.empty()) {
        const std::size_t nl = list.find('\n');
        const std::string_view line = list.substr(0, nl);
        list = nl == std::string_view::npos ? std::string_view() : list.substr(nl + 1);
        const std::size_t bar = line.rfind('|');
        if (bar == std::string_view::npos)
            continue;
        const std::string_view name = trim(line.substr(0, bar));
        const std::string_view mods = trim(line.substr(bar + 1));
        bool quoted = false;
        std::size_t start = 0;  // of the module being read
        for (std::size_t i = 0; i < mods.size(); ++i) {
            const std::string_view module = trim(mods.substr(start, i - start));
            if (quoted && mods[i] == '"') {
                r.emplace_back(name, module);
                quoted = false;
            } else if (!quoted && mods[i] == '"') {
                quoted = true;
            } else if (!quoted && mods[i] == ' ') {
                if (!module.empty())
                    r.emplace_back(name, module);
            } else {
                continue;
            }
            start = i + 1;
        }
        if (start < mods.size())
            r.emplace_back(name, trim(mods.substr(start)));
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view list(reinterpret_cast<const char*>(data), size);
    maptable t;
    readmap(t, list);
    t.index();
    readmap(t, list);  // a second list gives the same records again, and grows the index
    t.index();

    const std::span<const mapping> map = t.map();
    const std::size_t n = map.size();
    const auto want = records(list);
    check(n == 2 * want.size());
    for (std::size_t i = 0; i < n; ++i)
        check(map[i].name == want[i % want.size()].first && map[i].module == want[i % want.size()].second);
    for (std::size_t i = 0; i < n; ++i) {
        const mapping& m = map[i];
        check(trim(m.name) == m.name && trim(m.module) == m.module);
        check(m.name.find('\n') == std::string_view::npos && m.module.find('\n') == std::string_view::npos);
        check(list.find(m.name) != std::string_view::npos && list.find(m.module) != std::string_view::npos);
        check(map[i % (n / 2)].name == m.name && map[i % (n / 2)].module == m.module);
    }
    for (std::size_t i = 0; i < n; ++i) {
        // Walking from the first record of a name meets every record of that
        // name and no other, in table order.
        std::size_t want = 0;
        while (map[want].name != map[i].name)
            ++want;
        if (want != i)
            continue;
        for (maptable::recno j = t.find(map[i].name); j != maptable::none; j = t.chained(j)) {
            check(j == want);
            do
                ++want;
            while (want < n && map[want].name != map[i].name);
        }
        check(want == n);
    }
    return 0;
}
