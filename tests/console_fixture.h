// Hardware and software tables for the console and system-list tests: built
// in memory, written as the two database files and loaded into a Store.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "server/store/records.h"
#include "server/store/store.h"
#include "test_support.h"

namespace tally::test {

using RecordBytes = std::array<std::uint8_t, hw_record::size>;

inline std::array<std::uint8_t, 6> mac_of(std::uint32_t n) {
    return {0x00, 0x11, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

class Tables {
public:
    // A record with MAC, name and IPv4 address; further fields through the bytes.
    RecordBytes& add_record(const std::array<std::uint8_t, 6>& mac, const std::string& name,
                            const Ipv4& ip = {10, 0, 0, 1}) {
        records.emplace_back();
        RecordBytes& r = records.back();
        r.fill(0);
        std::copy(mac.begin(), mac.end(), r.begin() + hw_record::mac.offset);
        std::copy(ip.begin(), ip.end(), r.begin() + hw_record::ip_address.offset);
        put_text(r.data(), hw_record::computer_name, name);
        return r;
    }
    void add_free_record() { records.emplace_back().fill(0); }
    void add_entry(const std::array<std::uint8_t, 6>& mac, const std::string& name, const std::string& version = "") {
        std::vector<std::uint8_t> e(sw_entry::size, 0);
        std::copy(mac.begin(), mac.end(), e.begin());
        put_text(e.data(), sw_entry::display_name, name);
        put_text(e.data(), sw_entry::display_version, version);
        software.insert(software.end(), e.begin(), e.end());
    }
    // Writes both files into dir and loads them; true on success.
    bool load(Store& store, const TempDir& dir) const {
        std::vector<std::uint8_t> hw;
        for (const RecordBytes& r : records) hw.insert(hw.end(), r.begin(), r.end());
        write_file(dir.file(hardware_file_name), hw);
        write_file(dir.file(software_file_name), software);
        return store.open_store(dir.path()) == 0;
    }

    std::vector<RecordBytes> records;
    std::vector<std::uint8_t> software;
};

inline void set_drive(RecordBytes& r, int slot, char letter, std::uint32_t type, std::uint64_t free_bytes,
                      std::uint64_t total_bytes) {
    r[hw_record::drive_letters.offset + slot] = static_cast<std::uint8_t>(letter);
    put_u32(r.data() + hw_record::drive_types.offset + 4 * slot, type);
    put_u64(r.data() + hw_record::free_disk_space.offset + 8 * slot, free_bytes);
    put_u64(r.data() + hw_record::total_disk_space.offset + 8 * slot, total_bytes);
}

}  // namespace tally::test
