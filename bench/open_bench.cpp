// Opening a large store and listing every system: the time from open_store
// to a built system list, and the memory it takes against the files' size.
//   open_bench [COMPUTERS] [RUNS] [DIRECTORY] [scattered|side] [vendor|unique]
// writes COMPUTERS x 100 programs (default 50,000) into DIRECTORY (default a
// new temporary one, removed afterwards; a given one is kept and reused when
// it already holds the files), then opens and lists RUNS times (default 3).
// Each computer's programs lie side by side, as a store fills up one
// computer at a time; "scattered" interleaves them, one entry of each
// computer in turn, as a log-in storm of new computers may leave them.
// "vendor" gives the computers MACs that share their first four bytes in
// twos (00:50:02:00 and 00:50:02:01, as batches of one maker's computers);
// otherwise they vary early. "unique" gives every computer program names of
// its own (COMPUTERS x 100 programs in the catalogue; a given DIRECTORY must
// have been written with the same choice). Then the software catalogue: counted at once,
// counted in slices (the longest slice), and one computer's report with it
// open (the catalogue's work: median of 21). Last, computers new to the
// store, each a record and 100 programs past the end of the tables: the
// first after opening (when the tables' indexes first grow) and the median
// of 20 more. The files are cut back to their size afterwards.
// Prints each run and the median; memory is that of the first run.
// Builds natively and as a 32-bit Windows program (run under Wine).
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_fleet.h"
#include "bench/bench_memory.h"
#include "server/model/software_catalogue.h"
#include "server/model/system_list.h"
#include "server/store/store.h"

namespace {

using namespace tally;
using bench::Clock;
using bench::ms_since;
namespace fs = std::filesystem;
using bench::programs_per_computer;

bool vendor_macs = false;
bool unique_names = false;  // every computer's program names its own

Mac mac_of(int c) {
    if (vendor_macs) return Mac{0x00, 0x50, 0x02, std::uint8_t(c >> 16 & 1), std::uint8_t(c >> 8), std::uint8_t(c)};
    return Mac{0x02, 0x00, std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), 0x01};
}

// The catalogue figures over an open store.
void catalogue_figures(Store& store, int computers) {
    auto t = Clock::now();
    {
        SoftwareCatalogue at_once;
        at_once.build(store);
        std::printf("catalogue counted at once: %8.1f ms, %zu programs\n", ms_since(t), at_once.program_count());
    }
    SoftwareCatalogue live;
    live.attach(store);
    double longest = 0;
    int slices = 0;
    t = Clock::now();
    for (bool done = false; !done; ++slices) {
        const auto s = Clock::now();
        done = live.build_for(50);
        longest = std::max(longest, ms_since(s));
    }
    std::printf("catalogue counted in %d slices: %8.1f ms, longest slice %.1f ms\n", slices, ms_since(t), longest);
    std::vector<double> reports;
    for (int run = 0; run < 21; ++run) {
        const Mac mac = mac_of((run * 7919) % computers);
        store.release_entries(mac.data());
        for (int k = 0; k < programs_per_computer; ++k)
            store.add_entry(mac.data(), "Program " + std::to_string(k + run % 3) + " from vendor 5", "2.0." + std::to_string(run));
        t = Clock::now();
        live.apply_changes();
        reports.push_back(ms_since(t));
    }
    std::sort(reports.begin(), reports.end());
    std::printf("a report with the catalogue open: %.3f ms of catalogue work (median of 21, longest %.3f ms)\n",
                reports[reports.size() / 2], reports.back());
    // Reports whose programs no other computer has (as every storm client's):
    // one at a time, then 100 taken together, as after a backlog.
    const auto new_programs = [&](int from, int count) {
        for (int r = from; r < from + count; ++r) {
            const Mac mac = mac_of((r * 7919 + 13) % computers);
            store.release_entries(mac.data());
            for (int k = 0; k < programs_per_computer; ++k)
                store.add_entry(mac.data(), "New Program " + std::to_string(k) + " of report " + std::to_string(r), "1.0");
        }
        const auto s = Clock::now();
        live.apply_changes();
        return ms_since(s);
    };
    std::vector<double> singles;
    for (int r = 0; r < 21; ++r) singles.push_back(new_programs(r, 1));
    std::sort(singles.begin(), singles.end());
    const double together = new_programs(100, 100);
    std::printf("a report of 100 programs no other computer has: %.3f ms of catalogue work (median of 21); 100 such"
                " reports together: %.1f ms (%zu programs then)\n",
                singles[singles.size() / 2], together, live.program_count());
}

void put_entry(std::vector<std::uint8_t>& entries, int c, int k) {
    const Mac mac = mac_of(c);
    std::uint8_t e[sw_entry::size] = {};
    std::copy(mac.begin(), mac.end(), e);
    put_text(e, sw_entry::display_name,
             "Program " + std::to_string(k) + (unique_names ? " of computer " + std::to_string(c)
                                                            : " from vendor " + std::to_string((c + k) % 97)));
    put_text(e, sw_entry::display_version, "1.0." + std::to_string(k));
    entries.insert(entries.end(), e, e + sizeof e);
}

