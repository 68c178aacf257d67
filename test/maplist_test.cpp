#include "maplist.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

auto rowname = [](const auto& info) { return "row" + std::to_string(info.index); };

using records = std::vector<std::pair<std::string, std::string>>;

records all(const maptable& t)
{
    records r;
    for (const mapping& m : t.map)
        r.emplace_back(m.name, m.module);
    return r;
}

// The modules of key, in the order lookups give them.
std::vector<std::string> modules(const maptable& t, std::string_view key)
{
    std::vector<std::string> r;
    for (std::size_t i = t.find(key); i != maptable::none; i = t.after(i)) {
        EXPECT_EQ(t.map[i].name, key);
        r.emplace_back(t.map[i].module);
    }
    return r;
}

struct trimcase {
    std::string in;
    std::string out;
};

void PrintTo(const trimcase& c, std::ostream* os)
{
    *os << testing::PrintToString(c.in);
}

class trimtest : public testing::TestWithParam<trimcase> {};

TEST_P(trimtest, trims)
{
    EXPECT_EQ(trim(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(all, trimtest,
                         testing::Values(trimcase{"", ""}, trimcase{" \t  \t", ""}, trimcase{" \t\n\v\f\r", ""},
                                         trimcase{"  a b\tc \n", "a b\tc"}, trimcase{"abc", "abc"},
                                         // neither a zero byte nor bytes from 0x80 up are whitespace
                                         trimcase{std::string("\0a\0", 3), std::string("\0a\0", 3)},
                                         trimcase{"\xa0x\x85", "\xa0x\x85"},
                                         // nor the bytes next to the six
                                         trimcase{"\x08\x1f!x!\x1f\x0e", "\x08\x1f!x!\x1f\x0e"},
                                         trimcase{"\x08 x \x0e", "\x08 x \x0e"}),
                         rowname);

struct listcase {
    const char* what;
    std::string list;
    records want;
};

void PrintTo(const listcase& c, std::ostream* os)
{
    *os << c.what;
}

class readmaptest : public testing::TestWithParam<listcase> {};

TEST_P(readmaptest, records)
{
    maptable t;
    readmap(t, GetParam().list);
    EXPECT_EQ(all(t), GetParam().want) << GetParam().what;
}

TEST_P(readmaptest, recordsbeforemoretext)
{
    // A short module list with enough text after it is split by a faster
    // way than one at the end of the text; both must agree.
    maptable t;
    readmap(t, GetParam().list + "\n" + std::string(70, '#'));
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
        listcase{"no final newline", "Card | mod", {{"Card", "mod"}}},
        listcase{"CRLF", "Card | mod\r\nNext | two\r\n", {{"Card", "mod"}, {"Next", "two"}}},
        listcase{"zero bytes", std::string("C\0rd | m\0d\n", 12), {{std::string("C\0rd", 4), std::string("m\0d", 3)}}},
        listcase{"zero byte first", std::string("\0 | m\n", 6), {{std::string("\0", 1), "m"}}},
        // tokens
        listcase{"three tokens", "Card | a b c\n", {{"Card", "a"}, {"Card", "b"}, {"Card", "c"}}},
        listcase{"quoted token", "Card | \"Card:X 4 MB\"\n", {{"Card", "Card:X 4 MB"}}},
        listcase{"letters before a quote", "Card | ab\"cd ef\"\n", {{"Card", "cd ef"}}},
        listcase{"quote, blank, token", "Card | \"x y\" z\n", {{"Card", "x y"}, {"Card", "z"}}},
        listcase{"two blanks", "Card | a  b\n", {{"Card", "a"}, {"Card", "b"}}},
        listcase{"empty quoted token", "Card | \"\" b\n", {{"Card", ""}, {"Card", "b"}}},
        listcase{"quoted token trimmed", "Card | \" x \"\n", {{"Card", "x"}}},
        listcase{"unclosed quote", "Card | a \"b c d\n", {{"Card", "a"}, {"Card", "b c d"}}},
        listcase{"lone quote at the end", "Card | a \"\n", {{"Card", "a"}}},
        listcase{"tabs do not separate", "Card | a\tb \tc\t d\n", {{"Card", "a\tb"}, {"Card", "c"}, {"Card", "d"}}},
        listcase{"a tab alone is no token", "Card | a \t b\n", {{"Card", "a"}, {"Card", "b"}}},
        listcase{"the same pair twice", "X | m\nX | m\n", {{"X", "m"}, {"X", "m"}}},
        // module lists around 32 and 64 bytes long
        listcase{"32 bytes",
                 std::string("A | ") + std::string(15, 'a') + " " + std::string(16, 'b') + "\n",
                 {{"A", std::string(15, 'a')}, {"A", std::string(16, 'b')}}},
        listcase{"33 bytes",
                 std::string("A | ") + std::string(16, 'a') + " " + std::string(16, 'b') + "\n",
                 {{"A", std::string(16, 'a')}, {"A", std::string(16, 'b')}}},
        listcase{"64 bytes",
                 std::string("A | ") + std::string(31, 'a') + " \"" + std::string(30, 'b') + "\"\n",
                 {{"A", std::string(31, 'a')}, {"A", std::string(30, 'b')}}},
        listcase{"65 bytes",
                 std::string("A | ") + std::string(32, 'a') + " \"" + std::string(30, 'b') + "\"\n",
                 {{"A", std::string(32, 'a')}, {"A", std::string(30, 'b')}}},
        listcase{"quote as the 64th byte", std::string("A | ") + std::string(63, 'a') + "\"\n", {}},
        listcase{"quote as the 63rd byte", std::string("A | ") + std::string(62, 'a') + "\"b\n", {{"A", "b"}}},
        listcase{"blank, then a quote as the 64th byte",
                 std::string("A | ") + std::string(62, 'a') + " \"\n",
                 {{"A", std::string(62, 'a')}}},
        listcase{"quoted blanks", "A | \"  \" \" x\"\n", {{"A", ""}, {"A", "x"}}},
        listcase{"unclosed quote trimmed", "A | \"  x y\n", {{"A", "x y"}}},
        // each space that trim drops, next to a blank
        listcase{"tab and blank", "A | a\t b\n", {{"A", "a"}, {"A", "b"}}},
        listcase{"vertical tab and blank", "A | a \vb\n", {{"A", "a"}, {"A", "b"}}},
        listcase{"form feed and blank", "A | a\f b\n", {{"A", "a"}, {"A", "b"}}},
        listcase{"carriage return and blank", "A | a\r b\rc\n", {{"A", "a"}, {"A", "b\rc"}}}),
    rowname);

TEST(readmap, threelistsinloadorder)
{
    maptable t;
    readmap(t, "A | s1 s2\nB | s3\n");
    readmap(t, "noise\nA | e1\n");
    readmap(t, "B | v1\nA | v2\n");
    t.index();
    EXPECT_EQ(t.map.size(), 6U);
    EXPECT_EQ(modules(t, "A"), (std::vector<std::string>{"s1", "s2", "e1", "v2"}));
    EXPECT_EQ(modules(t, "B"), (std::vector<std::string>{"s3", "v1"}));
    EXPECT_TRUE(modules(t, "C").empty());
    EXPECT_TRUE(modules(t, "").empty());
}

TEST(readmap, manyrecordsinorder)
{
    // Far more than a thousand pairs, many names sharing records across lists.
    std::string lists[3];
    for (int l = 0; l < 3; ++l)
        for (int i = 0; i < 20000; ++i)
            lists[l] +=
                "card " + std::to_string(i % 7001) + " | m" + std::to_string(l) + "_" + std::to_string(i) + "\n";
    maptable t;
    for (const std::string& list : lists)
        readmap(t, list);
    t.index();
    ASSERT_EQ(t.map.size(), 60000U);
    for (int k : {0, 1, 2999, 7000}) {
        std::vector<std::string> want;
        for (int l = 0; l < 3; ++l)
            for (int i = k; i < 20000; i += 7001)
                // (appended: a chain of + here draws a false -Wrestrict from GCC 12)
                want.push_back(std::string("m").append(std::to_string(l)).append("_").append(std::to_string(i)));
        EXPECT_EQ(modules(t, "card " + std::to_string(k)), want) << k;
    }
    EXPECT_TRUE(modules(t, "card 7001").empty());
}

TEST(readmap, growsacrosslists)
{
    // The index is built again after each list, each time larger; the
    // records of names from earlier lists must keep their order.
    maptable t;
    EXPECT_EQ(t.find("card 0"), maptable::none);
    for (const int size : {3, 300, 30000}) {
        std::string list;
        for (int i = 0; i < size; ++i)
            list += "card " + std::to_string(i) + " | m" + std::to_string(size) + "\n";
        readmap(t, list);
        t.index();
    }
    EXPECT_EQ(modules(t, "card 0"), (std::vector<std::string>{"m3", "m300", "m30000"}));
    EXPECT_EQ(modules(t, "card 299"), (std::vector<std::string>{"m300", "m30000"}));
    EXPECT_EQ(modules(t, "card 29999"), std::vector<std::string>{"m30000"});
    EXPECT_TRUE(modules(t, "card 30000").empty());
}

TEST(readmap, lookupsneedtheindex)
{
    // Records read after the last index() would be missed silently.
    maptable t;
    readmap(t, "A | a\n");
    EXPECT_THROW((void)t.find("A"), std::logic_error);
    t.index();
    EXPECT_EQ(modules(t, "A"), std::vector<std::string>{"a"});
    readmap(t, "A | b\n");
    EXPECT_THROW((void)t.find("A"), std::logic_error);
}

TEST(readmap, samenameafterindex)
{
    // After index(), the records' entries in next hold links, not hashes: a
    // record added then, even with the very text of the name before it,
    // joins that name's chain after it.
    maptable t;
    static constexpr std::string_view name = "A";
    t.add(name, "a");
    t.index();
    t.add(name, "b");
    t.index();
    EXPECT_EQ(modules(t, "A"), (std::vector<std::string>{"a", "b"}));
}

TEST(maptable, everybytecounts)
{
    // A byte the hash skipped would leave keys that differ only there in
    // one slot's way; lookups would stay right, but slow.
    for (std::size_t n = 1; n <= 100; ++n) {
        std::string key(n, ' ');
        for (std::size_t i = 0; i < n; ++i)
            key[i] = static_cast<char>('a' + i % 26);
        const std::uint64_t h = maptable::hash(key);
        for (std::size_t i = 0; i < n; ++i) {
            std::string other = key;
            other[i] = '#';
            EXPECT_NE(maptable::hash(other), h) << "length " << n << ", byte " << i;
        }
    }
}

TEST(readmap, fromdescriptor)
{
    // A pipe has no size to go by, so the reader must grow its buffer.
    std::string list;
    for (int i = 0; i < 30000; ++i)
        list += "card " + std::to_string(i) + " | mod" + std::to_string(i) + "\n";
    list += "last | tail";
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    std::thread writer([&] {
        EXPECT_EQ(::write(p[1], list.data(), list.size()), static_cast<ssize_t>(list.size()));
        ::close(p[1]);
    });
    maptable t;
    EXPECT_TRUE(readmap(t, p[0]));
    t.index();
    writer.join();
    ::close(p[0]);
    EXPECT_EQ(t.map.size(), 30001U);
    EXPECT_EQ(modules(t, "card 29999"), std::vector<std::string>{"mod29999"});
    EXPECT_EQ(modules(t, "last"), std::vector<std::string>{"tail"});

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(list.data(), 1, list.size(), f), list.size());
    ASSERT_EQ(std::fflush(f), 0);
    ::lseek(fileno(f), 0, SEEK_SET);
    maptable u;
    EXPECT_TRUE(readmap(u, fileno(f)));
    u.index();
    std::fclose(f);
    EXPECT_EQ(all(u), all(t));
}

TEST(readmap, textsareknownbytheiraddresses)
{
    // A fault on a mapped list is traced back to the list by its address.
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const std::string list = "A | a\nB | b\n";
    ASSERT_EQ(std::fwrite(list.data(), 1, list.size(), f), list.size());
    ASSERT_EQ(std::fflush(f), 0);
    maptable t;
    readmap(t, "C | c\n");               // copied: text 0
    EXPECT_TRUE(readmap(t, fileno(f)));  // mapped: text 1
    std::fclose(f);
    t.index();
    ASSERT_EQ(t.map.size(), 3U);
    EXPECT_EQ(t.textof(t.map[0].module.data()), 0U);
    EXPECT_EQ(t.textof(t.map[1].name.data()), 1U);
    EXPECT_EQ(t.textof(t.map[2].module.data()), 1U);
    // The rest of a mapped list's last page is the list's too.
    EXPECT_EQ(t.textof(t.map[2].module.data() + 100), 1U);
    EXPECT_EQ(t.textof(&t), maptable::none);
    EXPECT_EQ(t.textof(nullptr), maptable::none);
}

TEST(readmap, directoryisareaderror)
{
    const int fd = ::open(".", O_RDONLY);
    ASSERT_GE(fd, 0);
    maptable t;
    EXPECT_FALSE(readmap(t, fd));
    ::close(fd);
    EXPECT_TRUE(t.map.empty());
}

}  // namespace
