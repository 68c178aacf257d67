// Micro-benchmarks of the filter's inner work: hashing a key, looking it up
// with its records, and annotating a whole table in memory.
//
// The lookup runs over the same table with 1, 100, 1,000 and 3,500 distinct
// keys in turn: the work per lookup is the same, so the difference is what
// the table's memory and the branches that depend on the key cost.
#include "annotate.h"
#include "maplist.h"
#include "maptable.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int pairs = 3500;

// A device description of about 90 characters, different for each n.
std::string description(int n)
{
    static const char* const vendors[] = {"Adaptec", "Intel Corporation", "Realtek Semiconductor Co., Ltd.",
                                          "Broadcom Inc. and subsidiaries", "Advanced Micro Devices, Inc. [AMD]"};
    static const char* const kinds[] = {"Ultra2 SCSI Host Adapter", "Gigabit Ethernet Adapter (rev 01)",
                                        "VGA Compatible Controller [Tornado]"};
    return std::string(vendors[n % 5]) + " " + std::to_string(10007 * n % 99991) + "/" + std::to_string(n % 97) + " " +
           kinds[n % 3] + " Subsystem: " + vendors[n / 5 % 5] + " " + std::to_string(1000 + n);
}

// The lists: every description with one module, every seventh with two.
const maptable& table()
{
    static const maptable* t = [] {
        auto* m = new maptable;
        std::string list;
        for (int n = 0; n < pairs; ++n)
            list += description(n) + " | mod" + std::to_string(n) + (n % 7 == 0 ? " extra\n" : "\n");
        readmap(*m, list);
        m->index();
        return m;
    }();
    return *t;
}

// 65,536 keys in one buffer, drawn from the first `distinct` descriptions in
// a fixed random order.
struct keyset {
    std::string text;
    std::vector<std::string_view> keys;

    explicit keyset(int distinct)
    {
        std::mt19937 rng(1);
        std::vector<std::size_t> at;
        for (int i = 0; i < 65536; ++i) {
            at.push_back(text.size());
            text += description(static_cast<int>(rng() % static_cast<unsigned>(distinct)));
        }
        at.push_back(text.size());
        for (std::size_t i = 0; i + 1 < at.size(); ++i)
            keys.emplace_back(text.data() + at[i], at[i + 1] - at[i]);
    }
};

void lookup(benchmark::State& state)
{
    const maptable& t = table();
    const keyset k(static_cast<int>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string_view key = k.keys[i++ & 65535];
        std::size_t bytes = 0;
        for (maptable::recno r = t.find(key); r != maptable::none; r = t.chained(r))
            bytes += t.map()[r].module.size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(lookup)->Arg(1)->Arg(100)->Arg(1000)->Arg(pairs);

void hash(benchmark::State& state)
{
    const maptable& t = table();
    const keyset k(pairs);
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(t.hash(k.keys[i++ & 65535]));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(hash);

// The whole filter over a table of 20,000 entry lines held in memory, the
// output thrown away.
void annotatetable(benchmark::State& state)
{
    std::string input = "struct pci_module_map scsi_pci_ids[] = {\n";
    for (int n = 0; n < 20000; ++n)
        input += "\t{ 0x1000, 0x" + std::to_string(n) + ", N_(\"" + description(n * 7 % (pairs + 500)) + "\") },\n";
    input += "};\n";
    const int in = ::memfd_create("table", 0);
    const int out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || ::write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        state.SkipWithError("no memfd or /dev/null");
        return;
    }
    for (auto _ : state) {
        ::lseek(in, 0, SEEK_SET);
        linereader r(in);
        writer w(out);
        annotate(r, w, table());
        w.flush();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
    ::close(in);
    ::close(out);
}
BENCHMARK(annotatetable)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