void write_database(const fs::path& dir, int computers, bool scattered) {
    std::ofstream hw(dir / hardware_file_name, std::ios::binary);
    std::ofstream sw(dir / software_file_name, std::ios::binary);
    std::vector<std::uint8_t> records, entries;
    for (int c = 0; c < computers; ++c) {
        const Mac mac = mac_of(c);
        std::uint8_t r[hw_record::size] = {};
        std::copy(mac.begin(), mac.end(), r + hw_record::mac.offset);
        put_text(r, hw_record::computer_name, "PC" + std::to_string((c * 7919L) % 1000003));
        for (int k = 0; k < 4; ++k) r[hw_record::ip_address.offset + k] = std::uint8_t(10 + c * (k + 3));
        records.insert(records.end(), r, r + sizeof r);
        for (int k = 0; k < programs_per_computer && !scattered; ++k) put_entry(entries, c, k);
        if (entries.size() > (8u << 20) || c + 1 == computers) {
            hw.write(reinterpret_cast<const char*>(records.data()), std::streamsize(records.size()));
            sw.write(reinterpret_cast<const char*>(entries.data()), std::streamsize(entries.size()));
            records.clear();
            entries.clear();
        }
    }
    for (int k = 0; k < programs_per_computer && scattered; ++k) {
        for (int c = 0; c < computers; ++c) put_entry(entries, c, k);
        sw.write(reinterpret_cast<const char*>(entries.data()), std::streamsize(entries.size()));
        entries.clear();
    }
}

// Computers new to the store, each a record and 100 programs past the end
// of the tables: the first (when the indexes first grow) and 20 more.
void new_computer_figures(Store& store) {
    std::vector<double> times;
    std::array<std::uint8_t, hw_record::size> record{};
    for (int r = 0; r < 21; ++r) {
        const Mac mac{0x02, 0xee, 0xee, 0xee, 0x00, std::uint8_t(r)};
        std::copy(mac.begin(), mac.end(), record.begin() + hw_record::mac.offset);
        const auto t = Clock::now();
        {
            Store::WriteBatch batch(store);
            store.add_record(record.data());
            for (int k = 0; k < programs_per_computer; ++k)
                store.add_entry(mac.data(), "Program " + std::to_string(k) + " of a new computer", "1.0");
        }
        times.push_back(ms_since(t));
    }
    const double first = times.front();
    std::sort(times.begin() + 1, times.end());
    std::printf("a computer new to the store, its record and %d programs: the first %.2f ms, then %.2f ms (median of 20,"
                " longest %.2f ms)\n",
                programs_per_computer, first, times[11], times.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int computers = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 3);
    const bool temporary = argc <= 3;
    const bool scattered = argc > 4 && std::string(argv[4]) == "scattered";
    vendor_macs = argc > 5 && std::string(argv[5]) == "vendor";
    unique_names = argc > 5 && std::string(argv[5]) == "unique";
    const fs::path dir = temporary ? fs::temp_directory_path() / ("tally-open-bench-" + std::to_string(computers) +
                                                                  (unique_names ? "-unique" : ""))
                                   : fs::path(argv[3]);
    fs::create_directories(dir);
    const std::uintmax_t want_sw = std::uintmax_t(computers) * programs_per_computer * sw_entry::size;
    std::error_code ec;
    if (fs::file_size(dir / software_file_name, ec) != want_sw ||
        fs::file_size(dir / hardware_file_name, ec) != std::uintmax_t(computers) * hw_record::size)
        write_database(dir, computers, scattered);
    const double files_mib =
        (fs::file_size(dir / hardware_file_name) + fs::file_size(dir / software_file_name)) / 1048576.0;
    std::printf("store of %d computers x %d programs (%.1f MiB of files), %s MACs, in %s\n", computers,
                programs_per_computer, files_mib, vendor_macs ? "vendor-prefix" : "early-varying", dir.string().c_str());
    if (unique_names) std::printf("every computer's program names its own\n");

    std::vector<double> times;
    double first_mib = 0;
    for (int run = 0; run < runs; ++run) {
        const double before = bench::resident_mib();
        const auto t = Clock::now();
        bench::PrintingNotifier notifier;
        Store store(notifier);
        if (store.open_store(dir.string()) != 0) return 1;
        const double open_ms = ms_since(t);
        SystemList list;
        list.rebuild(store, ActiveSearch{}, ListOrder::system_name);
        const double ms = ms_since(t);
        const double mib = bench::resident_mib() - before;
        if (run == 0) first_mib = mib;
        times.push_back(ms);
        std::printf("run %d: open %8.1f ms, open and list %zu systems %8.1f ms, memory %7.1f MiB\n", run + 1, open_ms,
                    list.size(), ms, mib);
    }
    {
        bench::PrintingNotifier notifier;
        Store store(notifier);
        if (store.open_store(dir.string()) != 0) return 1;
        catalogue_figures(store, computers);
        new_computer_figures(store);
    }
    fs::resize_file(dir / software_file_name, want_sw);
    fs::resize_file(dir / hardware_file_name, std::uintmax_t(computers) * hw_record::size);
    std::sort(times.begin(), times.end());
    std::printf("open and list: median %.1f ms of %d runs; memory %.1f MiB for %.1f MiB of files (x%.2f)\n",
                times[times.size() / 2], runs, first_mib, files_mib, first_mib / files_mib);
    if (temporary) fs::remove_all(dir);
    return 0;
}
