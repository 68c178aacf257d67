// Runs the built program in a temporary directory, for what only the whole
// program shows: the lists it finds, its messages and its exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

auto rowname = [](const auto& info) { return "row" + std::to_string(info.index); };

namespace fs = std::filesystem;

const std::string header = "struct pci_module_map scsi_pci_ids[] = {\n";
const std::string table = header + "\t{ 1, N_(\"Card\")},\n\t{ 2, N_(\"Other\")},\n};\n";

struct result {
    int status;
    std::string out;
    std::string err;
};

class program : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "pciannotate-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        put("in", table);
        put("map-scsi.lst", "Card | sc\n");
        put("map-eth.lst", "Card | et\n");
        put("map-video.lst", "Card | vi\n");
    }

    void TearDown() override { fs::remove_all(dir); }

    void put(const std::string& name, const std::string& text) const
    {
        std::ofstream(dir / name, std::ios::binary) << text;
    }

    std::string get(const std::string& name) const
    {
        std::ifstream f(dir / name, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }

    // Runs the program in dir; redirect is the shell text that gives its
    // standard input and output, around "PROG".
    result run(const std::string& redirect = "PROG <in >out") const
    {
        std::string cmd = redirect;
        cmd.replace(cmd.find("PROG"), 4, PROGRAM);
        const int st = std::system(("cd '" + dir.string() + "' && { " + cmd + "; } 2>err").c_str());
        return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), get("out"), get("err")};
    }
};

TEST_F(program, annotates)
{
    const result r = run("PROG some arguments -x <in >out");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, header + "\t{ 1, N_(\"Card\"), ( \"sc\" )},\n\t{ 1, N_(\"Card\"), ( \"et\" )},\n" +
                         "\t{ 1, N_(\"Card\"), ( \"vi\" )},\n\t{ 2, N_(\"Other\"), ( \"UNKNOWN\" )},\n};\n");
}

TEST_F(program, emptylists)
{
    put("map-scsi.lst", "");
    put("map-eth.lst", "");
    put("map-video.lst", "");
    const result r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, header + "\t{ 1, N_(\"Card\"), ( \"UNKNOWN\" )},\n\t{ 2, N_(\"Other\"), ( \"UNKNOWN\" )},\n};\n");
}

struct startcase {
    std::vector<const char*> missing;     // lists removed
    std::vector<const char*> unreadable;  // lists that are directories
    const char* err;
};

void PrintTo(const startcase& c, std::ostream* os)
{
    *os << c.err;
}

class startup : public program, public testing::WithParamInterface<startcase> {};

