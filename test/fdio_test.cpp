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

}  // namespace
