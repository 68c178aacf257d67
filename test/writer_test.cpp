#include "writer.h"

#include "failure.h"
#include "helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using rows::PrintTo;

// Where a writer's output goes.
enum class target {
    file,
    full,    // /dev/full: every write fails
    closed,  // no descriptor at all
    gone,    // a pipe whose reader leaves after 6 MiB
};

struct writecase {
    const char* what;
    std::size_t first;  // bytes of pieces(first) before the pieces
    std::vector<std::string> pieces;
    target to;
    const char* err;  // nullptr when the output is written and closed
};

// n bytes in pieces of every length from 0 to 999, each byte telling where
// it stands, so that a piece lost, doubled or moved shows.
std::vector<std::string> pieces(std::size_t n)
{
    std::vector<std::string> r;
    std::size_t at = 0;
    for (std::size_t len = 0; at < n; len = (len + 1) % 1000) {
        std::string& p = r.emplace_back();
        for (std::size_t i = 0; i < len && at < n; ++i, ++at)
            p += static_cast<char>('a' + at % 23 + at / 997 % 3);
    }
    return r;
}

class writetest : public testing::TestWithParam<writecase> {};

// Reads a pipe up to limit bytes, then closes it.
void readthenleave(int fd, std::size_t limit)
{
    char buf[65536];
    for (std::size_t got = 0; got < limit;) {
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

TEST_P(writetest, writes)
{
    const writecase& c = GetParam();
    std::vector<std::string> all = pieces(c.first);
    all.insert(all.end(), c.pieces.begin(), c.pieces.end());
    std::string want;
    for (const std::string& p : all)
        want += p;
    // A reader that has gone is a failed write, not the end of the program.
    const auto pipe = std::signal(SIGPIPE, SIG_IGN);
    for (const std::size_t bufsize : {1, 7, 4096, 65536}) {
        const tempfile f;
        int fd = -1;
        std::thread reader;
        if (c.to == target::file) {
            fd = ::dup(f.fd());
        } else if (c.to == target::full) {
            fd = ::open("/dev/full", O_WRONLY);
        } else if (c.to == target::gone) {
            int p[2];
            ASSERT_EQ(::pipe(p), 0);
            reader = std::thread(readthenleave, p[0], std::size_t{6} << 20);
            fd = p[1];
        }
        ASSERT_TRUE(c.to == target::closed || fd >= 0);
        try {
            writer w(fd, bufsize);
            for (const std::string& p : all)
                w.put(p);
            w.close();
            EXPECT_EQ(c.err, nullptr) << "no failure, buffers of " << bufsize;
            EXPECT_TRUE(f.contents() == want) << "buffers of " << bufsize;
        } catch (const failure& e) {
            EXPECT_STREQ(e.what(), c.err) << "buffers of " << bufsize;
            ::close(fd);  // the writer did not get to close it
        }
        if (reader.joinable())
            reader.join();
    }
    std::signal(SIGPIPE, pipe);
}

INSTANTIATE_TEST_SUITE_P(
    all, writetest,
    testing::Values(
        writecase{"nothing", 0, {}, target::file, nullptr},
        writecase{"short pieces", 0, {"a", "bc", "", "def", "\n"}, target::file, nullptr},
        writecase{"a piece larger than the buffer", 0, {"ab", std::string(100000, 'x'), "cd"}, target::file, nullptr},
        // the buffer grows, and then a second thread writes
        writecase{"long output", std::size_t{12} << 20, {}, target::file, nullptr},
        writecase{"pieces larger than the full buffer",
                  std::size_t{8} << 20,
                  {std::string(std::size_t{1} << 20, 'x'), std::string(std::size_t{1} << 20, 'y'), "z"},
                  target::file,
                  nullptr},
        // failures
        writecase{"a failed write", 0, {"x"}, target::full, "Cant write output: No space left on device"},
        writecase{"a failed long write",
                  std::size_t{1} << 20,
                  {},
                  target::full,
                  "Cant write output: No space left on device"},
        writecase{
            "a write failed in the thread", std::size_t{16} << 20, {}, target::gone, "Cant write output: Broken pipe"},
        writecase{"no descriptor", 0, {"x"}, target::closed, "Cant write output: Bad file descriptor"},
        writecase{"a failed close", 0, {}, target::closed, "Cant write output: Bad file descriptor"}),
    rowname());

// A datagram socket that refuses writes larger than its buffer and takes
// the smaller ones, which a reader drains. A failed write must fail the run
// even when the writes after it would succeed, so it is told by the next
// put, before the output ends.
struct datagramcase {
    const char* what;
    int sndbuf;  // the system doubles it
    std::size_t bytes;
    std::size_t bufsize;
};

class datagram : public testing::TestWithParam<datagramcase> {};

TEST_P(datagram, earlyfailure)
{
    const datagramcase& c = GetParam();
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, sv), 0);
    ASSERT_EQ(::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &c.sndbuf, sizeof c.sndbuf), 0);
    const timeval wait = {0, 100000};
    ASSERT_EQ(::setsockopt(sv[1], SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait), 0);
    std::atomic<bool> done = false;
    std::thread reader([&] {
        std::vector<char> buf(std::size_t{1} << 20);
        while (::recv(sv[1], buf.data(), buf.size(), 0) > 0 || !done) {
        }
    });
    try {
        writer w(sv[0], c.bufsize);
        for (const std::string& p : pieces(c.bytes))
            w.put(p);
        ADD_FAILURE() << "no failure while writing";
    } catch (const failure& e) {
        EXPECT_STREQ(e.what(), "Cant write output: Message too long");
    }
    done = true;
    reader.join();
    ::close(sv[0]);
    ::close(sv[1]);
}

INSTANTIATE_TEST_SUITE_P(all, datagram,
                         testing::Values(datagramcase{"written in turn", 65536, 300000, 256 * 1024},
                                         // only the full buffers of 512 KiB that the thread writes fail
                                         datagramcase{"written by the thread", 200000, std::size_t{16} << 20, 65536}),
                         rowname());

}  // namespace
