// Buffered output to a descriptor, every write checked. The buffer grows with
// the output, and once it is large a second thread writes it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

class writer {
public:
    // bufsize is where the buffer starts; it grows with the output.
    explicit writer(int fd, std::size_t bufsize = 65536);
    writer(const writer&) = delete;
    writer& operator=(const writer&) = delete;
    ~writer();

    // Throws failure when the output cannot be written.
    void put(std::string_view s)
    {
        if (s.size() > size - len) {
            putfull(s);
            return;
        }
        std::memcpy(buf.get() + len, s.data(), s.size());
        len += s.size();
    }

    // Writes all output put so far.
    void flush();
    // Writes all output and closes the descriptor, which is where some file
    // systems report a failed write.
    void close();

private:
    void putfull(std::string_view s);
    void startthread();
    void give();
    void wait();
    void work();

    int fd;
    std::size_t size;
    std::unique_ptr<char[]> buf;
    std::unique_ptr<char[]> spare;  // the thread's buffer while the filter fills buf
    std::size_t len = 0;
    std::size_t total = 0;  // bytes written or given to the thread

    std::mutex m;  // guards what follows
    std::condition_variable changed;
    std::string_view pending;  // what the thread is writing
    int error = 0;             // errno of its failed write
    bool stop = false;
    std::thread thread;
};
