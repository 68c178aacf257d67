#include "fdio.h"

#include <cerrno>
#include <sys/stat.h>
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
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;  // no file takes nothing here; retrying would loop forever
            return false;
        }
        s.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool readall(int fd, text& out)
{
    // A regular file is read in one go; the byte more shows its end.
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    out.resize(regular ? static_cast<std::size_t>(st.st_size) + 1 : 65536);
    std::size_t len = 0;
    for (;;) {
        if (len == out.size())
            out.resize(2 * out.size());
        const long got = readfd(fd, out.data() + len, out.size() - len);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        len += static_cast<std::size_t>(got);
    }
    out.resize(len);
    return true;
}

bool inputisoutput(int in, int out)
{
    struct stat i {};
    struct stat o {};
    if (::fstat(in, &i) != 0 || ::fstat(out, &o) != 0 || !S_ISREG(i.st_mode) || i.st_dev != o.st_dev ||
        i.st_ino != o.st_ino)
        return false;
    // Output below the input's end overwrites input not yet read, and
    // output from there on is read back: only an input already read to its
    // end is safe. The shell's >f empties f, so that is the case there.
    const off_t at = ::lseek(in, 0, SEEK_CUR);
    return at >= 0 && at < i.st_size;
}
