// pciannotate: annotates a table of PCI device identifiers, read on standard
// input, with the kernel modules that three mapping lists give for each
// device description.
#include "annotate.h"
#include "maplist.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string_view>
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

const maptable* table = nullptr;  // for onbus

// A mapped list whose pages cannot be read (an I/O error, or the file cut
// short while the program runs) raises SIGBUS where its text is touched: the
// run stops with that list's message. Any other SIGBUS is left to the
// default action, which the access raises again on return. (Coverage never
// counts these lines: _exit ends the run before the counts are written.)
void onbus(int /*sig*/, siginfo_t* info, void* /*context*/)
{
    const std::size_t i = table != nullptr ? table->textof(info->si_addr) : maptable::none;
    if (i < std::size(lists)) {
        const std::string_view m = lists[i].missing;
        (void)!::write(STDERR_FILENO, m.data(), m.size());
        (void)!::write(STDERR_FILENO, "\n", 1);
        ::_exit(1);
    }
    ::signal(SIGBUS, SIG_DFL);
}

// Makes a fault on the texts of t end the run as onbus says.
void catchbus(const maptable& t)
{
    table = &t;
    struct sigaction bus {};
    bus.sa_sigaction = onbus;
    bus.sa_flags = SA_SIGINFO;
    ::sigaction(SIGBUS, &bus, nullptr);
}

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
        // The table lives until the process ends: nothing is torn down at
        // exit, and onbus can reach it.
        maptable& t = *new maptable;
        catchbus(t);
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
