#include "maplist.h"

#include "helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using rows::PrintTo;

using records = std::vector<std::pair<std::string, std::string>>;

records all(const maptable& t)
{
    records r;
    for (const mapping& m : t.map())
        r.emplace_back(m.name, m.module);
    return r;
}

struct trimcase {
    const char* what;
    std::string in;
    std::string out;
};

class trimtest : public testing::TestWithParam<trimcase> {};

TEST_P(trimtest, trims)
{
    EXPECT_EQ(trim(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    all, trimtest,
    testing::Values(trimcase{"empty", "", ""}, trimcase{"blanks and tabs", " \t  \t", ""},
                    trimcase{"the six spaces", " \t\n\v\f\r", ""},
                    trimcase{"inner spaces stay", "  a b\tc \n", "a b\tc"}, trimcase{"nothing to trim", "abc", "abc"},
                    // neither a zero byte nor bytes from 0x80 up are whitespace
                    trimcase{"zero bytes", std::string("\0a\0", 3), std::string("\0a\0", 3)},
                    trimcase{"high bytes", "\xa0x\x85", "\xa0x\x85"},
                    // nor the bytes next to the six
                    trimcase{"neighbours of the six", "\x08\x1f!x!\x1f\x0e", "\x08\x1f!x!\x1f\x0e"},
                    trimcase{"neighbours around blanks", "\x08 x \x0e", "\x08 x \x0e"}),
    rowname());

struct listcase {
    const char* what;
    std::string list;
    records want;
};

class readmaptest : public testing::TestWithParam<listcase> {};

TEST_P(readmaptest, records)
{
    maptable t;
    readmap(t, GetParam().list);
    EXPECT_EQ(all(t), GetParam().want) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    all, readmaptest,
    testing::Values(
        // lines that give nothing
        listcase{"empty", "", {}}, listcase{"no bar", "free text\n\nmore text\n", {}},
        listcase{"nothing after the bar", "Card | \t \n", {}},
        // names
        listcase{"one pair", "Adaptec AHA-2940 | aic7xxx\n", {{"Adaptec AHA-2940", "aic7xxx"}}},
        listcase{"name up to the bar", "Card|mod\n", {{"Card", "mod"}}}, listcase{"bar first", "|mod\n", {{"", "mod"}}},
        listcase{"blanks before the bar", "   | mod\n", {{"", "mod"}}},
        listcase{"last bar separates", "A|B | mod\n", {{"A|B", "mod"}}},
        // there is no comment syntax: a line with a bar is a pair
        listcase{"a comment with a bar", "# note: a|b\n", {{"# note: a", "b"}}},
        listcase{"no final newline", "Card | mod", {{"Card", "mod"}}},
        listcase{"CRLF", "Card | mod\r\nNext | two\r\n", {{"Card", "mod"}, {"Next", "two"}}},
        listcase{"zero bytes", std::string("C\0rd | m\0d\n", 12), {{std::string("C\0rd", 4), std::string("m\0d", 3)}}},
        listcase{"zero byte first", std::string("\0 | m\n", 6), {{std::string("\0", 1), "m"}}},
        // tokens
        listcase{"three tokens", "Card | a b c\n", {{"Card", "a"}, {"Card", "b"}, {"Card", "c"}}},
        listcase{"quoted token", "Card | \"Card:X 4 MB\"\n", {{"Card", "Card:X 4 MB"}}},
        listcase{"letters before a quote", "Card | ab\"cd ef\"\n", {{"Card", "cd ef"}}},
        listcase{"quote, blank, token", "Card | \"x y\" z\n", {{"Card", "x y"}, {"Card", "z"}}},
        listcase{"text right after a closing quote", "Card | \"x y\"z\n", {{"Card", "x y"}, {"Card", "z"}}},
        listcase{"two blanks", "Card | a  b\n", {{"Card", "a"}, {"Card", "b"}}},
        listcase{"empty quoted token", "Card | \"\" b\n", {{"Card", ""}, {"Card", "b"}}},
        listcase{"quoted token trimmed", "Card | \" x \"\n", {{"Card", "x"}}},
        listcase{"unclosed quote", "Card | a \"b c d\n", {{"Card", "a"}, {"Card", "b c d"}}},
        listcase{"lone quote at the end", "Card | a \"\n", {{"Card", "a"}}},
        listcase{"tabs do not separate", "Card | a\tb \tc\t d\n", {{"Card", "a\tb"}, {"Card", "c"}, {"Card", "d"}}},
        listcase{"a tab alone is no token", "Card | a \t b\n", {{"Card", "a"}, {"Card", "b"}}},
        listcase{"the same pair twice", "X | m\nX | m\n", {{"X", "m"}, {"X", "m"}}},
        listcase{"quoted blanks", "A | \"  \" \" x\"\n", {{"A", ""}, {"A", "x"}}},
        listcase{"unclosed quote trimmed", "A | \"  x y\n", {{"A", "x y"}}},
        // each space that trim drops, next to a blank
        listcase{"tab and blank", "A | a\t b\n", {{"A", "a"}, {"A", "b"}}},
        listcase{"vertical tab and blank", "A | a \vb\n", {{"A", "a"}, {"A", "b"}}},
        listcase{"form feed and blank", "A | a\f b\n", {{"A", "a"}, {"A", "b"}}},
        listcase{"carriage return and blank", "A | a\r b\rc\n", {{"A", "a"}, {"A", "b\rc"}}}),
    rowname());

TEST(readmap, threelistsinloadorder)
{
    maptable t;
    readmap(t, "A | s1 s2\nB | s3\n");
    readmap(t, "noise\nA | e1\n");
    readmap(t, "B | v1\nA | v2\n");
    EXPECT_EQ(all(t), (records{{"A", "s1"}, {"A", "s2"}, {"B", "s3"}, {"A", "e1"}, {"B", "v1"}, {"A", "v2"}}));
}

TEST(readmap, keepsitstext)
{
    // The records point into the table's own copy of the list.
    maptable t;
    {
        std::string list = "Card | mod\n";
        readmap(t, list);
        list.assign(list.size(), 'x');
    }
    EXPECT_EQ(all(t), (records{{"Card", "mod"}}));
}

}  // namespace
