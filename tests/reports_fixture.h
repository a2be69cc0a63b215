// Builders for the report tests: hardware records and software entries
// written into a temporary working directory and loaded as a store, and
// golden files compared byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/model/formats.h"
#include "server/store/store.h"
#include "test_support.h"

namespace tally::test {

// A hardware record with a MAC ending in `last` (0: a free record).
class RecordBuilder {
public:
    explicit RecordBuilder(std::uint8_t last = 1) : r_(hw_record::size, 0) {
        if (last) {
            std::uint8_t mac[6] = {0x00, 0x0C, 0x29, 0xAB, 0x0F, last};
            for (int i = 0; i < 6; ++i) r_[hw_record::mac.offset + i] = mac[i];
        }
    }
    RecordBuilder& text(Field f, const std::string& s) {
        put_text(r_.data(), f, s, f.width - 1);
        return *this;
    }
    RecordBuilder& u8(Field f, std::uint8_t v) { return put(f, [&](std::uint8_t* b) { put_u8(b, f, v); }); }
    RecordBuilder& u16(Field f, std::uint16_t v) { return put(f, [&](std::uint8_t* b) { put_u16(b, f, v); }); }
    RecordBuilder& u32(Field f, std::uint32_t v) { return put(f, [&](std::uint8_t* b) { put_u32(b, f, v); }); }
    RecordBuilder& f32(Field f, float v) { return put(f, [&](std::uint8_t* b) { put_f32(b, f, v); }); }
    RecordBuilder& ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
        std::uint8_t* p = r_.data() + hw_record::ip_address.offset;
        p[0] = a, p[1] = b, p[2] = c, p[3] = d;
        return *this;
    }
    RecordBuilder& drive(int slot, char letter, std::uint32_t type, std::uint64_t free_bytes = 0,
                         std::uint64_t total_bytes = 0) {
        r_[hw_record::drive_letters.offset + slot] = static_cast<std::uint8_t>(letter);
        put_u32(r_.data() + hw_record::drive_types.offset + 4 * slot, type);
        put_u64(r_.data() + hw_record::free_disk_space.offset + 8 * slot, free_bytes);
        put_u64(r_.data() + hw_record::total_disk_space.offset + 8 * slot, total_bytes);
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return r_; }
    const std::uint8_t* mac() const { return r_.data() + hw_record::mac.offset; }

private:
    template <typename F>
    RecordBuilder& put(Field, F f) {
        f(r_.data());
        return *this;
    }
    std::vector<std::uint8_t> r_;
};

inline std::vector<std::uint8_t> software_entry(const std::uint8_t* mac, const std::string& name,
                                                const std::string& version) {
    std::vector<std::uint8_t> e(sw_entry::size, 0);
    if (mac)
        for (int i = 0; i < 6; ++i) e[i] = mac[i];
    put_text(e.data(), sw_entry::display_name, name, 63);
    put_text(e.data(), sw_entry::display_version, version, 31);
    return e;
}

// A store loaded from the given records and entries.
class StoreFixture {
public:
    StoreFixture(const std::vector<RecordBuilder>& records, const std::vector<std::vector<std::uint8_t>>& entries)
        : store_(notifier_) {
        std::vector<std::uint8_t> hw, sw;
        for (const RecordBuilder& r : records) hw.insert(hw.end(), r.bytes().begin(), r.bytes().end());
        for (const auto& e : entries) sw.insert(sw.end(), e.begin(), e.end());
        write_file(dir_.file(hardware_file_name), hw);
        write_file(dir_.file(software_file_name), sw);
        EXPECT_EQ(store_.open_store(dir_.path()), 0);
    }
    Store& store() { return store_; }
    RecordingNotifier& notifier() { return notifier_; }

private:
    TempDir dir_;
    RecordingNotifier notifier_;
    Store store_;
};

// A file of tests/golden/reports, as bytes.
inline std::string golden_path(const std::string& name) {
    std::string here = __FILE__;
    std::string path = here.substr(0, here.find_last_of("/\\") + 1) + "golden/reports/" + name;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // the build's own tree under Wine
#endif
    return path;
}

// The date text as golden files hold it: "@DATE@" stands for the date text
// of `when` without its line feed, since the text follows the local time zone.
inline std::string expand_date(std::string text, std::uint32_t when) {
    std::string d = date_text(when);
    if (!d.empty() && d.back() == '\n') d.pop_back();
    for (std::size_t at; (at = text.find("@DATE@")) != std::string::npos;) text.replace(at, 6, d);
    return text;
}

// Compares text with a golden file; TALLY_UPDATE_GOLDEN=1 writes the file
// instead (with the date placeholder put back).
inline void expect_golden(const std::string& name, const std::string& text, std::uint32_t when) {
    const std::string path = golden_path(name);
    if (std::getenv("TALLY_UPDATE_GOLDEN")) {
        std::string d = date_text(when);
        if (!d.empty() && d.back() == '\n') d.pop_back();
        std::string stored = text;
        for (std::size_t at; !d.empty() && (at = stored.find(d)) != std::string::npos;) stored.replace(at, d.size(), "@DATE@");
        write_file(path, std::vector<std::uint8_t>(stored.begin(), stored.end()));
    }
    const std::vector<std::uint8_t> golden = read_file(path);
    ASSERT_FALSE(golden.empty()) << "missing golden file " << path;
    EXPECT_EQ(text, expand_date(std::string(golden.begin(), golden.end()), when)) << "golden file " << name;
}

}  // namespace tally::test
