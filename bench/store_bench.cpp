// Intake and store figures at the promised scale: 10,000 computers with 100
// programs each (1,000,000 software entries, ~102 MB). Prints:
//   - open_store time and memory against the files' size,
//   - one computer's full report (ID packet, hardware packet, list start and
//     continuations with 100 programs), write-through included: median,
//   - filling an empty store with the first reports of the computers,
// each with MACs that vary early and with MACs that share a vendor prefix.
// Builds natively and as a 32-bit Windows program (run under Wine).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "server/intake/intake.h"

namespace {

using namespace tally;
using Clock = std::chrono::steady_clock;

struct QuietNotifier : Notifier {
    void notify(const Notice& n) override { std::fprintf(stderr, "box: %s (%s)\n", n.text.c_str(), n.caption.c_str()); }
};
struct QuietConsole : ConsoleHooks {
    void set_status(const std::string&) override {}
    void show_counter(StatsCounter, std::uint32_t) override {}
    void record_changed(std::uint32_t, RecordChange) override {}
    void datagram_dropped(DropReason) override {}
    void unwritten_changed(std::size_t) override {}
};

constexpr int programs_per_computer = 100;

// MACs that vary early, or that share their first four bytes in twos (as
// batches of one maker's computers do), which a hash that keeps only some
// bytes of the key puts into few buckets.
bool vendor_macs = false;

Mac mac_of(int computer) {
    if (vendor_macs)
        return Mac{0x00, 0x50, 0x02, static_cast<std::uint8_t>(computer >> 16 & 1),
                   static_cast<std::uint8_t>(computer >> 8), static_cast<std::uint8_t>(computer)};
    return Mac{0x02, 0x00, static_cast<std::uint8_t>(computer >> 16), static_cast<std::uint8_t>(computer >> 8),
               static_cast<std::uint8_t>(computer), 0x01};
}

std::string program_name(int computer, int k) {
    return "Program " + std::to_string(k) + " from vendor " + std::to_string((computer + k) % 97);
}

// The datagrams of one audit pass of a computer.
std::vector<std::vector<std::uint8_t>> report_of(int computer, int run) {
    std::vector<std::vector<std::uint8_t>> out;
    const Mac mac = mac_of(computer);
    IdPacket id = encode_id_packet(mac, "TAG" + std::to_string(computer), "SER" + std::to_string(computer));
    out.emplace_back(id.begin(), id.end());
    HardwareReport r;
    r.mac = mac;
    r.computer_name = "PC" + std::to_string(computer);
    r.ram_bytes = 1u << 30;
    r.up_time = static_cast<std::uint32_t>(run);
    HardwarePacket hw = encode_hardware_packet(r);
    out.emplace_back(hw.begin(), hw.end());
    std::vector<std::uint8_t> packet;
    auto start = [&](std::uint8_t type) {
        packet.assign(1, type);
        packet.insert(packet.end(), mac.begin(), mac.end());
    };
    start(packet_list_start);
    for (int k = 0; k < programs_per_computer; ++k) {
        std::uint8_t item[600];
        std::size_t n = encode_software_item(item, sizeof item, program_name(computer, k), true,
                                             std::to_string(run) + ".0." + std::to_string(k));
        if (packet.size() + n > max_software_packet) {
            out.push_back(packet);
            start(packet_list_continuation);
        }
        packet.insert(packet.end(), item, item + n);
    }
    out.push_back(packet);
    return out;
}

// Writes the database files of a store that holds every computer's first
// report: each computer's programs side by side (as a store fills up), or
// scattered, one entry of each computer in turn (the worst case for writing).
void write_database(const std::string& dir, int computers, bool scattered) {
    std::ofstream hw(dir + "/Hardware.Audit", std::ios::binary);
    std::ofstream sw(dir + "/Software.Audit", std::ios::binary);
    std::vector<std::uint8_t> record(hw_record::size), entry(sw_entry::size);
    for (int c = 0; c < computers; ++c) {
        std::fill(record.begin(), record.end(), 0);
        auto packet = report_of(c, 0)[1];
        fill_record_from_packet(record.data(), packet.data(), Ipv4{10, 0, 0, 1}, 1700000000u);
        hw.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    }
    for (int n = 0; n < computers * programs_per_computer; ++n) {
        const int c = scattered ? n % computers : n / programs_per_computer;
        const int k = scattered ? n / computers : n % programs_per_computer;
        const Mac mac = mac_of(c);
        {
            std::fill(entry.begin(), entry.end(), 0);
            std::copy(mac.begin(), mac.end(), entry.begin());
            put_text(entry.data(), sw_entry::display_name, program_name(c, k));
            put_text(entry.data(), sw_entry::display_version, "0.0." + std::to_string(k));
            sw.write(reinterpret_cast<const char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
        }
    }
}

long rss_kib() {  // 0 where /proc is not
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

void handle_report(Intake& intake, const std::vector<std::vector<std::uint8_t>>& datagrams) {
    for (const auto& d : datagrams) intake.handle_datagram(d.data(), d.size(), Ipv4{10, 0, 0, 1}, 1700000001u);
}

void bench_loaded(const std::string& dir, int reports, const char* layout) {
    QuietNotifier notifier;
    QuietConsole console;
    const long rss_before = rss_kib();
    auto t = Clock::now();
    Store store(notifier);
    if (store.open_store(dir) != 0) std::exit(1);
    const double open_ms = ms_since(t);
    const double files_mib =
        (std::filesystem::file_size(dir + "/Hardware.Audit") + std::filesystem::file_size(dir + "/Software.Audit")) /
        1048576.0;
    const double rss_mib = (rss_kib() - rss_before) / 1024.0;
    Intake intake(store, console);

    std::vector<double> times;
    for (int n = 0; n < reports; ++n) {
        const int computer = static_cast<int>((n * 7919L) % 10000);
        auto datagrams = report_of(computer, n + 1);
        auto start = Clock::now();
        handle_report(intake, datagrams);
        times.push_back(ms_since(start));
    }
    std::sort(times.begin(), times.end());
    std::printf("%-10s open_store %7.1f ms   memory %6.1f MiB for %6.1f MiB of files (x%.2f)   "
                "one full report: median %8.3f ms, p90 %8.3f ms (%d reports)\n",
                layout, open_ms, rss_mib, files_mib, rss_mib / files_mib,
                times[times.size() / 2], times[times.size() * 9 / 10], reports);
}

void bench_fill(const std::string& dir, int computers) {
    std::filesystem::remove(dir + "/Hardware.Audit");
    std::filesystem::remove(dir + "/Software.Audit");
    QuietNotifier notifier;
    QuietConsole console;
    Store store(notifier);
    if (store.open_store(dir) != 0) std::exit(1);
    Intake intake(store, console);
    auto t = Clock::now();
    for (int c = 0; c < computers; ++c) handle_report(intake, report_of(c, 0));
    const double ms = ms_since(t);
    std::printf("fill an empty store with the first reports of %5d computers: %9.1f ms (%zu entries)\n",
                computers, ms, store.used_length() / sw_entry::size);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    const int computers = 10000;
    const std::string dir =
        (std::filesystem::temp_directory_path() /
         ("tally-bench-" + std::to_string(Clock::now().time_since_epoch().count() % 1000000007)))
            .string();
    std::filesystem::create_directories(dir);
    std::printf("store of %d computers x %d programs in %s (%zu-bit build)\n", computers, programs_per_computer,
                dir.c_str(), sizeof(void*) * 8);
    for (const bool vendor : {false, true}) {
        vendor_macs = vendor;
        std::printf("MACs %s:\n", vendor ? "sharing their first four bytes in twos" : "varying early");
        write_database(dir, computers, false);
        bench_loaded(dir, quick ? 200 : 2000, "together");
        write_database(dir, computers, true);
        bench_loaded(dir, quick ? 200 : 2000, "scattered");
        bench_fill(dir, computers);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
