// The mapping lists: one pair a line, a device description, a vertical bar
// and its modules. The reader appends their records to the mapping table.
#pragma once

#include "maptable.h"

#include <string_view>

// s without leading and trailing blanks, tabs, newlines, vertical tabs, form
// feeds and carriage returns.
inline std::string_view trim(std::string_view s)
{
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

// Appends the records of a list to the table, in line order; the table
// keeps the list's text.
void readmap(maptable& t, text list);
void readmap(maptable& t, std::string_view list);
