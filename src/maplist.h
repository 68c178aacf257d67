// The mapping table: device descriptions and their module names, read from
// the mapping lists.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

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

    std::vector<mapping> map;

    // Appends a record; name and module must point into text kept by the table.
    void add(std::string_view name, std::string_view module);

    // The first record whose name is key, or none.
    std::size_t find(std::string_view key) const;

    // The next record after record i with the same name, or none.
    std::size_t after(std::size_t i) const { return next[i]; }

    // A new empty text that lives as long as the table.
    std::string& keep() { return texts.emplace_back(); }

private:
    struct slot {
        std::size_t hash = 0;
        std::size_t head = none; // none marks an empty slot
        std::size_t tail = none;
    };

    std::size_t locate(std::string_view key, std::size_t hash) const;
    void grow();

    std::vector<slot> slots; // open addressing, a power of two in size
    std::size_t used = 0;
    std::vector<std::size_t> next;
    std::deque<std::string> texts;
};

// s without leading and trailing blanks, tabs, newlines, vertical tabs, form
// feeds and carriage returns.
std::string_view trim(std::string_view s);

// Appends the records of the list text to the table, in line order.
void readmap(maptable& t, std::string_view list);

// Reads a whole list from fd and appends its records; false on a read error.
bool readmap(maptable& t, int fd);
