// Publishing to a real database (bench/publish.sh starts a private
// PostgreSQL and runs this natively and as the 32-bit Windows build under
// Wine). Prints:
//   - the full sync of COMPUTERS x 100 programs (goal: 10,000 in 60 s,
//     100,000 in 10 minutes), with the longest tick of the window's thread,
//   - the latency of one report until its row shows in the database (goal 5 s),
//   - a log-in storm of unchanged reports (10,000 in STORM seconds): how long
//     after the last the database is current (goal 30 s), and the window's
//     thread time per report with publishing against without, in paired
//     runs (goal: at least 0.9x the rate): its processor time (what the
//     publisher costs the intake) and its elapsed time (which the worker and
//     the database server, on the same processors, lengthen too).
//   publish_bench CONNECTION_STRING [COMPUTERS] [STORM_SECONDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <time.h>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_fleet.h"
#include "server/model/formats.h"
#include "server/publish/database.h"
#include "server/publish/publisher.h"
#include "server/store/history_file.h"

namespace {

using namespace tally;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }
// The processor time of the calling thread, in seconds.
double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::uint32_t wall_now() { return static_cast<std::uint32_t>(std::time(nullptr)); }

std::string program_name(int c, int p) { return "Program " + std::to_string(p) + " from vendor " + std::to_string((c + p) % 97); }
std::string program_version(int c, int p) { return std::to_string(1 + (c + p) % 9) + "." + std::to_string(p); }

