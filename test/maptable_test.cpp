#include "maplist.h"
#include "maptable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The modules of key, in the order lookups give them.
std::vector<std::string> modules(const maptable& t, std::string_view key)
{
    std::vector<std::string> r;
    for (maptable::recno i = t.find(key); i != maptable::none; i = t.chained(i)) {
        EXPECT_EQ(t.map()[i].name, key);
        r.emplace_back(t.map()[i].module);
    }
    return r;
}

TEST(maptable, lookupsinloadorder)
{
    maptable t;
    readmap(t, "A | s1 s2\nB | s3\n");
    readmap(t, "noise\nA | e1\n");
    readmap(t, "B | v1\nA | v2\n|empty\n");
    t.index();
    EXPECT_EQ(modules(t, "A"), (std::vector<std::string>{"s1", "s2", "e1", "v2"}));
    EXPECT_EQ(modules(t, "B"), (std::vector<std::string>{"s3", "v1"}));
    EXPECT_EQ(modules(t, ""), std::vector<std::string>{"empty"});
    EXPECT_TRUE(modules(t, "C").empty());
    EXPECT_TRUE(modules(t, "A ").empty());
}

TEST(maptable, emptytable)
{
    maptable t;
    EXPECT_EQ(t.find("A"), maptable::none);
    t.index();
    EXPECT_EQ(t.find("A"), maptable::none);
    EXPECT_EQ(t.find(""), maptable::none);
}

TEST(maptable, manyrecordsinorder)
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
    ASSERT_EQ(t.map().size(), 60000U);
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

TEST(maptable, indexedagain)
{
    // Records added after an index are found once it is built again, in
    // load order with those before.
    maptable t;
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

TEST(maptable, samenamefromothertexts)
{
    // Equal names from different lines, lists and texts share one chain.
    maptable t;
    t.add("A", "a");
    readmap(t, "A | b\nB | x\nA | c\n");
    t.add(std::string_view("AA").substr(1), "d");
    t.index();
    EXPECT_EQ(modules(t, "A"), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(maptable, everybytecounts)
{
    // A byte the hash skipped would put keys that differ only there into
    // one slot: lookups would stay right, but slow.
    const maptable t;
    for (std::size_t n = 1; n <= 100; ++n) {
        std::string key(n, ' ');
        for (std::size_t i = 0; i < n; ++i)
            key[i] = static_cast<char>('a' + i % 26);
        const std::uint64_t h = t.hash(key);
        for (std::size_t i = 0; i < n; ++i) {
            std::string other = key;
            other[i] = '#';
            EXPECT_NE(t.hash(other), h) << "length " << n << ", byte " << i;
        }
    }
}

TEST(maptable, secretpertable)
{
    // Names that share a slot in one run need not in the next: each table
    // hashes with a secret of its own, for every length of key.
    const maptable a;
    const maptable b;
    for (const std::size_t n : {0, 1, 3, 4, 8, 16, 17, 32, 33, 100}) {
        const std::string key(n, 'k');
        EXPECT_NE(a.hash(key), b.hash(key)) << "length " << n;
    }
}

}  // namespace
