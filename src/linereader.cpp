#include "linereader.h"

#include "failure.h"
#include "fdio.h"

#include <cstring>

linereader::linereader(int fd, std::size_t bufsize) : fd(fd), size(bufsize > 0 ? bufsize : 1), buf(new char[size]) {}

bool linereader::advance()
{
    for (;;) {
        const auto* nl = static_cast<const char*>(std::memchr(buf.get() + scan, '\n', end - scan));
        if (nl != nullptr) {
            from = mid;
            mid = to;
            to = scan = static_cast<std::size_t>(nl + 1 - buf.get());
            return true;
        }
        scan = end;  // a long line is searched once, not once per read
        if (eof) {
            from = mid;
            if (to == end)
                return false;
            mid = to;
            to = end;
            return true;
        }
        fill();
    }
}

// Reads more, first moving next and what follows it to the front: cur is no
// longer needed once the line after next is being looked for.
void linereader::fill()
{
    if (mid > 0) {
        std::memmove(buf.get(), buf.get() + mid, end - mid);
        to -= mid;
        scan -= mid;
        end -= mid;
        from = mid = 0;
    }
    if (end == size) {  // next and the line after it fill the buffer
        std::unique_ptr<char[]> more(new char[2 * size]);
        std::memcpy(more.get(), buf.get(), end);
        buf.swap(more);
        size *= 2;
    }
    const long got = readfd(fd, buf.get() + end, size - end);
    if (got < 0)
        syserror("Cant read input");
    eof = got == 0;
    end += static_cast<std::size_t>(got);
}