TEST_P(startup, stopsbeforereading)
{
    for (const char* f : GetParam().missing)
        fs::remove(dir / f);
    for (const char* f : GetParam().unreadable) {
        fs::remove(dir / f);
        fs::create_directory(dir / f);
    }
    // The shell's cat shows what the program left of standard input.
    const result r = run("{ PROG; s=$?; cat; exit $s; } <in >out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.out, table);
}

INSTANTIATE_TEST_SUITE_P(
    all, startup,
    testing::Values(startcase{{"map-scsi.lst", "map-eth.lst", "map-video.lst"}, {}, "Cant find scsi mapping file\n"},
                    startcase{{"map-scsi.lst"}, {}, "Cant find scsi mapping file\n"},
                    startcase{{"map-eth.lst"}, {}, "Cant find eth mapping file\n"},
                    startcase{{"map-eth.lst", "map-video.lst"}, {}, "Cant find eth mapping file\n"},
                    startcase{{"map-video.lst"}, {}, "Cant find video mapping file\n"},
                    // a list that opens but cannot be read counts as missing
                    startcase{{}, {"map-scsi.lst"}, "Cant find scsi mapping file\n"},
                    startcase{{}, {"map-eth.lst"}, "Cant find eth mapping file\n"},
                    startcase{{}, {"map-video.lst"}, "Cant find video mapping file\n"},
                    // every list is opened before any is read
                    startcase{{"map-video.lst"}, {"map-scsi.lst"}, "Cant find video mapping file\n"}),
    rowname);

struct faultcase {
    const char* redirect;
    int status;
    const char* err;
    bool plain = false;  // needs a build without sanitizers, which reserve far more memory than they use
};

void PrintTo(const faultcase& c, std::ostream* os)
{
    *os << c.redirect;
}

class faults : public program, public testing::WithParamInterface<faultcase> {};

TEST_P(faults, fail)
{
    // An output of several megabytes, so that a reader that stops early
    // leaves the program writing.
    if (GetParam().plain && SANITIZED)
        GTEST_SKIP() << "memory limits do not apply to a sanitized build";
    put("big", header + std::string(6 << 20, 'x') + "\n");
    const result r = run(GetParam().redirect);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    all, faults,
    testing::Values(
        // reading
        faultcase{"PROG <. >out", 1, "Cant read input: Is a directory\n"},
        faultcase{": >out; PROG <&- >out", 1, "Cant read input: Bad file descriptor\n"},
        // writing
        faultcase{": >out; PROG <in >/dev/full", 1, "Cant write output: No space left on device\n"},
        faultcase{": >out; PROG <big >/dev/full", 1, "Cant write output: No space left on device\n"},
        faultcase{": >out; PROG <in >&-", 1, "Cant write output: Bad file descriptor\n"},
        faultcase{": >out; trap '' PIPE; { PROG <big; echo $? >st; } | head -c 1 >/dev/null; exit $(cat st)", 1,
                  "Cant write output: Broken pipe\n"},
        faultcase{": >out; { PROG <big; echo $? >st; } | head -c 1 >/dev/null; exit $(cat st)", 128 + 13, ""},
        faultcase{": >out; { PROG <big; echo $? >st; } | head -n 1 >/dev/null; exit $(cat st)", 128 + 13, ""},
        // memory
        faultcase{": >out; ulimit -v 200000; head -c 300000000 /dev/zero | PROG >/dev/null", 1,
                  "Cant allocate memory\n", true},
        faultcase{": >out; head -c 300000000 /dev/zero >map-eth.lst; ulimit -v 200000; PROG <in >out", 1,
                  "Cant allocate memory\n", true}),
    rowname);

struct listcase {
    const char* what;
    std::string scsi;
    std::string key;
    std::string module;
};

void PrintTo(const listcase& c, std::ostream* os)
{
    *os << c.what;
}

class lists : public program, public testing::WithParamInterface<listcase> {};

TEST_P(lists, annotate)
{
    const listcase& c = GetParam();
    put("map-scsi.lst", c.scsi);
    put("map-eth.lst", "");
    put("map-video.lst", "");
    put("in", header + "{ N_(\"" + c.key + "\") },\n};\n");
    const result r = run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, header + "{ N_(\"" + c.key + "\"), ( \"" + c.module + "\" ) },\n};\n") << c.what;
}

const std::string longname(1 << 20, 'N');

INSTANTIATE_TEST_SUITE_P(
    all, lists,
    testing::Values(listcase{"no final newline", "Card | sc", "Card", "sc"},
                    listcase{"CRLF", "x | y\r\nCard | sc\r\n", "Card", "sc"},
                    listcase{"zero byte in the name", std::string("C\0rd | sc\n", 10), std::string("C\0rd", 4), "sc"},
                    listcase{"zero byte in the module", std::string("Card | s\0c\n", 11), "Card",
                             std::string("s\0c", 3)},
                    listcase{"a line of 1 MiB", "x | y\n" + longname + " | sc\nz | w\n", longname, "sc"}),
    rowname);

// An I/O error injected on the first read of standard input or of a list.
// A list is mapped rather than read, so for a list the mapping is made to
// fail first, and the program falls back to reading it.
struct eiocase {
    const char* file;  // the list, or nullptr for standard input
    const char* err;
};

void PrintTo(const eiocase& c, std::ostream* os)
{
    *os << (c.file != nullptr ? c.file : "standard input");
}

class readerror : public program, public testing::WithParamInterface<eiocase> {
protected:
    // The leak checker cannot run under a tracer. The address layout is
    // fixed, so that a sanitizer's runtime makes the same calls in the
    // counted run as in the run with the error.
    const std::string strace = "ASAN_OPTIONS=detect_leaks=0 setarch -R strace ";

    // Which call of its kind (mmap or read) the first one on GetParam().file
    // (or on standard input) is in a trace of the program under the strace
    // options given; 0 if there is none. Which it is depends on what the loader and
    // the runtime do first, so it is counted.
    int callnumber(const std::string& options, const std::string& kind)
    {
        EXPECT_EQ(run(strace + "-o trace -e trace=openat,mmap,read " + options + "PROG <in >out").status, 0);
        std::ifstream trace(dir / "trace");
        std::string fd = GetParam().file == nullptr ? "0" : "";
        int n = 0;
        for (std::string line; std::getline(trace, line);) {
            if (GetParam().file != nullptr &&
                line.find(std::string("\"") + GetParam().file + "\"") != std::string::npos)
                fd = line.substr(line.rfind(' ') + 1);
            if (line.rfind(kind + "(", 0) != 0)
                continue;
            ++n;
            // read(fd, ...) or mmap(addr, size, prot, flags, fd, 0)
            if (!fd.empty() &&
                (line.rfind(kind + "(" + fd + ",", 0) == 0 || line.find(", " + fd + ", 0)") != std::string::npos))
                return n;
        }
        return 0;
    }
};

