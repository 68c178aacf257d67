// pciannotate: annotates a table of PCI device identifiers, read on standard
// input, with the kernel modules that three mapping lists give for each
// device description.
#include "annotate.h"
#include "maplist.h"

#include <cstdio>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct list {
    const char* file;
    const char* missing;
};

constexpr list lists[] = {
    {"map-scsi.lst", "Cant find scsi mapping file"},
    {"map-eth.lst", "Cant find eth mapping file"},
    {"map-video.lst", "Cant find video mapping file"},
};

// The size of the lists that are regular files: the table makes room for all
// their records at once, instead of moving them as each list comes in.
std::size_t listbytes(const int (&fds)[3])
{
    std::size_t bytes = 0;
    for (const int fd : fds) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
            bytes += static_cast<std::size_t>(st.st_size);
    }
    return bytes;
}

int fail(const char* message)
{
    std::fprintf(stderr, "%s\n", message);
    return 1;
}

}  // namespace

int main()
{
    try {
        // All lists are opened before any is read, so a missing one stops
        // the run before anything is read or written.
        int fds[3];
        for (int i = 0; i < 3; ++i) {
            fds[i] = ::open(lists[i].file, O_RDONLY | O_CLOEXEC);
            if (fds[i] < 0)
                return fail(lists[i].missing);
        }
        maptable t;
        t.expect(listbytes(fds));
        for (int i = 0; i < 3; ++i) {
            if (!readmap(t, fds[i]))
                return fail(lists[i].missing);
            // Closed at once: a list opened on a closed standard descriptor
            // must not pass for standard input or output.
            ::close(fds[i]);
        }
        t.index();
        annotate(STDIN_FILENO, STDOUT_FILENO, t);
        return 0;
    } catch (const failure& e) {
        return fail(e.what());
    } catch (const std::bad_alloc&) {
        return fail("Cant allocate memory");
    } catch (const std::length_error&) {  // a buffer larger than any allocation
        return fail("Cant allocate memory");
    }
}
