#include "maptable.h"

#include <chrono>
#include <cstring>
#include <sys/random.h>

namespace {

std::uint64_t mix(std::uint64_t a, std::uint64_t b)
{
    __extension__ using u128 = unsigned __int128;
    const u128 r = static_cast<u128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

std::uint64_t load8(const char* p)
{
    std::uint64_t w = 0;
    std::memcpy(&w, p, 8);
    return w;
}

std::uint64_t load4(const char* p)
{
    std::uint32_t w = 0;
    std::memcpy(&w, p, 4);
    return w;
}

std::uint64_t splitmix(std::uint64_t& x)
{
    std::uint64_t z = x += 0x9e3779b97f4a7c15;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
}

std::uint32_t tagof(std::uint64_t hash)
{
    return static_cast<std::uint32_t>(hash >> 32);
}

// The same bytes in memory, not only equal ones.
bool sameaddress(std::string_view a, std::string_view b)
{
    return a.data() == b.data() && a.size() == b.size();
}

}  // namespace

maptable::maptable()
{
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
        random = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    // A multiplier that a key could make zero would drop the state before
    // it, whatever the starting state; so the multipliers are secret too.
    for (std::uint64_t& s : secret)
        s = splitmix(random) | 1;
}

std::string_view maptable::adopt(text list)
{
    const text& t = texts.emplace_back(std::move(list));
    return {t.data(), t.size()};
}

// Thirty-two bytes a step in two independent lanes, each step one wide
// multiplication per lane. The last bytes are read as whole words that may
// overlap bytes already read, so no read goes past the key.
std::uint64_t maptable::hash(std::string_view key) const
{
    const std::uint64_t k0 = secret[0];
    const std::uint64_t k1 = secret[1];
    const std::uint64_t k2 = secret[2];
    const char* p = key.data();
    const std::size_t n = key.size();
    std::uint64_t h = k0 ^ n;
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (n > 16) {
        const char* end = p + n;
        if (n > 32) {
            std::uint64_t h2 = h ^ k2;
            do {
                h = mix(load8(p) ^ k1, load8(p + 8) ^ h);
                h2 = mix(load8(p + 16) ^ k2, load8(p + 24) ^ h2);
                p += 32;
            } while (end - p > 32);
            h ^= h2;
            p = end - 32;
        }
        // The last thirty-two bytes, or all from sixteen up.
        h = mix(load8(p) ^ k1, load8(p + 8) ^ h);
        a = load8(end - 16);
        b = load8(end - 8);
    } else if (n >= 4) {
        const std::size_t half = (n >> 3) << 2;  // 0 below 8 bytes, else 4
        a = load4(p) << 32 | load4(p + half);
        b = load4(p + n - 4) << 32 | load4(p + n - 4 - half);
    } else if (n > 0) {
        a = std::uint64_t{static_cast<unsigned char>(p[0])} << 16 |
            std::uint64_t{static_cast<unsigned char>(p[n >> 1])} << 8 | static_cast<unsigned char>(p[n - 1]);
    }
    return mix(mix(a ^ k1, b ^ h) ^ k0, n ^ k2);
}

void maptable::index()
{
    const std::size_t n = records.size();
    if (n >= none)
        throw std::bad_alloc();  // record numbers are 32 bits; memory runs out long before
    // No more names than records: the table stays at most three quarters full.
    std::size_t size = 16;
    while (3 * size < 4 * n)
        size *= 2;
    slots.assign(size, slot{});
    chain.resize(n);

    // Each record goes to the front of its name's chain, so the records are
    // taken last first. The slots of the names some records ahead are
    // fetched while the current one goes in, so that with many names the
    // waits for memory overlap.
    constexpr std::size_t ahead = 16;
    const std::size_t mask = size - 1;
    std::size_t at = 0;  // the slot of the record after i
    for (std::size_t i = n; i-- > 0;) {
        if (i >= ahead)
            __builtin_prefetch(&slots[hashes[i - ahead] & mask]);
        const std::string_view name = records[i].name;
        // The records of one line share their name's text, and so its slot.
        if (i + 1 == n || !sameaddress(name, records[i + 1].name))
            at = locate(name, hashes[i]);
        slot& s = slots[at];
        chain[i] = s.head;
        s = {tagof(hashes[i]), static_cast<recno>(i)};
    }
}

maptable::recno maptable::find(std::string_view key) const
{
    if (slots.empty())
        return none;
    return slots[locate(key, hash(key))].head;
}

// The slot that holds key, or the free slot where it would go.
std::size_t maptable::locate(std::string_view key, std::uint64_t hash) const
{
    const std::uint32_t tag = tagof(hash);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const slot& s = slots[i];
        if (s.head == none || (s.tag == tag && records[s.head].name == key))
            return i;
    }
}
