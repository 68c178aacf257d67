#include "annotate.h"

#include "helpers.h"
#include "maplist.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using rows::PrintTo;

const std::string header = "struct pci_module_map scsi_pci_ids[] = {\n";

std::string run(const std::string& input, const std::string& scsi, const std::string& eth = "",
                const std::string& video = "", std::size_t bufsize = 128 * 1024)
{
    maptable t;
    readmap(t, scsi);
    readmap(t, eth);
    readmap(t, video);
    t.index();
    tempfile in(input);
    tempfile out;
    linereader r(in.fd(), bufsize);
    writer w(out.fd(), bufsize);
    annotate(r, w, t);
    w.flush();
    return out.contents();
}

struct filtercase {
    const char* what;
    std::string scsi;
    std::string eth;
    std::string video;
    std::string in;
    std::string out;
};

class filtertest : public testing::TestWithParam<filtercase> {};

TEST_P(filtertest, output)
{
    const filtercase& c = GetParam();
    // Tiny buffers put every line across reads and writes.
    for (const std::size_t bufsize : {1, 2, 7, 64, 128 * 1024})
        EXPECT_EQ(run(c.in, c.scsi, c.eth, c.video, bufsize), c.out) << c.what << ", buffers of " << bufsize;
}

// An entry line for description d, and its copy annotated with module m.
std::string e(const std::string& d)
{
    return "\t{ 0x9004, 0x8178, N_(\"" + d + "\")},\n";
}

std::string a(const std::string& d, const std::string& m)
{
    return "\t{ 0x9004, 0x8178, N_(\"" + d + "\"), ( \"" + m + "\" )},\n";
}

const std::string lists = "Adaptec AHA-2940 | aic7xxx\nIntel EtherExpress | e100 eepro100\n";
const std::string entry = e("Adaptec AHA-2940");
const std::string annotated = a("Adaptec AHA-2940", "aic7xxx");
const std::string nul("a\0b\n\0\n\"q\0\"\n", 12);

INSTANTIATE_TEST_SUITE_P(
    all, filtertest,
    testing::Values(
        // passing through
        filtercase{"empty input", lists, "", "", "", ""}, filtercase{"one line: header", lists, "", "", header, header},
        filtercase{"one line: entry", lists, "", "", entry, entry},
        filtercase{"no header", lists, "", "", entry + "x,\n};\n" + entry, entry + "x,\n};\n" + entry},
        filtercase{"no header, zero bytes, no final newline", lists, "", "", nul + entry + nul + "x",
                   nul + entry + nul + "x"},
        filtercase{"header with a trailing blank", lists, "", "",
                   "struct pci_module_map scsi_pci_ids[] = { \n" + entry + "};\n",
                   "struct pci_module_map scsi_pci_ids[] = { \n" + entry + "};\n"},
        filtercase{"other array name", lists, "", "", "struct pci_module_map eth_pci_ids[] = {\n" + entry + "};\n",
                   "struct pci_module_map eth_pci_ids[] = {\n" + entry + "};\n"},
        filtercase{"header in CRLF", lists, "", "", "struct pci_module_map scsi_pci_ids[] = {\r\n" + entry + "};\n",
                   "struct pci_module_map scsi_pci_ids[] = {\r\n" + entry + "};\n"},
        filtercase{"quotes before the header", lists, "", "", entry + header + "};\n", entry + header + "};\n"},
        // entry lines
        filtercase{"one match", lists, "", "", header + entry + "};\n", header + annotated + "};\n"},
        filtercase{"matches in table order", "X | s1\n", "X | e1 e2\n", "X | \"v 1\"\n", header + e("X") + "};\n",
                   header + a("X", "s1") + a("X", "e1") + a("X", "e2") + a("X", "v 1") + "};\n"},
        filtercase{"no match", lists, "", "", header + e("Nobody") + "};\n", header + a("Nobody", "UNKNOWN") + "};\n"},
        filtercase{"empty lists", "", "", "", header + entry + "};\n",
                   header + a("Adaptec AHA-2940", "UNKNOWN") + "};\n"},
        filtercase{"blanks inside the quotes", lists, "", "", header + e(" Adaptec AHA-2940") + "};\n",
                   header + a(" Adaptec AHA-2940", "UNKNOWN") + "};\n"},
        filtercase{"empty key", "| m\n", "", "", header + e("") + e("x") + "};\n",
                   header + a("", "m") + a("x", "UNKNOWN") + "};\n"},
        filtercase{"quotes inside the key", "a \"b\" c | m\n", "", "", header + e("a \"b\" c") + "};\n",
                   header + a("a \"b\" c", "m") + "};\n"},
        filtercase{"case matters", "adaptec aha-2940 | m\n", "", "", header + entry + "};\n",
                   header + a("Adaptec AHA-2940", "UNKNOWN") + "};\n"},
        filtercase{"last closing parenthesis", "Card (rev 2) | m\n", "", "",
                   header + "(a) \"Card (rev 2)\" (b) c\n};\n", header + "(a) \"Card (rev 2)\" (b), ( \"m\" ) c\n};\n"},
        filtercase{"parenthesis inside the key", "Card (2 | m\n", "", "", header + "{ \"Card (2\" } x)\n};\n",
                   header + "{ \"Card (2\" } x), ( \"m\" )\n};\n"},
        filtercase{"empty module", "X | \"\"\n", "", "", header + e("X") + "};\n", header + a("X", "") + "};\n"},
        filtercase{"zero bytes in the region", std::string("C\0d | m\0d\n", 10), "", "",
                   header + e(std::string("C\0d", 3)) + std::string("\0,\n", 3) + "};\n",
                   header + a(std::string("C\0d", 3), std::string("m\0d", 3)) + std::string("\0\n", 2) + "};\n"},
        filtercase{"CRLF entry line", lists, "", "", header + "N_(\"Adaptec AHA-2940\")},\r\n};\n",
                   header + "N_(\"Adaptec AHA-2940\"), ( \"aic7xxx\" )},\r\n};\n"},
        // lines the filter cannot annotate go out as they came
        filtercase{"one double quote", lists, "", "", header + "{ 1, N_(\"Adaptec)},\nx\n",
                   header + "{ 1, N_(\"Adaptec)},\nx\n"},
        filtercase{"no closing parenthesis", lists, "", "", header + "{ \"Adaptec AHA-2940\" },\nx\n",
                   header + "{ \"Adaptec AHA-2940\" },\nx\n"},
        filtercase{"last line an entry", lists, "", "", header + entry, header + entry},
        filtercase{"last line an entry without newline", lists, "", "", header + entry + entry.substr(0, 30),
                   header + annotated + entry.substr(0, 30)},
        // the comma rule
        filtercase{"comma before the closing line", lists, "", "", header + "\t{ 0, },\n};\n",
                   header + "\t{ 0, }\n};\n"},
        filtercase{"entry keeps its comma", "X | a b\n", "", "", header + e("X") + "};\n",
                   header + a("X", "a") + a("X", "b") + "};\n"},
        filtercase{"comma not last", lists, "", "", header + "a, b\n};\n", header + "a, b\n};\n"},
        filtercase{"comma then blank", lists, "", "", header + "a, \n};\n", header + "a, \n};\n"},
        filtercase{"closing line with a blank", lists, "", "", header + "a,\n };\n", header + "a,\n };\n"},
        filtercase{"closing line last, no newline", lists, "", "", header + "a,\n};", header + "a,\n};"},
        filtercase{"comma only", lists, "", "", header + ",\n};\n", header + "\n};\n"},
        filtercase{"no rule before the header", lists, "", "", "a,\n};\n" + header, "a,\n};\n" + header},
        filtercase{"closing line unchanged, region goes on", lists, "", "",
                   header + "a,\n};\n};\n" + entry + "struct x[] = {\n" + entry + "b,\n};\n",
                   header + "a\n};\n};\n" + annotated + "struct x[] = {\n" + annotated + "b\n};\n"},
        filtercase{"header twice", lists, "", "", header + entry + header + entry + "};\n",
                   header + annotated + header + annotated + "};\n"}),
    rowname());

