// Input and output on file descriptors: whole files, lines, and buffered
// writes. Every call is checked: readall says when it failed, and the line
// reader and the writer throw failure.
#pragma once

#include "hugepages.h"

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

// Reads everything from fd into out; false on a read error (errno set).
bool readall(int fd, text& out);

// Lines of any length from a descriptor, newline included (the last line
// may lack it), held two at a time: the current line and the one after it.
class linereader {
public:
    linereader(int fd, std::size_t bufsize);

    // Moves on by a line: next becomes cur, and the line after it next.
    // False at the end of the input, with both left as they were.
    bool advance();

    std::string_view cur() const { return {buf.get() + from, mid - from}; }
    std::string_view next() const { return {buf.get() + mid, to - mid}; }

private:
    void fill();  // reads more, first moving next and what follows it to the front

    int fd;
    std::size_t size;
    std::unique_ptr<char[]> buf;
    std::size_t from = 0;  // cur is [from, mid), next is [mid, to)
    std::size_t mid = 0;
    std::size_t to = 0;
    std::size_t scan = 0;  // where the search for the end of the line after next goes on
    std::size_t end = 0;   // of what was read
    bool eof = false;
};

// Buffered output to a descriptor. While one buffer fills, a second thread
// writes the one filled before it, so that copying the output into the
// kernel overlaps the filter's own work. Output that fits one buffer is
// written at the end, without the thread.
class writer {
public:
    writer(int fd, std::size_t bufsize);
    writer(const writer&) = delete;
    writer& operator=(const writer&) = delete;
    ~writer();

    void put(std::string_view s)
    {
        if (s.size() > size - len) {
            spill(s);
            return;
        }
        std::memcpy(buf() + len, s.data(), s.size());
        len += s.size();
    }

    // Writes all output given so far.
    void flush();

private:
    char* buf() { return bufs[filling].get(); }
    void spill(std::string_view s);
    void handoff();
    void drain();
    void throwfailed() const;
    bool startthread();
    void run();

    int fd;
    std::size_t size;
    std::unique_ptr<char[]> bufs[2];
    int filling = 0;  // the buffer being filled
    std::size_t len = 0;
    bool nothread = false;  // none could be started: the output is written in turn

    std::mutex m;  // guards what follows
    std::condition_variable changed;
    std::string_view pending;  // the other buffer, while the thread writes it
    int error = 0;             // errno of the thread's failed write
    bool stop = false;
    std::thread thread;
};
