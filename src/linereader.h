// Lines of any length from a descriptor, held two at a time: the current
// line and the one after it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

class linereader {
public:
    // The buffer grows only for lines that do not fit it.
    explicit linereader(int fd, std::size_t bufsize = 65536);

    // Moves on by a line: next becomes cur, and the line after it next.
    // False at the end of the input; cur is then empty, and next still the
    // last line. Throws failure when the input cannot be read.
    bool advance();

    // Each line with its newline; the last line of the input may lack it.
    std::string_view cur() const { return {buf.get() + from, mid - from}; }
    std::string_view next() const { return {buf.get() + mid, to - mid}; }

private:
    void fill();

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
