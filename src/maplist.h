// The mapping table: device descriptions and their module names, read from
// the mapping lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

// Memory for n objects of the given size; throws std::bad_alloc.
void* bigblock(std::size_t n, std::size_t size);
void freeblock(void* p);

// Gives large blocks huge pages where the system allows it: loading a list
// of 300,000 pairs otherwise spends more time in page faults than in parsing.
// Elements are default-initialised, so a text buffer is not zeroed first.
template <class T> struct bigalloc {
    using value_type = T;

    bigalloc() = default;
    template <class U> explicit bigalloc(const bigalloc<U>& /*unused*/) {}

    T* allocate(std::size_t n) { return static_cast<T*>(bigblock(n, sizeof(T))); }
    void deallocate(T* p, std::size_t /*n*/) { freeblock(p); }
    template <class U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
    template <class U, class... A> void construct(U* p, A&&... a)
    {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
    // Required of an allocator; the table never compares its allocators.
    bool operator==(const bigalloc& /*other*/) const { return true; }
};

// One pair of a mapping list. A list line that names several modules gives
// one record per module, each with the same name.
struct mapping {
    std::string_view name;
    std::string_view module;
};

// Every record of the lists in load order, indexed by name. The texts the
// records point into are owned by the table and never move.
class maptable {
public:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    std::vector<mapping, bigalloc<mapping>> map;

    // Appends a record; name and module must point into text kept by the
    // table, and nhash must be hash(name). The reader hashes a name once for
    // all the modules on its line, while the line is in the cache.
    void add(std::string_view name, std::string_view module, std::uint64_t nhash);
    void add(std::string_view name, std::string_view module) { add(name, module, hash(name)); }

    // Makes room for the records of this many more bytes of lists, so that
    // reading them never moves the records already read. Without it, the
    // records grow as they come.
    void expect(std::size_t bytes)
    {
        const std::size_t n = bytes / 24;  // a pair line is rarely shorter
        map.reserve(map.size() + n);
        next.reserve(next.size() + n);
    }

    // Indexes all records; lookups need it, and records added later need
    // it again. Their texts must be kept by the table.
    void index();

    // The first record whose name is key, or none.
    std::size_t find(std::string_view key) const { return find(key, hash(key)); }
    std::size_t find(std::string_view key, std::uint64_t hash) const;

    // The hash of a key, and a hint that it will be looked up soon. A
    // lookup waits on three fetches from memory, one after the other: the
    // slot, then the record and the name's text. prefetch starts the first;
    // warm, once the slot has come, starts the others.
    static std::uint64_t hash(std::string_view key);
    void prefetch(std::uint64_t hash) const;
    void warm(std::uint64_t hash) const;

    // The next record after record i with the same name, or none.
    std::size_t after(std::size_t i) const { return next[i] == empty ? none : next[i]; }

    // A new text buffer that lives as long as the table.
    std::vector<char, bigalloc<char>>& keep() { return texts.emplace_back().copy; }

    // The first size bytes of the regular file fd, mapped into memory for
    // as long as the table lives; an empty view if the file cannot be
    // mapped. Its pages are read when first touched: when that fails (an
    // I/O error, or the file cut short meanwhile), the access raises SIGBUS.
    std::string_view keep(int fd, std::size_t size);

    // The number of the text, kept or mapped, that holds address p, counted
    // from 0 in the order they were added; none if no text holds it.
    std::size_t textof(const void* p) const;

private:
    static constexpr std::uint32_t empty = UINT32_MAX;

    // A name: the low half of its hash, the first of its records, and its
    // text, so that a key is compared with it without waiting for the record.
    struct slot {
        std::uint32_t tag = 0;
        std::uint32_t head = empty;  // empty marks a free slot
        const char* name = nullptr;
    };

    std::size_t locate(std::string_view key, std::uint64_t hash) const;

    std::vector<slot, bigalloc<slot>> slots;  // open addressing, a power of two in size
    // Of each record: the next record with the same name, once indexed;
    // before, the low half of the hash of its name, which is what a slot's
    // tag holds.
    std::vector<std::uint32_t, bigalloc<std::uint32_t>> next;
    std::size_t indexed = 0;  // the records that next links
    // A text the records point into: a copy, or a mapped file.
    struct text {
        std::vector<char, bigalloc<char>> copy;
        void* mapped = nullptr;
        std::size_t size = 0;  // of the mapping, in whole pages

        text() = default;
        text(const text&) = delete;
        text& operator=(const text&) = delete;
        ~text();
    };

    std::deque<text> texts;
};

// s without leading and trailing blanks, tabs, newlines, vertical tabs, form
// feeds and carriage returns.
inline std::string_view trim(std::string_view s)
{
    // One test a byte: the six are ' ' and '\t' to '\r', bits 32 and 9-13.
    const auto space = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= ' ' && ((std::uint64_t{1} << u) & 0x100003e00) != 0;
    };
    const char* b = s.data();
    const char* e = b + s.size();
    while (b != e && space(*b))
        ++b;
    while (e != b && space(e[-1]))
        --e;
    return {b, static_cast<std::size_t>(e - b)};
}

// Appends the records of the list text to the table, in line order.
void readmap(maptable& t, std::string_view list);

// Reads a whole list from fd and appends its records; false on a read error.
bool readmap(maptable& t, int fd);
