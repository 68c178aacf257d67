// Arbitrary bytes split into three lists and a table, run through the filter
// with buffers of a random size. The output must be what a plain, line by
// line reading of the rules gives, with lookups by walking the whole table.
#include "annotate.h"
#include "maplist.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string header = "struct pci_module_map scsi_pci_ids[] = {\n";

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::vector<std::string> lines(const std::string& s)
{
    std::vector<std::string> r;
    for (std::size_t p = 0; p < s.size();) {
        const std::size_t nl = s.find('\n', p);
        const std::size_t end = nl == std::string::npos ? s.size() : nl + 1;
        r.push_back(s.substr(p, end - p));
        p = end;
    }
    return r;
}

std::string expected(const std::string& in, const maptable& t)
{
    const std::vector<std::string> l = lines(in);
    std::string out;
    bool seen = false;
    for (std::size_t i = 0; i < l.size(); ++i) {
        const std::string& cur = l[i];
        if (i + 1 == l.size()) {
            out += cur;
        } else if (cur == header) {
            seen = true;
            out += cur;
        } else if (seen && cur.find('"') != std::string::npos) {
            const std::size_t q = cur.find('"');
            const std::size_t e = cur.rfind('"');
            const std::size_t p = cur.rfind(')');
            if (q == e || p == std::string::npos) {
                out += cur;
                continue;
            }
            const std::string key = cur.substr(q + 1, e - q - 1);
            std::size_t copies = 0;
            for (const mapping& m : t.map()) {
                if (m.name == key) {
                    out += cur.substr(0, p + 1) + ", ( \"" + std::string(m.module) + "\" )" + cur.substr(p + 1);
                    ++copies;
                }
            }
            if (copies == 0)
                out += cur.substr(0, p + 1) + ", ( \"UNKNOWN\" )" + cur.substr(p + 1);
        } else if (seen && l[i + 1] == "};\n" && cur.size() >= 2 && cur.substr(cur.size() - 2) == ",\n") {
            out += cur.substr(0, cur.size() - 2) + "\n";
        } else {
            out += cur;
        }
    }
    return out;
}

std::string run(const std::string& in, const maptable& t, std::size_t bufsize)
{
    const int fin = ::memfd_create("in", 0);
    const int fout = ::memfd_create("out", 0);
    check(fin >= 0 && fout >= 0);
    check(::write(fin, in.data(), in.size()) == static_cast<ssize_t>(in.size()));
    ::lseek(fin, 0, SEEK_SET);
    {
        linereader r(fin, bufsize);
        writer w(fout, bufsize);
        annotate(r, w, t);
        w.flush();
    }
    std::string out(static_cast<std::size_t>(::lseek(fout, 0, SEEK_END)), '\0');
    check(::pread(fout, out.data(), out.size(), 0) == static_cast<ssize_t>(out.size()));
    ::close(fin);
    ::close(fout);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider fdp(data, size);
    const std::size_t bufsize = fdp.ConsumeIntegralInRange<std::size_t>(1, 200);
    maptable t;
    for (int i = 0; i < 3; ++i)
        readmap(t, fdp.ConsumeRandomLengthString(400));
    t.index();
    const std::string in = fdp.ConsumeRemainingBytesAsString();

    const std::string out = run(in, t, bufsize);
    if (in.find(header) == std::string::npos)
        check(out == in);
    check(out == expected(in, t));
    return 0;
}