// The window's thread: ticks every 50 ms as the console's timer does, and
// keeps the longest tick.
struct WindowThread {
    Publisher& publisher;
    double longest_tick_ms = 0;
    void tick() {
        const auto start = Clock::now();
        publisher.tick(wall_now());
        longest_tick_ms = std::max(longest_tick_ms, seconds_since(start) * 1000.0);
    }
    // Ticks until nothing awaits publishing; false after `limit` seconds.
    bool until_current(double limit) {
        const auto start = Clock::now();
        while (seconds_since(start) < limit) {
            tick();
            const PublishStatus s = publisher.status();
            if (s.connected && s.awaiting == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::printf("  gave up: %s\n", publisher.take_status_text().c_str());
        return false;
    }
};

// One unchanged report of record i, as the intake files it: the record
// anew with the report's time, the programs released and filed again.
void unchanged_report(Store& store, std::uint32_t i, int c) {
    Store::WriteBatch batch(store);
    std::uint8_t bytes[hw_record::size];
    std::copy_n(store.record(i).bytes(), hw_record::size, bytes);
    put_u32(bytes, hw_record::last_update, wall_now());
    store.replace_record(i, bytes);
    const Mac mac = [&] {
        Mac m{};
        std::copy_n(bytes + hw_record::mac.offset, 6, m.begin());
        return m;
    }();
    store.release_entries(mac.data());
    for (int p = 0; p < bench::programs_per_computer; ++p) store.add_entry(mac.data(), program_name(c, p), program_version(c, p));
}

std::string query_one(Database& db, const std::string& sql) {
    std::vector<DatabaseRow> rows;
    if (!db.query(sql, rows) || rows.empty() || rows[0].empty()) return "";
    return rows[0][0];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: publish_bench CONNECTION_STRING [COMPUTERS] [STORM_SECONDS]\n");
        return 2;
    }
    const std::string connection = argv[1];
    const int computers = argc > 2 ? std::atoi(argv[2]) : bench::computers;
    const int storm_seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const int storm_reports = std::min(computers, 10000);
    const fs::path dir = fs::temp_directory_path() / ("tally-publish-bench-" + std::to_string(std::time(nullptr)));
    fs::create_directories(dir);
    bench::write_fleet(dir.string(), program_name, program_version, computers);

    bench::PrintingNotifier notifier;
    Store store(notifier);
    History history;
    if (store.open_store(dir.string()) != 0 || history.open(dir.string()) != 0) return 1;
    std::unique_ptr<Database> check = make_odbc_database();
    if (!check->connect(connection)) {
        std::printf("cannot connect: %s\n", check->last_error().c_str());
        return 1;
    }
    const std::string site = "Bench" + std::to_string(std::time(nullptr));
    Publisher publisher(store, history, &make_odbc_database);
    WindowThread window{publisher};

    std::printf("full sync of %d computers x %d programs (site %s)\n", computers, bench::programs_per_computer, site.c_str());
    auto start = Clock::now();
    publisher.configure({true, connection, site}, dir.string());
    const bool synced = window.until_current(1800);
    std::printf("  %.1f s%s, longest tick %.1f ms; rows: %s computers, %s programs\n", seconds_since(start),
                synced ? "" : " (not finished)", window.longest_tick_ms,
                query_one(*check, "SELECT count(*) FROM computers WHERE site = '" + site + "'").c_str(),
                query_one(*check, "SELECT count(*) FROM programs WHERE site = '" + site + "'").c_str());

    // One report: its new name visible in the database.
    std::uint8_t bytes[hw_record::size];
    std::copy_n(store.record(0).bytes(), hw_record::size, bytes);
    put_text(bytes, hw_record::computer_name, "RENAMED");
    const std::string visible = "SELECT computer_name FROM computers WHERE site = '" + site + "' AND mac = '" +
                                format_mac(bytes + hw_record::mac.offset) + "'";
    start = Clock::now();
    store.replace_record(0, bytes);
    while (query_one(*check, visible) != "RENAMED" && seconds_since(start) < 60) {
        window.tick();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("one report visible after %.2f s\n", seconds_since(start));

    // The storm: the window thread's time per report, without publishing
    // and with it, in pairs.
    struct PerReport {
        double cpu_us, wall_us;
    };
    const auto storm = [&](bool publishing) {
        const double spacing = double(storm_seconds) / storm_reports;
        PerReport busy{0, 0};
        const auto begin = Clock::now();
        for (int k = 0; k < storm_reports; ++k) {
            while (seconds_since(begin) < k * spacing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const auto t = Clock::now();
            const double cpu = thread_seconds();
            unchanged_report(store, static_cast<std::uint32_t>(k), k);
            if (publishing && k % 50 == 0) window.tick();
            busy.cpu_us += thread_seconds() - cpu;
            busy.wall_us += seconds_since(t);
        }
        return PerReport{busy.cpu_us / storm_reports * 1e6, busy.wall_us / storm_reports * 1e6};
    };
    std::printf("storm of %d unchanged reports in %d s, paired runs\n", storm_reports, storm_seconds);
    bool current = true;
    for (int pair = 0; pair < 2; ++pair) {
        publisher.configure({}, dir.string());
        const PerReport plain = storm(false);
        publisher.configure({true, connection, site}, dir.string());
        window.until_current(600);
        window.longest_tick_ms = 0;
        const PerReport publishing = storm(true);
        start = Clock::now();
        current = window.until_current(600) && current;
        std::printf("  database current %.1f s after the last report%s; longest tick %.1f ms\n", seconds_since(start),
                    current ? "" : " (not current)", window.longest_tick_ms);
        std::printf("  window's thread per report: processor %.0f us without publishing, %.0f us with (rate %.2fx); "
                    "elapsed %.0f us, %.0f us (%.2fx)\n",
                    plain.cpu_us, publishing.cpu_us, plain.cpu_us / publishing.cpu_us, plain.wall_us,
                    publishing.wall_us, plain.wall_us / publishing.wall_us);
    }
    publisher.configure({}, dir.string());
    check->execute("DELETE FROM programs WHERE site = '" + site + "'");
    check->execute("DELETE FROM computers WHERE site = '" + site + "'");
    check->execute("DELETE FROM sites WHERE site = '" + site + "'");
    std::error_code ec;
    history.close();
    fs::remove_all(dir, ec);
    return synced && current ? 0 : 1;
}
