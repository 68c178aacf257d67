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
                    startcase{{}, {"map-video.lst"}, "Cant find video mapping file\n"},
                    // every list is opened before any is read
                    startcase{{"map-video.lst"}, {"map-scsi.lst"}, "Cant find video mapping file\n"}),
    rowname);

struct faultcase {
    const char* redirect;
    int status;
    const char* err;
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
        // memory
        faultcase{": >out; ulimit -v 200000; head -c 300000000 /dev/zero | PROG >/dev/null", 1,
                  "Cant allocate memory\n"}),
    rowname);

}  // namespace
