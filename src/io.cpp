#include "io.h"

#include <cerrno>
#include <unistd.h>

long readfd(int fd, char* buf, std::size_t n)
{
    for (;;) {
        const ssize_t got = ::read(fd, buf, n);
        if (got >= 0 || errno != EINTR)
            return static_cast<long>(got);
    }
}

bool writefd(int fd, std::string_view s)
{
    while (!s.empty()) {
        const ssize_t put = ::write(fd, s.data(), s.size());
        if (put < 0 && errno == EINTR)
            continue;  // needs a handled signal during the call: the program's one, SIGBUS, comes from its own faults
        if (put <= 0) {
            if (put == 0)
                errno = EIO;  // no file takes nothing here; retrying would loop forever
            return false;
        }
        s.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}
