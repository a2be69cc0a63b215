// The sample table the report tests share: a fully described computer, a
// deleted record, a bare computer with awkward texts, and one whose display
// reports an unknown interlace state.
#pragma once

#include "reports_fixture.h"

namespace tally::test {

constexpr std::uint32_t sample_time = 1141740309;  // 7 March 2006, 14:05:09 UTC

// What a sample computer's record holds beside its MAC Address (0 or empty:
// left zero).
struct SampleSystem {
    std::uint8_t mac_tail;
    std::uint32_t last_update;
    std::uint8_t ip[4];
    const char* name;
    std::uint8_t cpuid_levels;
    const char* cpuid_vendor;
    std::uint32_t cpuid_code;
    float speed_mhz;
    std::uint32_t ram_mb, pagefile_mb, platform;
    std::uint8_t major, minor;
    std::uint16_t build;
    std::uint32_t bits_per_pixel, width, height;
    std::uint16_t refresh_rate;
    std::uint8_t interlaced;
    std::uint32_t up_time;
    const char* last_user;
};

inline RecordBuilder sample_record(const SampleSystem& s) {
    RecordBuilder r(s.mac_tail);
    r.u32(hw_record::last_update, s.last_update)
        .ip(s.ip[0], s.ip[1], s.ip[2], s.ip[3])
        .text(hw_record::computer_name, s.name)
        .u8(hw_record::cpuid_levels, s.cpuid_levels)
        .text(hw_record::cpuid_response, s.cpuid_vendor)
        .u32(hw_record::cpuid_code, s.cpuid_code)
        .f32(hw_record::speed_mhz, s.speed_mhz)
        .u32(hw_record::ram_mb, s.ram_mb)
        .u32(hw_record::pagefile_mb, s.pagefile_mb)
        .u32(hw_record::windows_platform, s.platform)
        .u8(hw_record::windows_major, s.major)
        .u8(hw_record::windows_minor, s.minor)
        .u16(hw_record::windows_build, s.build)
        .u32(hw_record::bits_per_pixel, s.bits_per_pixel)
        .u32(hw_record::video_width, s.width)
        .u32(hw_record::video_height, s.height)
        .u16(hw_record::refresh_rate, s.refresh_rate)
        .u8(hw_record::interlaced, s.interlaced)
        .u32(hw_record::up_time, s.up_time)
        .text(hw_record::last_user, s.last_user);
    return r;
}

inline RecordBuilder sample_full() {
    RecordBuilder r = sample_record({0x10, sample_time, {192, 168, 0, 10}, "PC-ALPHA", 2, "GenuineIntel", 0xF29, 2992.6f,
                                     512, 1024, 2, 5, 1, 2600, 32, 1024, 768, 75, 0, 90061, "alice"});
    r.drive(0, 'a', 2)
        .drive(1, 'c', 3, 13421772800ull, 42949672960ull)
        .drive(2, 'D', 5)
        .drive(3, 'Z', 4, 1ull << 30, 1ull << 31)
        .drive(4, 'E', 3, 500ull << 20, 8000ull << 20)
        .text(hw_record::serial_number, "SN-0042")
        .text(hw_record::asset_tag, "AT-9")
        .text(hw_record::custom_field_1, "Room 12")
        .text(hw_record::custom_field_2, "Owner, Finance");
    return r;
}

inline RecordBuilder sample_bare() {
    return sample_record({0x30, sample_time + 86400, {10, 0, 0, 9}, "Lab \"B\"", 1, "AuthenticAMD", 0x10676, 1000.0f,
                          128, 0, 1, 4, 20, 1000, 8, 640, 480, 1, 1, 59, ""});
}

// A display that reports an unknown interlace state, and a user name with a
// line break; nothing else is known.
inline RecordBuilder sample_unknown_display() {
    return sample_record({0x40, sample_time, {10, 0, 0, 10}, "PC-GAMMA", 0, "", 0, 0.0f, 0, 0, 2, 6, 1, 7601, 0, 0, 0,
                          0, 2, 0, "line\nbreak"});
}

// Records 0 full, 1 deleted, 2 bare, 3 unknown display; the full computer's
// programs among another computer's and a freed entry.
inline StoreFixture sample_store() {
    const RecordBuilder full = sample_full();
    const RecordBuilder gamma = sample_unknown_display();
    return StoreFixture({full, RecordBuilder(0), sample_bare(), gamma},
                        {software_entry(full.mac(), "Home Office Suite 2", "11.0"),
                         software_entry(gamma.mac(), "Editor Pro", "2"),
                         software_entry(nullptr, "Freed Program", ""),
                         software_entry(full.mac(), "Zip Tool", " 1.0"),
                         software_entry(full.mac(), "Percent 100% Tool", "{x}"),
                         software_entry(full.mac(), "Viewer", "z9"),
                         software_entry(full.mac(), "Player", "~1")});
}

}  // namespace tally::test