TEST(annotate, longlines)
{
    // Lines far longer than a read go through whole, annotated once.
    const std::string name(300000, 'N');
    const std::string filler(200000, ',');
    const std::string line = "{ N_(\"" + name + "\")}" + filler + "\n";
    const std::string plain(500000, 'x');
    const std::string out = run(header + plain + "\n" + line + plain, name + " | mod\n");
    EXPECT_EQ(out, header + plain + "\n" + "{ N_(\"" + name + "\"), ( \"mod\" )}" + filler + "\n" + plain);
}

TEST(annotate, shortpieces)
{
    // Modules and line ends of every short length, each byte distinct, so
    // that a piece copied one byte off or cut short shows.
    const std::string bytes = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string list;
    std::string in = header;
    std::string want = header;
    for (std::size_t m = 0; m <= 20; ++m) {
        const std::string name = "Card " + std::to_string(m);
        const std::string module = bytes.substr(0, m);
        list += name + " | \"" + module + "\"\n";
        for (std::size_t end = 0; end <= 20; ++end) {
            const std::string rest = bytes.substr(bytes.size() - end) + "\n";
            in += "{ N_(\"" + name + "\")" + rest;
            want += "{ N_(\"" + name + "\"), ( \"" + module + "\" )" + rest;
        }
    }
    EXPECT_EQ(run(in + "};\n", list), want + "};\n");
}

TEST(annotate, manylines)
{
    std::string in = header;
    std::string want = header;
    for (int i = 0; i < 50000; ++i) {
        const std::string n = std::to_string(i % 10);
        in += "{ " + std::to_string(i) + ", N_(\"card" + n + "\")},\n";
        want += "{ " + std::to_string(i) + ", N_(\"card" + n + "\"), ( \"" + (i % 10 < 5 ? "m" + n : "UNKNOWN") +
                "\" )},\n";
    }
    in += "\t{ 0, }\n};\n";
    want += "\t{ 0, }\n};\n";
    EXPECT_EQ(run(in, "card0|m0\ncard1|m1\ncard2|m2\n", "card3|m3\n", "card4|m4\n"), want);
}

}  // namespace
