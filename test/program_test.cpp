// Runs the built program in a temporary directory, for what only the whole
// program shows: the lists it finds, its messages and its exit status.
#include "helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

using rows::PrintTo;
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

    // A tool that some tests need: CI installs it, so there its absence is
    // a failure; elsewhere the test is skipped.
    static bool have(const std::string& tool)
    {
        if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0)
            return true;
        if (std::getenv("CI") != nullptr)
            ADD_FAILURE() << tool << " is not installed";
        return false;
    }

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
    const char* what;
    std::vector<const char*> missing;     // lists removed
    std::vector<const char*> unreadable;  // lists that are directories
    const char* err;
};

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
    testing::Values(
        startcase{"none", {"map-scsi.lst", "map-eth.lst", "map-video.lst"}, {}, "Cant find scsi mapping file\n"},
        startcase{"no scsi", {"map-scsi.lst"}, {}, "Cant find scsi mapping file\n"},
        startcase{"no eth", {"map-eth.lst"}, {}, "Cant find eth mapping file\n"},
        startcase{"no eth and no video", {"map-eth.lst", "map-video.lst"}, {}, "Cant find eth mapping file\n"},
        startcase{"no video", {"map-video.lst"}, {}, "Cant find video mapping file\n"},
        // a list that opens but cannot be read counts as missing
        startcase{"scsi unreadable", {}, {"map-scsi.lst"}, "Cant find scsi mapping file\n"},
        startcase{"eth unreadable", {}, {"map-eth.lst"}, "Cant find eth mapping file\n"},
        startcase{"video unreadable", {}, {"map-video.lst"}, "Cant find video mapping file\n"},
        // every list is opened before any is read
        startcase{
            "scsi unreadable and no video", {"map-video.lst"}, {"map-scsi.lst"}, "Cant find video mapping file\n"}),
    rowname());

struct faultcase {
    const char* what;
    const char* redirect;
    int status;
    const char* err;
};

class faults : public program, public testing::WithParamInterface<faultcase> {};

TEST_P(faults, fail)
{
    // An output of several megabytes, so that a reader that stops early
    // leaves the program writing.
    put("big", header + std::string(6 << 20, 'x') + "\n");
    const result r = run(GetParam().redirect);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    all, faults,
    testing::Values(
        // reading
        faultcase{"input a directory", "PROG <. >out", 1, "Cant read input: Is a directory\n"},
        faultcase{"input closed", ": >out; PROG <&- >out", 1, "Cant read input: Bad file descriptor\n"},
        // writing
        faultcase{"output full", ": >out; PROG <in >/dev/full", 1, "Cant write output: No space left on device\n"},
        faultcase{"output full, big input", ": >out; PROG <big >/dev/full", 1,
                  "Cant write output: No space left on device\n"},
        faultcase{"output closed", ": >out; PROG <in >&-", 1, "Cant write output: Bad file descriptor\n"},
        faultcase{"output closed, empty input", ": >out; PROG </dev/null >&-", 1,
                  "Cant write output: Bad file descriptor\n"},
        faultcase{"reader gone, SIGPIPE ignored",
                  ": >out; trap '' PIPE; { PROG <big; echo $? >st; } | head -c 1 >/dev/null; exit $(cat st)", 1,
                  "Cant write output: Broken pipe\n"},
        faultcase{"reader gone after a byte",
                  ": >out; { PROG <big; echo $? >st; } | head -c 1 >/dev/null; exit $(cat st)", 128 + 13, ""},
        faultcase{"reader gone after a line",
                  ": >out; { PROG <big; echo $? >st; } | head -n 1 >/dev/null; exit $(cat st)", 128 + 13, ""}),
    rowname());

// Standard input and output the same file. The file size is capped and
// the run timed out, so that a program that reads its own output cannot
// fill the disk.
struct samefilecase {
    const char* what;
    const char* redirect;
    int status;
    const char* err;
    bool kept;  // the file is as it was; else empty
};

class samefile : public program, public testing::WithParamInterface<samefilecase> {};

TEST_P(samefile, neverreadsitsoutput)
{
    // Output well past one buffer, so that it would be read back.
    std::string t = header;
    for (int i = 0; i < 20000; ++i)
        t += "\t{ " + std::to_string(i) + ", N_(\"Card\")},\n";
    t += "};\n";
    put("f", t);
    const samefilecase& c = GetParam();
    const result r = run(std::string("ulimit -f 100000; timeout 20 ") + c.redirect);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(get("f") == (c.kept ? t : "")) << get("f").size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(all, samefile,
                         testing::Values(samefilecase{"appended", "PROG <f >>f", 1,
                                                      "Cant read input: input file is output file\n", true},
                                         samefilecase{"read and written", "PROG <f 1<>f", 1,
                                                      "Cant read input: input file is output file\n", true},
                                         // the shell empties the file before the program starts
                                         samefilecase{"emptied", "PROG <f >f", 0, "", false}),
                         rowname());

// Memory capped with ulimit -v. A sanitized build reserves far more address
// space than it uses, so these run in the plain build only.
#if !SANITIZED
INSTANTIATE_TEST_SUITE_P(
    memory, faults,
    testing::Values(faultcase{"input line too long",
                              ": >out; ulimit -v 200000; head -c 300000000 /dev/zero | PROG >/dev/null", 1,
                              "Cant allocate memory\n"},
                    faultcase{"list too long",
                              ": >out; head -c 300000000 /dev/zero >map-eth.lst; ulimit -v 200000; PROG <in >out", 1,
                              "Cant allocate memory\n"}),
    rowname());
#endif

struct listcase {
    const char* what;
    std::string scsi;
    std::string key;
    std::string module;
};

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
    rowname());