TEST_P(readerror, fails)
{
    if (std::system("command -v strace >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is not installed";
    if (THREADSANITIZED)
        GTEST_SKIP() << "ThreadSanitizer's runtime maps memory at times of its own, so no call has a fixed number";
    std::string inject;
    if (GetParam().file != nullptr) {
        const int m = callnumber("", "mmap");
        ASSERT_GT(m, 0);
        inject = "-e inject=mmap:error=ENOMEM:when=" + std::to_string(m) + " ";
        // With the mapping refused, the list is read and annotates as before.
        const result r = run(strace + "-o /dev/null -e trace=mmap " + inject + "PROG <in >out");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, run("PROG <in >out").out);
    }
    const int n = callnumber(inject, "read");
    ASSERT_GT(n, 0);
    const result r = run(strace + "-o /dev/null -e trace=mmap,read " + inject +
                         "-e inject=read:error=EIO:when=" + std::to_string(n) + " PROG <in >out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(all, readerror,
                         testing::Values(eiocase{nullptr, "Cant read input: Input/output error\n"},
                                         eiocase{"map-scsi.lst", "Cant find scsi mapping file\n"},
                                         eiocase{"map-eth.lst", "Cant find eth mapping file\n"},
                                         eiocase{"map-video.lst", "Cant find video mapping file\n"}),
                         rowname);

// A list cut short by another process while the program runs: its mapped
// pages are gone, and touching them must stop the run with the list's
// message rather than kill it or let it go on.
struct cutcase {
    const char* file;
    const char* err;
};

void PrintTo(const cutcase& c, std::ostream* os)
{
    *os << c.file;
}

class cutshort : public program, public testing::WithParamInterface<cutcase> {};

TEST_P(cutshort, stops)
{
    std::string list;
    for (int i = 0; i < 20000; ++i)
        list += "Card " + std::to_string(i) + " | m" + std::to_string(i) + "\n";
    put(GetParam().file, list);
    put("in", header + "\t{ 1, N_(\"Card 19999\")},\n};\n");
    // The program waits for its input on a pipe while the list, once
    // mapped, is emptied.
    const result r =
        run(std::string("mkfifo pipe && { PROG <pipe >out & pid=$!; exec 3>pipe; ") +
            "for i in $(seq 1000); do grep -q " + GetParam().file + " /proc/$pid/maps && break; sleep 0.01; done; : >" +
            GetParam().file + "; cat in >&3; exec 3>&-; wait $pid; }");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(all, cutshort,
                         testing::Values(cutcase{"map-scsi.lst", "Cant find scsi mapping file\n"},
                                         cutcase{"map-eth.lst", "Cant find eth mapping file\n"},
                                         cutcase{"map-video.lst", "Cant find video mapping file\n"}),
                         rowname);

// Lines of 64 MiB go through whole, in memory bounded by the line.
struct hugecase {
    const char* what;
    const char* before;  // shell text around the long line, as printf formats
    const char* after;
    const char* annotated;
};

void PrintTo(const hugecase& c, std::ostream* os)
{
    *os << c.what;
}

class hugeline : public program, public testing::WithParamInterface<hugecase> {};

TEST_P(hugeline, passes)
{
    const hugecase& c = GetParam();
    const std::string make = std::string("head -c 67108864 /dev/zero | tr '\\0' x >line; ") + "{ printf '" + c.before +
                             "'; cat line; printf '" + c.after + "'; } >in; { printf '" + c.before +
                             "'; cat line; printf '" + c.annotated + "'; } >want; ";
    // GNU time measures the peak; without it only the bytes are checked.
    const bool timed = std::system("test -x /usr/bin/time") == 0;
    const result r = run(make + (timed ? "/usr/bin/time -f %M -o mem " : "") + "PROG <in >out");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::system(("cmp -s '" + (dir / "out").string() + "' '" + (dir / "want").string() + "'").c_str()), 0);
    if (timed && !SANITIZED) {
        EXPECT_LT(std::stol(get("mem")), 3 * 65536) << "KiB at the peak";
    }
}

INSTANTIATE_TEST_SUITE_P(all, hugeline,
                         testing::Values(hugecase{"no newline", "", "", ""},
                                         hugecase{"an entry line", "struct pci_module_map scsi_pci_ids[] = {\\n{ N_(\"",
                                                  "\") },\\n};\\n", "\"), ( \"UNKNOWN\" ) },\\n};\\n"},
                                         hugecase{"a plain line before the closing line",
                                                  "struct pci_module_map scsi_pci_ids[] = {\\n", ",\\n};\\n",
                                                  "\\n};\\n"}),
                         rowname);

}  // namespace
