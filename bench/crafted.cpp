// Writes two sets of mapping lists with 390,000 names each, for timing the
// load of names an attacker chose against the load of ordinary ones:
//
//   DIR/crafted/map-*.lst   names whose hashes, under one table's secret,
//                           all fall into 512 of the 2^19 slots
//   DIR/ordinary/map-*.lst  as many names of the same shape, not chosen
//
// The names are crafted against a secret this program draws, as if an
// attacker knew it. It then loads 20,000 of them into a table with that very
// secret, and as many ordinary names, and prints both times: the crafted
// names must be slow there, or they prove nothing. The program under test
// draws a secret of its own for each run.
#include "maplist.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t count = 390000;

// Counts in the hexadecimal digits at the end of a name, in place: a
// search through hundreds of millions of names has no time for formatting.
void increment(std::string& name)
{
    for (std::size_t i = name.size(); i-- > 0;) {
        char& c = name[i];
        if (c != 'f') {
            c = c == '9' ? 'a' : static_cast<char>(c + 1);
            return;
        }
        c = '0';
    }
}

void write(const std::filesystem::path& dir, const std::vector<std::string>& names)
{
    std::filesystem::create_directories(dir);
    const char* kinds[] = {"scsi", "eth", "video"};
    for (int k = 0; k < 3; ++k) {
        std::ofstream f(dir / (std::string("map-") + kinds[k] + ".lst"));
        for (std::size_t i = k; i < names.size(); i += 3)
            f << names[i] << " | mod" << i % 97 << "\n";
    }
}

double loadms(maptable& t, const std::vector<std::string>& names, std::size_t n)
{
    std::string list;
    for (std::size_t i = 0; i < n; ++i)
        list += names[i] + " | m\n";
    const auto start = std::chrono::steady_clock::now();
    readmap(t, list);
    t.index();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path dir = argc > 1 ? argv[1] : "bench/data";
    maptable probe;
    constexpr std::uint64_t slots = std::uint64_t{1} << 19;
    std::vector<std::string> crafted;
    std::vector<std::string> ordinary;
    for (std::string n = "Crafted PCI card 000000000000"; crafted.size() < count; increment(n)) {
        if (ordinary.size() < count)
            ordinary.push_back(n);
        if ((probe.hash(n) & (slots - 1)) < 512)
            crafted.push_back(n);
    }
    write(dir / "crafted", crafted);
    write(dir / "ordinary", ordinary);

    maptable ordinarytable;
    const double o = loadms(ordinarytable, ordinary, 20000);
    const double c = loadms(probe, crafted, 20000);
    std::printf("20,000 names against the secret they were crafted for: %.1f ms crafted, %.1f ms ordinary\n", c, o);
}