// An I/O error injected with strace into one call on standard input or
// output, or on a list.
struct injectcase {
    const char* what;
    const char* call;  // read or close
    const char* file;  // the list, or nullptr for standard input (read) or output (close)
    const char* err;
};

class ioerror : public program, public testing::WithParamInterface<injectcase> {
protected:
    // The leak checker cannot run under a tracer. The address layout is
    // fixed, so that a sanitizer's runtime makes the same calls in the
    // counted run as in the run with the error.
    const std::string strace = "ASAN_OPTIONS=detect_leaks=0 setarch -R strace ";

    // Which call of its kind the first one on the case's descriptor is, in a
    // trace of the program; 0 if there is none. What the runtime does first
    // decides it, so it is counted.
    int callnumber()
    {
        const std::string call = GetParam().call;
        EXPECT_EQ(run(strace + "-o trace -e trace=openat," + call + " PROG <in >out").status, 0);
        std::ifstream trace(dir / "trace");
        std::string fd = GetParam().file != nullptr ? "" : call == "read" ? "0" : "1";
        int n = 0;
        for (std::string line; std::getline(trace, line);) {
            if (GetParam().file != nullptr &&
                line.find(std::string("\"") + GetParam().file + "\"") != std::string::npos)
                fd = line.substr(line.rfind(' ') + 1);
            if (line.rfind(call + "(", 0) != 0)
                continue;
            ++n;
            // read(fd, ...) or close(fd)
            if (!fd.empty() && (line.rfind(call + "(" + fd + ",", 0) == 0 || line.rfind(call + "(" + fd + ")", 0) == 0))
                return n;
        }
        return 0;
    }
};

TEST_P(ioerror, fails)
{
    if (!have("strace"))
        GTEST_SKIP() << "strace is not installed";
    const int n = callnumber();
    ASSERT_GT(n, 0);
    const std::string call = GetParam().call;
    const result r = run(strace + "-o /dev/null -e trace=" + call + " -e inject=" + call +
                         ":error=EIO:when=" + std::to_string(n) + " PROG <in >out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, GetParam().err);
    // A failed read stops the run before anything is written.
    EXPECT_EQ(r.out.empty(), call == "read");
}

INSTANTIATE_TEST_SUITE_P(
    all, ioerror,
    testing::Values(injectcase{"reading input", "read", nullptr, "Cant read input: Input/output error\n"},
                    injectcase{"reading scsi", "read", "map-scsi.lst", "Cant find scsi mapping file\n"},
                    injectcase{"reading eth", "read", "map-eth.lst", "Cant find eth mapping file\n"},
                    injectcase{"reading video", "read", "map-video.lst", "Cant find video mapping file\n"},
                    injectcase{"closing output", "close", nullptr, "Cant write output: Input/output error\n"}),
    rowname());

// A list changed by another program while this one waits for its input:
// the lists were read whole at start-up, so the output is that of the lists
// as they were then.
struct changecase {
    const char* what;
    const char* change;  // shell text
};

class changedlist : public program, public testing::WithParamInterface<changecase> {};

TEST_P(changedlist, changesnothing)
{
    const result before = run();
    ASSERT_EQ(before.status, 0);
    // The program starts on a named pipe; once it waits in a read of the
    // pipe, the lists are changed, and then the table comes.
    const result r = run(std::string("mkfifo pipe && { PROG <pipe >out & pid=$!; exec 3>pipe; ") +
                         "for i in $(seq 1000); do grep -q pipe /proc/$pid/wchan && break; sleep 0.01; done; " +
                         GetParam().change + "; cat in >&3; exec 3>&-; wait $pid; }");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, before.out);
}

INSTANTIATE_TEST_SUITE_P(all, changedlist,
                         testing::Values(changecase{"rewritten", "printf 'Card | new\\nOther | new\\n' >map-scsi.lst"},
                                         changecase{"replaced", "printf 'Other | new\\n' >new && mv new map-eth.lst"},
                                         changecase{"grown", "printf 'Other | more\\n' >>map-video.lst"},
                                         changecase{"cut short", "truncate -s 4 map-video.lst"},
                                         changecase{"emptied", ": >map-scsi.lst"},
                                         changecase{"removed", "rm map-scsi.lst map-eth.lst map-video.lst"}),
                         rowname());

// Lines of 64 MiB go through whole, in memory bounded by the line.
struct hugecase {
    const char* what;
    const char* before;  // shell text around the long line, as printf formats
    const char* after;
    const char* annotated;
};

class hugeline : public program, public testing::WithParamInterface<hugecase> {};

TEST_P(hugeline, passes)
{
    const hugecase& c = GetParam();
    const std::string make = std::string("head -c 67108864 /dev/zero | tr '\\0' x >line; ") + "{ printf '" + c.before +
                             "'; cat line; printf '" + c.after + "'; } >in; { printf '" + c.before +
                             "'; cat line; printf '" + c.annotated + "'; } >want; ";
    // GNU time measures the peak; without it only the bytes are checked.
    const bool timed = !SANITIZED && have("/usr/bin/time");
    const result r = run(make + (timed ? "/usr/bin/time -f %M -o mem " : "") + "PROG <in >out");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::system(("cmp -s '" + (dir / "out").string() + "' '" + (dir / "want").string() + "'").c_str()), 0);
    if (timed) {
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
                         rowname());

}  // namespace
