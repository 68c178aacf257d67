// Arbitrary bytes as a mapping list. Every record must be trimmed text of the
// list, and every lookup must give exactly the records of its name, in order.
#include "maplist.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
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

    const std::size_t n = t.map.size();
    check(n % 2 == 0);
    for (std::size_t i = 0; i < n; ++i) {
        const mapping& m = t.map[i];
        check(trim(m.name) == m.name && trim(m.module) == m.module);
        check(m.name.find('\n') == std::string_view::npos && m.module.find('\n') == std::string_view::npos);
        check(list.find(m.name) != std::string_view::npos && list.find(m.module) != std::string_view::npos);
        check(t.map[i % (n / 2)].name == m.name && t.map[i % (n / 2)].module == m.module);
    }
    for (std::size_t i = 0; i < n; ++i) {
        // Walking from the first record of a name meets every record of that
        // name and no other, in table order.
        std::size_t want = 0;
        while (t.map[want].name != t.map[i].name)
            ++want;
        if (want != i)
            continue;
        for (std::size_t j = t.find(t.map[i].name); j != maptable::none; j = t.after(j)) {
            check(j == want);
            do
                ++want;
            while (want < n && t.map[want].name != t.map[i].name);
        }
        check(want == n);
    }
    return 0;
}
