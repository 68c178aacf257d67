// pciannotate: annotates a table of PCI device identifiers, read on standard
// input, with the kernel modules that three mapping lists give for each
// device description.
#include "annotate.h"
#include "failure.h"
#include "fdio.h"
#include "maplist.h"

#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct list {
    const char* file;
    const char* message;  // when it cannot be opened or read
};

constexpr list lists[] = {
    {"map-scsi.lst", "Cant find scsi mapping file"},
    {"map-eth.lst", "Cant find eth mapping file"},
    {"map-video.lst", "Cant find video mapping file"},
};

void annotatestdin()
{
    // All lists are opened before any is read, so a missing one stops the
    // run before anything is read or written.
    int fds[3];
    for (int i = 0; i < 3; ++i) {
        fds[i] = ::open(lists[i].file, O_RDONLY | O_CLOEXEC);
        if (fds[i] < 0)
            throw failure(lists[i].message);
    }
    // Each list is read whole, once: what happens to the files afterwards
    // cannot change the run.
    text texts[3];
    std::size_t bytes = 0;
    for (int i = 0; i < 3; ++i) {
        if (!readall(fds[i], texts[i]))
            throw failure(lists[i].message);
        bytes += texts[i].size();
        // Closed at once: a list opened on a closed standard descriptor must
        // not pass for standard input or output.
        ::close(fds[i]);
    }
    if (inputisoutput(STDIN_FILENO, STDOUT_FILENO))
        throw failure("Cant read input: input file is output file");
    // Never torn down: the process's exit reclaims it at once.
    static maptable& table = *new maptable;
    table.reserve(bytes);
    for (text& t : texts)
        readmap(table, std::move(t));
    table.index();

    linereader in(STDIN_FILENO);
    writer out(STDOUT_FILENO);
    annotate(in, out, table);
    out.close();
}

}  // namespace

int main()
{
    try {
        annotatestdin();
        return 0;
    } catch (...) {
        report(std::current_exception(), stderr);
        return 1;
    }
}
