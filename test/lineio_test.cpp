#include "lineio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

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
        std::FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(want.data(), 1, want.size(), f), want.size());
        ASSERT_EQ(std::fflush(f), 0);
        ::lseek(fileno(f), 0, SEEK_SET);
        text got;
        EXPECT_TRUE(readall(fileno(f), got));
        std::fclose(f);
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
