// Temporary directories and file helpers for the unit tests.
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace tally::test {

namespace fs = std::filesystem;

std::vector<std::uint8_t> software_packet(const Mac& mac, const std::vector<std::pair<std::string, std::string>>& programs) {
    std::vector<std::uint8_t> d{packet_list_start};
    d.insert(d.end(), mac.begin(), mac.end());
    for (const auto& [name, version] : programs) {
        std::uint8_t buf[600];
        const std::size_t n = encode_software_item(buf, sizeof buf, name, !version.empty(), version);
        d.insert(d.end(), buf, buf + n);
    }
    return d;
}

ServerFiles::ServerFiles() {
    opened = store.open_store(dir.path()) == 0 && history.open(dir.path()) == 0;
    intake.set_observer(&recorder);
}

TempDir::TempDir() {
    std::random_device rd;
    for (;;) {
        fs::path p = fs::temp_directory_path() / ("tally-test-" + std::to_string(rd()));
        if (fs::create_directory(p)) {
            path_ = p.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

Unchangeable::Unchangeable(const std::string& path) : path_(path) {
#ifndef _WIN32
    made_ = std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) == 0;
#endif
}

void Unchangeable::release() {
    if (made_) made_ = std::system(("chattr -i '" + path_ + "'").c_str()) != 0;
}

void expect_each_text(std::string (*fn)(const std::string&), const TextCases& cases) {
    for (const auto& c : cases) EXPECT_EQ(fn(c.first), c.second) << "made of \"" << c.first << '"';
}

void set_drive(HardwareReport& r, int slot, char letter, std::uint32_t type, std::uint64_t free_bytes,
               std::uint64_t total_bytes) {
    r.drive_letters[slot] = static_cast<std::uint8_t>(letter);
    r.drive_types[slot] = type;
    r.free_disk_space[slot] = free_bytes;
    r.total_disk_space[slot] = total_bytes;
}

void set_windows(HardwareReport& r, std::uint8_t major, std::uint8_t minor, std::uint16_t build) {
    r.windows_major = major;
    r.windows_minor = minor;
    r.windows_build = build;
}

HardwareReport desktop_report(const Mac& mac, const std::string& name) {
    HardwareReport r;
    r.mac = mac;
    r.computer_name = name;
    r.cpuid_levels = 13;
    r.cpuid_vendor = "GenuineIntel";
    r.cpuid_code = 0x0F29;
    r.speed_mhz = 2992.6f;
    set_windows(r, 5, 1, 2600);
    r.windows_platform = 2;
    r.ram_bytes = 536870912;
    r.pagefile_bytes = 1;
    r.bits_per_pixel = 32;
    r.video_width = 1024;
    r.video_height = 768;
    r.refresh_rate = 75;
    set_drive(r, 0, 'c', 3, 12800ULL << 20, 40960ULL << 20);
    r.up_time = 176527;
    r.last_user = "alice";
    return r;
}

::testing::AssertionResult has_head(const std::uint8_t* d, std::size_t size, std::uint8_t type, const Mac& mac) {
    if (size < 12) return ::testing::AssertionFailure() << "only " << size << " bytes";
    if (d[0] != type) return ::testing::AssertionFailure() << "type " << int(d[0]) << ", not " << int(type);
    if (!std::equal(mac.begin(), mac.end(), d + 1)) return ::testing::AssertionFailure() << "another MAC address";
    if (d[7] != 0) return ::testing::AssertionFailure() << "byte 7 is " << int(d[7]);
    if (get_u32(d + 8) != size) return ::testing::AssertionFailure() << "size " << get_u32(d + 8) << ", not " << size;
    return ::testing::AssertionSuccess();
}

}  // namespace tally::test
