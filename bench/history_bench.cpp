// The change history at a year of 10,000 computers with one event each a
// day (3.65 million events): opening the store with History.Audit against
// without it (paired runs), the memory its index takes against the file's
// size, the Changes window's model: the last 7 days filled, a find-box
// keystroke, one computer's timeline; and the purge of half a year of it in
// the slices the console runs it in (each slice holds the window). Builds
// natively and as a 32-bit Windows program (run under Wine, on a directory
// the native build wrote).
//   history_bench [DIRECTORY] [RUNS]
// A given directory is kept and reused when it already holds the files.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_fleet.h"
#include "bench/bench_memory.h"
#include "server/model/changes_view.h"
#include "server/store/history_file.h"

namespace {

using namespace tally;
using bench::Clock;
using bench::ms_since;
namespace fs = std::filesystem;

constexpr int days = 365;

// Day d's event of computer c: a program update most days, now and then
// hardware or a user.
void write_history(const fs::path& path) {
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint8_t> block;
    std::uint64_t sequence = 1;
    for (int d = 0; d < days; ++d) {
        block.clear();
        for (int c = 0; c < bench::computers; ++c) {
            ChangeEvent e;
            e.sequence = sequence++;
            e.time = bench::now - std::uint32_t(days - d) * 86400u + std::uint32_t(c) * 8u;
            bench::mac_of(c, e.mac.data());
            e.computer = "PC" + std::to_string((c * 7919) % bench::computers);
            const int kind = (c + d) % 10;
            e.kind = kind < 8 ? ChangeKind::program_updated : (kind == 8 ? ChangeKind::hardware : ChangeKind::identity);
            e.what = kind < 8 ? "Program " + std::to_string((c + d) % 100) + " from vendor 7" : (kind == 8 ? "Memory" : "User");
            e.old_value = "1.0." + std::to_string(d);
            e.new_value = "1.0." + std::to_string(d + 1);
            const std::size_t at = block.size();
            block.resize(at + history_record::size);
            encode_history_record(e, block.data() + at);
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const bool keep = argc > 1;
    const fs::path dir = keep ? fs::path(argv[1]) : fs::temp_directory_path() / "tally_history_bench";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    fs::create_directories(dir);
    const fs::path history_path = dir / history_file_name;
    if (!fs::exists(dir / hardware_file_name))
        bench::write_fleet(dir.string(), [](int, int p) { return "Program " + std::to_string(p) + " from vendor 7"; },
                           [](int c, int) { return "1.0." + std::to_string(c % 365); });
    if (!fs::exists(history_path) || fs::file_size(history_path) != std::uintmax_t(days) * bench::computers * history_record::size)
        write_history(history_path);
    const double file_mib = double(fs::file_size(history_path)) / 1048576.0;

    std::vector<double> without, with, growth;
    for (int run = 0; run < runs; ++run) {
        bench::PrintingNotifier notifier;
        {
            Store store(notifier);
            const auto start = Clock::now();
            if (store.open_store(dir.string()) != 0) return 1;
            without.push_back(ms_since(start));
        }
        Store store(notifier);
        History history;
        const auto start = Clock::now();
        if (store.open_store(dir.string()) != 0) return 1;
        const double rss = bench::resident_mib();
        if (history.open(dir.string()) != 0) return 1;
        with.push_back(ms_since(start));
        growth.push_back(bench::resident_mib() - rss);
        std::printf("run %d: open without history %.0f ms, with %.0f ms (%zu events), memory +%.1f MiB\n", run + 1,
                    without.back(), with.back(), history.size(), growth.back());
    }
    std::printf("open store: without history %.0f ms, with history %.0f ms: +%.0f ms (goal <= +3000 ms)\n",
                median(without), median(with), median(with) - median(without));
    std::printf("memory: +%.1f MiB for a history file of %.1f MiB: %.1f %% (goal <= 25 %%)\n", median(growth), file_mib,
                100.0 * median(growth) / file_mib);

    bench::PrintingNotifier notifier;
    Store store(notifier);
    History history;
    if (store.open_store(dir.string()) != 0 || history.open(dir.string()) != 0) return 1;
    std::vector<double> fill, key, timeline;
    std::size_t rows = 0, found = 0, mine = 0;
    for (int run = 0; run < runs; ++run) {
        ChangesView view;
        view.set_since(bench::now - 7 * 86400u);
        auto start = Clock::now();
        view.fill(history, store);
        fill.push_back(ms_since(start));
        rows = view.size();
        start = Clock::now();
        view.set_find("program 42 ");
        key.push_back(ms_since(start));
        found = view.size();
        ChangesView one;
        Mac mac{};
        bench::mac_of(4242, mac.data());
        one.set_computer(mac);
        start = Clock::now();
        one.fill(history, store);
        timeline.push_back(ms_since(start));
        mine = one.size();
    }
    std::printf("Changes window: last 7 days (%zu rows) filled in %.1f ms (goal <= 200 ms)\n", rows, median(fill));
    std::printf("Changes window: a find-box keystroke (%zu rows found) %.1f ms (goal <= 30 ms)\n", found, median(key));
    std::printf("timeline of one computer (%zu rows) %.1f ms (goal <= 20 ms)\n", mine, median(timeline));

    // The purge rewrites the file: on a copy.
    const fs::path copy = dir / "purge";
    fs::create_directories(copy);
    fs::copy_file(history_path, copy / history_file_name, fs::copy_options::overwrite_existing);
    History purged;
    if (purged.open(copy.string()) != 0) return 1;
    std::vector<double> slices;
    const auto start = Clock::now();
    History::PurgeStep step = purged.begin_purge_older_than_days(days / 2, bench::now);
    while (step == History::PurgeStep::running) {
        const auto slice = Clock::now();
        step = purged.continue_purge(purge_slice_events, bench::now);
        slices.push_back(ms_since(slice));
    }
    const double total = ms_since(start);
    if (step != History::PurgeStep::done || slices.empty()) return 1;
    const auto longest = std::max_element(slices.begin(), slices.end());
    std::printf("purge of %zu of %zu events (%zu kept): %zu slices of %zu events, longest %.1f ms (slice %zu), "
                "median %.1f ms, %.0f ms in all\n", history.size() + 1 - purged.size(), history.size(),
                purged.size() - 1, slices.size(), purge_slice_events, *longest,
                static_cast<std::size_t>(longest - slices.begin()) + 1, median(slices), total);
    fs::remove_all(copy);
    if (!keep) fs::remove_all(dir);
    return 0;
}
