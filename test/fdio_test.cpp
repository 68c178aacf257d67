#include "fdio.h"

#include "helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using rows::PrintTo;
namespace fs = std::filesystem;

std::string bigtext()
{
    std::string s;
    for (int i = 0; i < 30000; ++i)
        s += "card " + std::to_string(i) + " | mod" + std::to_string(i) + "\n";
    return s + "last | tail";
}

TEST(readall, pipe)
{
    // A pipe has no size to go by, so the buffer must grow.
    const std::string want = bigtext();
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    std::thread writer([&] {
        EXPECT_EQ(::write(p[1], want.data(), want.size()), static_cast<ssize_t>(want.size()));
        ::close(p[1]);
    });
    text got;
    EXPECT_TRUE(readall(p[0], got));
    writer.join();
    ::close(p[0]);
    EXPECT_EQ(std::string(got.begin(), got.end()), want);
}

TEST(readall, file)
{
    for (const std::string& want : {bigtext(), std::string()}) {
        const tempfile f(want);
        text got;
        EXPECT_TRUE(readall(f.fd(), got));
        EXPECT_EQ(std::string(got.begin(), got.end()), want);
    }
}

TEST(readall, directoryisareaderror)
{
    const int fd = ::open(".", O_RDONLY);
    ASSERT_GE(fd, 0);
    text got;
    EXPECT_FALSE(readall(fd, got));
    ::close(fd);
}

// Standard input and output as the shell gives them: in opened on the file
// "in", out by the flags on the file named.
struct samecase {
    const char* what;
    const char* input;  // what "in" holds
    const char* out;    // the file out opens: "in", "link" (a hard link to it) or "other"
    int flags;
    bool skip;  // in has been read to its end
    bool same;
};

class sametest : public testing::TestWithParam<samecase> {};

TEST_P(sametest, inputisoutput)
{
    const samecase& c = GetParam();
    std::string tmpl = (fs::temp_directory_path() / "pciannotate-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    const fs::path dir = tmpl;
    std::FILE* f = std::fopen((dir / "in").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(c.input, f);
    std::fclose(f);
    fs::create_hard_link(dir / "in", dir / "link");
    std::fclose(std::fopen((dir / "other").c_str(), "w"));

    const int in = ::open((dir / "in").c_str(), O_RDONLY);
    if (c.skip)
        ::lseek(in, 0, SEEK_END);
    const int out = ::open((dir / c.out).c_str(), O_WRONLY | c.flags);
    ASSERT_GE(in, 0);
    ASSERT_GE(out, 0);
    EXPECT_EQ(inputisoutput(in, out), c.same);
    ::close(in);
    ::close(out);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(all, sametest,
                         testing::Values(
                             // <in >>in, <in 1<>in: the output would overwrite the input or be read back
                             samecase{"appended to", "a\nb\n", "in", O_APPEND, false, true},
                             samecase{"written from the start", "a\nb\n", "in", 0, false, true},
                             samecase{"appended to through a link", "a\nb\n", "link", O_APPEND, false, true},
                             // <in >in: the shell has emptied it, and there is nothing to read
                             samecase{"emptied", "a\nb\n", "in", O_TRUNC, false, false},
                             samecase{"empty and appended to", "", "in", O_APPEND, false, false},
                             samecase{"read to its end", "a\nb\n", "in", O_APPEND, true, false},
                             samecase{"another file", "a\nb\n", "other", O_APPEND, false, false}),
                         rowname());

TEST(inputisoutput, pipes)
{
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    EXPECT_FALSE(inputisoutput(p[0], p[1]));
    ::close(p[0]);
    ::close(p[1]);
}

}  // namespace
