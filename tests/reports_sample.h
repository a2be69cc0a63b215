// The sample table the report tests share: a fully described computer, a
// deleted record, a bare computer with awkward texts, and one whose display
// reports an unknown interlace state.
#pragma once

#include "reports_fixture.h"

namespace tally::test {

constexpr std::uint32_t sample_time = 1141740309;  // 7 March 2006, 14:05:09 UTC

inline RecordBuilder sample_full() {
    RecordBuilder r(0x10);
    r.u32(hw_record::last_update, sample_time)
        .ip(192, 168, 0, 10)
        .text(hw_record::computer_name, "PC-ALPHA")
        .u8(hw_record::cpuid_levels, 2)
        .text(hw_record::cpuid_response, "GenuineIntel")
        .u32(hw_record::cpuid_code, 0xF29)
        .f32(hw_record::speed_mhz, 2992.6f)
        .u32(hw_record::ram_mb, 512)
        .u32(hw_record::pagefile_mb, 1024)
        .u32(hw_record::windows_platform, 2)
        .u8(hw_record::windows_major, 5)
        .u8(hw_record::windows_minor, 1)
        .u16(hw_record::windows_build, 2600)
        .u32(hw_record::bits_per_pixel, 32)
        .u32(hw_record::video_width, 1024)
        .u32(hw_record::video_height, 768)
        .u16(hw_record::refresh_rate, 75)
        .u8(hw_record::interlaced, 0)
        .drive(0, 'a', 2)
        .drive(1, 'c', 3, 13421772800ull, 42949672960ull)
        .drive(2, 'D', 5)
        .drive(3, 'Z', 4, 1ull << 30, 1ull << 31)
        .drive(4, 'E', 3, 500ull << 20, 8000ull << 20)
        .u32(hw_record::up_time, 90061)
        .text(hw_record::serial_number, "SN-0042")
        .text(hw_record::asset_tag, "AT-9")
        .text(hw_record::custom_field_1, "Room 12")
        .text(hw_record::custom_field_2, "Owner, Finance")
        .text(hw_record::last_user, "alice");
    return r;
}

inline RecordBuilder sample_bare() {
    RecordBuilder r(0x30);
    r.u32(hw_record::last_update, sample_time + 86400)
        .ip(10, 0, 0, 9)
        .text(hw_record::computer_name, "Lab \"B\"")
        .u8(hw_record::cpuid_levels, 1)
        .text(hw_record::cpuid_response, "AuthenticAMD")
        .u32(hw_record::cpuid_code, 0x10676)
        .f32(hw_record::speed_mhz, 1000.0f)
        .u32(hw_record::ram_mb, 128)
        .u32(hw_record::pagefile_mb, 0)
        .u32(hw_record::windows_platform, 1)
        .u8(hw_record::windows_major, 4)
        .u8(hw_record::windows_minor, 20)
        .u16(hw_record::windows_build, 1000)
        .u32(hw_record::bits_per_pixel, 8)
        .u32(hw_record::video_width, 640)
        .u32(hw_record::video_height, 480)
        .u16(hw_record::refresh_rate, 1)
        .u8(hw_record::interlaced, 1)
        .u32(hw_record::up_time, 59);
    return r;
}

inline RecordBuilder sample_unknown_display() {
    RecordBuilder r(0x40);
    r.u32(hw_record::last_update, sample_time)
        .ip(10, 0, 0, 10)
        .text(hw_record::computer_name, "PC-GAMMA")
        .u8(hw_record::interlaced, 2)
        .u32(hw_record::windows_platform, 2)
        .u8(hw_record::windows_major, 6)
        .u8(hw_record::windows_minor, 1)
        .u16(hw_record::windows_build, 7601)
        .text(hw_record::last_user, "line\nbreak");
    return r;
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
