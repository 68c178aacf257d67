// The mapping table: every record of the mapping lists in load order, and an
// index from a device description to its records.
#pragma once

#include "hugepages.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>

// One pair of a mapping list. A list line that names several modules gives
// one record per module, each with the same name.
struct mapping {
    std::string_view name;
    std::string_view module;
};

class maptable {
public:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    // The records, in load order. Their texts are kept by the table.
    bigvector<mapping> map;

    // Draws the hash's secret for this table, so that no list can be made
    // to put its names into a few slots.
    maptable();

    // Takes a list's text for the table's lifetime; records point into it.
    std::string_view adopt(text list);

    // Makes room for the records of this many bytes of lists at once, so
    // that the array is not copied again and again as it grows (a pair
    // line is rarely shorter than 24 bytes).
    void reserve(std::size_t listbytes)
    {
        map.reserve(map.size() + listbytes / 24);
        hashes.reserve(hashes.size() + listbytes / 24);
    }

    // Appends a record; nhash must be hash(name). The reader hashes a
    // line's name once for all its modules, while the line is in the cache.
    void add(std::string_view name, std::string_view module, std::uint64_t nhash)
    {
        map.push_back({name, module});
        hashes.push_back(nhash);
    }
    void add(std::string_view name, std::string_view module) { add(name, module, hash(name)); }

    // Builds the index over all records; lookups see only the records
    // added before the last call.
    void index();

    // The first record whose name is key, or none.
    std::size_t find(std::string_view key) const;
    // The next record after record i with the same name, or none.
    std::size_t after(std::size_t i) const { return link[i] == empty ? none : link[i]; }

    std::uint64_t hash(std::string_view key) const;

private:
    static constexpr std::uint32_t empty = UINT32_MAX;

    // A name: hash bits that the slot's position does not use, the first of
    // its records, and its text, so that a key is compared without waiting
    // for the record.
    struct slot {
        std::uint32_t tag = 0;
        std::uint32_t head = empty;  // empty marks a free slot
        const char* name = nullptr;
    };

    std::size_t locate(std::string_view key, std::uint64_t hash) const;

    std::uint64_t secret[3] = {};
    bigvector<slot> slots;            // open addressing, a power of two in size
    bigvector<std::uint32_t> link;    // of each record, the next one with its name
    bigvector<std::uint64_t> hashes;  // of each record's name
    std::deque<text> texts;
};
