// The hardware record (808 bytes, one per computer) and the software entry
// (102 bytes, one per installed program), identical in memory and in
// Hardware.Audit / Software.Audit. Little-endian, texts NUL-terminated.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/bytes.h"
#include "protocol/packets.h"
#include "protocol/ipv4.h"

namespace tally {

namespace hw_record {
constexpr std::size_t size = 808;
constexpr Field last_update{0, 4};
constexpr Field mac{4, 6};
constexpr Field ip_address{12, 4};
constexpr Field computer_name{16, 52};    // at most 50 characters
constexpr Field cpuid_levels{68, 1};
constexpr Field cpuid_response{69, 13};   // at most 12 characters
constexpr Field cpuid_code{84, 4};
constexpr Field speed_mhz{88, 4};
constexpr Field ram_mb{92, 4};
constexpr Field pagefile_mb{96, 4};
constexpr Field windows_platform{100, 4};
constexpr Field windows_major{104, 1};
constexpr Field windows_minor{105, 1};
constexpr Field windows_build{106, 2};
constexpr Field bits_per_pixel{108, 4};
constexpr Field video_width{112, 4};
constexpr Field video_height{116, 4};
constexpr Field refresh_rate{120, 2};
constexpr Field interlaced{122, 1};
constexpr Field drive_letters{123, 26};
constexpr Field drive_types{152, 104};       // 26 x u32
constexpr Field free_disk_space{256, 208};   // 26 x u64
constexpr Field total_disk_space{464, 208};  // 26 x u64
constexpr Field up_time{672, 4};
constexpr Field custom_field_1{676, 25};
constexpr Field custom_field_2{701, 25};
constexpr Field serial_number{726, 25};
constexpr Field asset_tag{751, 25};
constexpr Field last_user{776, 26};
constexpr std::size_t computer_name_chars = 50;
constexpr std::size_t user_field_chars = 24;  // custom fields, serial number, asset tag
constexpr std::size_t last_user_chars = 25;
constexpr Field fields[] = {last_update,    mac,           ip_address,     computer_name,   cpuid_levels,
                            cpuid_response, cpuid_code,    speed_mhz,      ram_mb,          pagefile_mb,
                            windows_platform, windows_major, windows_minor, windows_build,  bits_per_pixel,
                            video_width,    video_height,  refresh_rate,   interlaced,      drive_letters,
                            drive_types,    free_disk_space, total_disk_space, up_time,     custom_field_1,
                            custom_field_2, serial_number, asset_tag,      last_user};
}  // namespace hw_record
static_assert(layout_is_sound(hw_record::fields, hw_record::size), "hardware record layout");
static_assert(hw_record::last_user.end() + 6 == hw_record::size, "hardware record ends in 6 reserved bytes");

namespace sw_entry {
constexpr std::size_t size = 102;
constexpr Field mac{0, 6};
constexpr Field display_name{6, 64};      // at most 63 characters
constexpr Field display_version{70, 32};  // at most 31 characters
constexpr Field fields[] = {mac, display_name, display_version};
}  // namespace sw_entry
static_assert(layout_is_sound(sw_entry::fields, sw_entry::size) && sw_entry::display_version.end() == sw_entry::size,
              "software entry layout");

inline bool mac_is_zero(const std::uint8_t* mac) { return mac_key(mac) == 0; }

// Read-only typed view of one hardware record in the hardware table.
class RecordView {
public:
    explicit RecordView(const std::uint8_t* bytes) : b_(bytes) {}
    const std::uint8_t* bytes() const { return b_; }
    bool is_free() const { return mac_is_zero(b_ + hw_record::mac.offset); }
    std::uint32_t last_update() const { return get_u32(b_, hw_record::last_update); }
    const std::uint8_t* mac() const { return b_ + hw_record::mac.offset; }
    Ipv4 ip_address() const;
    std::string computer_name() const { return get_text(b_, hw_record::computer_name); }
    std::uint8_t cpuid_levels() const { return get_u8(b_, hw_record::cpuid_levels); }
    std::string cpuid_response() const { return get_text(b_, hw_record::cpuid_response); }
    std::uint32_t cpuid_code() const { return get_u32(b_, hw_record::cpuid_code); }
    float speed_mhz() const { return get_f32(b_, hw_record::speed_mhz); }
    std::uint32_t ram_mb() const { return get_u32(b_, hw_record::ram_mb); }
    std::uint32_t pagefile_mb() const { return get_u32(b_, hw_record::pagefile_mb); }
    std::uint32_t windows_platform() const { return get_u32(b_, hw_record::windows_platform); }
    std::uint8_t windows_major() const { return get_u8(b_, hw_record::windows_major); }
    std::uint8_t windows_minor() const { return get_u8(b_, hw_record::windows_minor); }
    std::uint16_t windows_build() const { return get_u16(b_, hw_record::windows_build); }
    std::uint32_t bits_per_pixel() const { return get_u32(b_, hw_record::bits_per_pixel); }
    std::uint32_t video_width() const { return get_u32(b_, hw_record::video_width); }
    std::uint32_t video_height() const { return get_u32(b_, hw_record::video_height); }
    std::uint16_t refresh_rate() const { return get_u16(b_, hw_record::refresh_rate); }
    std::uint8_t interlaced() const { return get_u8(b_, hw_record::interlaced); }
    std::uint8_t drive_letter(int k) const { return b_[hw_record::drive_letters.offset + k]; }
    std::uint32_t drive_type(int k) const { return get_u32(b_ + hw_record::drive_types.offset + 4 * k); }
    std::uint64_t free_disk_space(int k) const { return get_u64(b_ + hw_record::free_disk_space.offset + 8 * k); }
    std::uint64_t total_disk_space(int k) const { return get_u64(b_ + hw_record::total_disk_space.offset + 8 * k); }
    std::uint32_t up_time() const { return get_u32(b_, hw_record::up_time); }
    std::string custom_field_1() const { return get_text(b_, hw_record::custom_field_1); }
    std::string custom_field_2() const { return get_text(b_, hw_record::custom_field_2); }
    std::string serial_number() const { return get_text(b_, hw_record::serial_number); }
    std::string asset_tag() const { return get_text(b_, hw_record::asset_tag); }
    std::string last_user() const { return get_text(b_, hw_record::last_user); }

private:
    const std::uint8_t* b_;
};

inline Ipv4 RecordView::ip_address() const {
    Ipv4 a;
    for (int i = 0; i < 4; ++i) a[i] = b_[hw_record::ip_address.offset + i];
    return a;
}

// Read-only typed view of one software entry in the software table.
class EntryView {
public:
    explicit EntryView(const std::uint8_t* bytes) : b_(bytes) {}
    const std::uint8_t* bytes() const { return b_; }
    bool is_free() const { return mac_is_zero(b_); }
    const std::uint8_t* mac() const { return b_ + sw_entry::mac.offset; }
    std::string display_name() const { return get_text(b_, sw_entry::display_name); }
    std::string display_version() const { return get_text(b_, sw_entry::display_version); }

private:
    const std::uint8_t* b_;
};

}  // namespace tally
