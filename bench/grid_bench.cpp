// Systems window, software catalogue and spreadsheet export figures at
// 10,000 computers with 100 programs each (1,000,000 software entries).
// Prints the median of several runs of each step beside its goal:
//   grid fill, one find keystroke (narrowing and widening), a sort by name,
//   IP and days, catalogue build, one program's computers, an export of the
//   10,000 grid rows and of the full software inventory, both to a file.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_fleet.h"
#include "server/reports/sheet_csv.h"

namespace {

using namespace tally;

using bench::computers;
using bench::median_ms;
using bench::QuietNotifier;
using bench::now;

void write_tables(const std::string& dir) {
    bench::write_fleet(
        dir,
        [](int, int p) { return "Program " + std::to_string(p) + " from vendor " + std::to_string(p % 17); },
        [](int c, int p) { return std::to_string(p % 7) + "." + std::to_string(c % 5); });
}

void report(const char* what, double ms, double goal) {
    std::printf("%-44s %9.2f ms   (goal <= %.0f ms)%s\n", what, ms, goal, ms <= goal ? "" : "   OVER");
}

}  // namespace

int main() {
    const std::string dir = bench::scratch_dir("tally_grid_bench");
    write_tables(dir);
    QuietNotifier notifier;
    Store store(notifier);
    if (store.open_store(dir) != 0) return 1;
    std::printf("%u computers, %u software entries\n", store.record_count(), store.entry_count());

    SystemsGrid grid;
    report("Systems window: fill", median_ms(7, [&] { grid.fill(store, now); }), 100);
    // A keystroke that narrows ("user1" -> "user12") and one that widens
    // (back to "user1"): the widening one filters and sorts all rows again.
    report("Systems window: find keystroke, narrowing",
           median_ms(9, [&] { grid.set_find("user12"); }, [&] { grid.set_find("user1"); }), 30);
    report("Systems window: find keystroke, widening",
           median_ms(9, [&] { grid.set_find("user1"); }, [&] { grid.set_find("user12"); }), 30);
    grid.set_find("");
    std::printf("  (%zu rows shown)\n", grid.size());
    // Each sort starts from the order of another column, as a click does.
    const auto from_serial = [&] { grid.sort_by(GridColumn::serial_number, true); };
    report("Systems window: sort by name",
           median_ms(7, [&] { grid.sort_by(GridColumn::computer_name, true); }, from_serial), 50);
    report("Systems window: sort by IP address",
           median_ms(7, [&] { grid.sort_by(GridColumn::ip_address, false); }, from_serial), 50);
    report("Systems window: sort by days since",
           median_ms(7, [&] { grid.sort_by(GridColumn::days_since, true); }, from_serial), 50);
    report("Systems window: one report moves its row",
           median_ms(9, [&] { grid.update_record(store, 4711, now); }), 30);
    // A computer new to the tables: its row joins rows that fill the grid.
    std::array<std::uint8_t, hw_record::size> joining{};
    std::memcpy(joining.data(), store.record(0).bytes(), joining.size());
    std::memcpy(joining.data() + hw_record::mac.offset, "\x02\xee\xee\xee\x00\x00", 6);
    report("Systems window: a new computer joins the rows",
           median_ms(
               5,
               [&] {
                   ++joining[hw_record::mac.offset + 5];
                   const auto i = store.add_record(joining.data());
                   if (i) grid.update_record(store, *i, now);
               },
               [&] {
                   grid = SystemsGrid();
                   grid.fill(store, now);
               }),
           30);

    SoftwareCatalogue catalogue;
    report("Catalogue: build", median_ms(5, [&] { catalogue.build(store); }), 200);
    std::printf("  (%zu programs)\n", catalogue.size());
    std::vector<std::uint32_t> set;
    report("Catalogue: one program's computers", median_ms(9, [&] { set = catalogue.computers_of(42); }), 10);
    report("Catalogue: one version's computers", median_ms(9, [&] { set = catalogue.computers_of(42, 2); }), 10);
    report("Systems window: show that set", median_ms(9, [&] { grid.set_record_set(set); }), 30);
    grid.set_record_set(std::nullopt);

    const std::string rows_path = dir + "/rows.csv", inventory_path = dir + "/inventory.csv";
    report("Export: 10,000 grid rows", median_ms(5, [&] {
               write_sheet_file(rows_path, [&](SheetWriter& out) { return write_grid_sheet(grid, out); });
           }), 1000);
    std::printf("  (%ju bytes)\n", std::uintmax_t(std::filesystem::file_size(rows_path)));
    report("Export: full software inventory", median_ms(3, [&] {
               write_sheet_file(inventory_path, [&](SheetWriter& out) { return write_inventory_sheet(store, out); });
           }), 5000);
    std::printf("  (%ju bytes)\n", std::uintmax_t(std::filesystem::file_size(inventory_path)));

    std::filesystem::remove_all(dir);
    return 0;
}
