// The synthetic fleet the list, search, grid and publish benchmarks open:
// 10,000 computers (or `count`) with 100 programs each, written straight into the two database
// files, entries of different computers interleaved as the intake leaves
// them. Each benchmark names the programs and versions itself. Also what
// they time with: a notifier that prints to stderr and the median of runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "server/store/records.h"
#include "server/store/store.h"

namespace bench {

// The store's failure boxes, printed.
struct PrintingNotifier : tally::Notifier {
    void notify(const tally::Notice& n) override { std::printf("box: %s (%s)\n", n.text.c_str(), n.caption.c_str()); }
};

constexpr int computers = 10000;
constexpr int programs_per_computer = 100;
constexpr std::uint32_t now = 1700000000;  // the time reports are aged against

// A scratch folder in the system's temporary directory, made if missing.
inline std::string scratch_dir(const char* name) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(dir);
    return dir.string();
}

// A message box's text on stderr, so the figures on stdout stay clean.
struct QuietNotifier : tally::Notifier {
    void notify(const tally::Notice& n) override {
        std::fprintf(stderr, "box: %s (%s)\n", n.text.c_str(), n.caption.c_str());
    }
};

using Clock = std::chrono::steady_clock;

// Milliseconds since `start`, for the figures that time a step by hand.
inline double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median time of `work` in ms, each run after an untimed `setup`.
inline double median_ms(int runs, const std::function<void()>& work, const std::function<void()>& setup = [] {}) {
    std::vector<double> times;
    for (int k = 0; k < runs; ++k) {
        setup();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// MACs that vary early, or (vendor_macs) that share their first four bytes
// in twos, as batches of one maker's computers do.
inline bool vendor_macs = false;

inline void mac_of(int computer, std::uint8_t* mac) {
    if (vendor_macs) {
        const std::uint8_t v[6] = {0x00, 0x50, 0x02, static_cast<std::uint8_t>(computer >> 16 & 1),
                                   static_cast<std::uint8_t>(computer >> 8), static_cast<std::uint8_t>(computer)};
        std::memcpy(mac, v, 6);
        return;
    }
    const std::uint8_t m[6] = {0x02, 0x00, static_cast<std::uint8_t>(computer >> 16),
                               static_cast<std::uint8_t>(computer >> 8), static_cast<std::uint8_t>(computer), 0x01};
    std::memcpy(mac, m, 6);
}

// Program p of computer c: its name and its version.
using ProgramText = std::function<std::string(int c, int p)>;

inline void write_fleet(const std::string& dir, const ProgramText& name, const ProgramText& version,
                        int count = computers) {
    using namespace tally;
    std::vector<std::uint8_t> hw(std::size_t(count) * hw_record::size, 0);
    std::vector<std::uint8_t> sw(std::size_t(count) * programs_per_computer * sw_entry::size, 0);
    for (int c = 0; c < count; ++c) {
        std::uint8_t* r = hw.data() + std::size_t(c) * hw_record::size;
        mac_of(c, r + hw_record::mac.offset);
        put_text(r, hw_record::computer_name, "PC" + std::to_string((c * 7919) % count));
        put_text(r, hw_record::last_user, "user" + std::to_string((c * 31) % 3000));
        put_text(r, hw_record::serial_number, "SN" + std::to_string(c * 13));
        r[hw_record::ip_address.offset] = 10;
        r[hw_record::ip_address.offset + 2] = static_cast<std::uint8_t>(c >> 8);
        r[hw_record::ip_address.offset + 3] = static_cast<std::uint8_t>(c);
        put_u32(r, hw_record::ram_mb, 256u << (c % 4));
        put_u32(r, hw_record::last_update, now - std::uint32_t(c % 90) * 86400u);
        put_u32(r, hw_record::windows_platform, 2);
        put_u8(r, hw_record::windows_major, 5);
        put_u8(r, hw_record::windows_minor, 1);
        r[hw_record::drive_letters.offset + 2] = 'C';
        put_u32(r + hw_record::drive_types.offset + 8, 3);
        put_u64(r + hw_record::total_disk_space.offset + 16, 64ull << 30);
        put_u64(r + hw_record::free_disk_space.offset + 16, std::uint64_t(c % 64) << 30);
    }
    std::size_t k = 0;
    for (int p = 0; p < programs_per_computer; ++p)
        for (int c = 0; c < count; ++c, ++k) {
            std::uint8_t* e = sw.data() + k * sw_entry::size;
            mac_of(c, e);
            put_text(e, sw_entry::display_name, name(c, p));
            put_text(e, sw_entry::display_version, version(c, p));
        }
    std::ofstream(dir + "/" + hardware_file_name, std::ios::binary)
        .write(reinterpret_cast<const char*>(hw.data()), static_cast<std::streamsize>(hw.size()));
    std::ofstream(dir + "/" + software_file_name, std::ios::binary)
        .write(reinterpret_cast<const char*>(sw.data()), static_cast<std::streamsize>(sw.size()));
}

}  // namespace bench
