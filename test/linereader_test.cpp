#include "linereader.h"

#include "failure.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using rows::PrintTo;

struct readcase {
    const char* what;
    std::string in;
    std::vector<std::string> lines;
};

class readtest : public testing::TestWithParam<readcase> {};

TEST_P(readtest, lines)
{
    const readcase& c = GetParam();
    // Every buffer size up to one larger than the input puts each line end
    // at every place in a read.
    for (std::size_t bufsize = 1; bufsize <= c.in.size() + 1; ++bufsize) {
        const tempfile f(c.in);
        linereader r(f.fd(), bufsize);
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            ASSERT_TRUE(r.advance()) << "line " << i << ", buffers of " << bufsize;
            EXPECT_EQ(r.cur(), i == 0 ? "" : c.lines[i - 1]) << "line " << i << ", buffers of " << bufsize;
            EXPECT_EQ(r.next(), c.lines[i]) << "line " << i << ", buffers of " << bufsize;
        }
        // At the end, and at every call after it, cur is empty and next the
        // last line.
        for (int again = 0; again < 2; ++again) {
            EXPECT_FALSE(r.advance()) << "buffers of " << bufsize;
            EXPECT_EQ(r.cur(), "") << "buffers of " << bufsize;
            EXPECT_EQ(r.next(), c.lines.empty() ? "" : c.lines.back()) << "buffers of " << bufsize;
        }
    }
}

const std::string longline = std::string(300, 'x') + "\n";

INSTANTIATE_TEST_SUITE_P(
    all, readtest,
    testing::Values(readcase{"empty", "", {}}, readcase{"one line", "abc\n", {"abc\n"}},
                    readcase{"no final newline", "ab\ncd", {"ab\n", "cd"}}, readcase{"a newline alone", "\n", {"\n"}},
                    readcase{"empty lines", "\n\n\nx\n\n", {"\n", "\n", "\n", "x\n", "\n"}},
                    readcase{"zero bytes",
                             std::string("a\0b\n\0\n\0", 7),
                             {std::string("a\0b\n", 4), std::string("\0\n", 2), std::string("\0", 1)}},
                    readcase{"carriage returns stay", "a\r\nb\r", {"a\r\n", "b\r"}},
                    readcase{"lines longer than the buffer",
                             "ab\n" + longline + longline + "c",
                             {"ab\n", longline, longline, "c"}}),
    rowname());

TEST(linereader, manylines)
{
    // More lines than fit a buffer, so that what is left of one read moves
    // to the front for the next.
    std::string in;
    std::vector<std::string> lines;
    for (int i = 0; i < 100000; ++i)
        in +=
            lines.emplace_back("line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 13), '.') + "\n");
    const tempfile f(in);
    linereader r(f.fd(), 4096);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(r.advance());
        ASSERT_EQ(r.next(), lines[i]);
        ASSERT_EQ(r.cur(), i == 0 ? "" : lines[i - 1]);
    }
    EXPECT_FALSE(r.advance());
}

TEST(linereader, readerror)
{
    const int dir = ::open(".", O_RDONLY);
    ASSERT_GE(dir, 0);
    linereader r(dir, 64);
    try {
        r.advance();
        ADD_FAILURE() << "no failure";
    } catch (const failure& e) {
        EXPECT_STREQ(e.what(), "Cant read input: Is a directory");
    }
    ::close(dir);
}

}  // namespace
