// The mapping table: every record of the mapping lists in load order, and an
// index from a device description to its records.
#pragma once

#include "bigalloc.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string_view>

// The bytes of one mapping list.
using text = bigvector<char>;

// One pair of a mapping list. A list line that names several modules gives
// one record per module, each with the same name.
struct mapping {
    std::string_view name;
    std::string_view module;
};

class maptable {
public:
    // A record's number in load order, and the number that stands for none.
    using recno = std::uint32_t;
    static constexpr recno none = UINT32_MAX;

    // Draws the hash's secret for this table, so that no list can be made
    // to put its names into a few slots.
    maptable();

    // The records, in load order. Their texts are kept by the table.
    std::span<const mapping> map() const { return records; }

    // Takes a list's text for the table's lifetime; records point into it.
    std::string_view adopt(text list);

    // Makes room for the records of this many bytes of lists at once, so
    // that the array is not copied again and again as it grows (a pair
    // line is rarely shorter than 24 bytes).
    void reserve(std::size_t listbytes)
    {
        records.reserve(records.size() + listbytes / 24);
        hashes.reserve(hashes.size() + listbytes / 24);
    }

    // Appends a record; nhash must be hash(name). The reader hashes a
    // line's name once for all its modules, while the line is in the cache.
    void add(std::string_view name, std::string_view module, std::uint64_t nhash)
    {
        records.push_back({name, module});
        hashes.push_back(nhash);
    }
    void add(std::string_view name, std::string_view module) { add(name, module, hash(name)); }

    // Builds the index over all records; lookups see only the records
    // added before the last call.
    void index();

    // The records of one name form a chain in load order. find gives the
    // first record of key's chain, chained the one after record i; each
    // gives none at the end.
    recno find(std::string_view key) const;
    recno chained(recno i) const { return chain[i]; }

    std::uint64_t hash(std::string_view key) const;

private:
    // A name: hash bits that the slot's position does not use, so that most
    // other names are passed over without reading their records, and the
    // first record of its chain.
    struct slot {
        std::uint32_t tag = 0;
        recno head = none;  // none marks a free slot
    };

    std::size_t locate(std::string_view key, std::uint64_t hash) const;

    std::uint64_t secret[3] = {};
    bigvector<mapping> records;
    bigvector<std::uint64_t> hashes;  // of each record's name
    bigvector<slot> slots;            // open addressing, a power of two in size
    bigvector<recno> chain;           // of each record, the next one of its name
    std::deque<text> texts;
};
