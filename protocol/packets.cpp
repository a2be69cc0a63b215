// Encoding and decoding of the audit datagrams.
#include "protocol/packets.h"

#include <algorithm>

namespace tally {

namespace {

// Copies at most max_chars bytes of text into a field; the rest stays zero.
void put_raw_text(std::uint8_t* base, Field f, const std::string& text, std::size_t max_chars) {
    std::size_t n = std::min({text.size(), max_chars, f.width});
    std::copy_n(text.data(), n, base + f.offset);
}

// The head of the hardware, ID and extension packets: type, MAC Address and
// packet size, at the same places in the three.
static_assert(id_packet::mac.offset == hw_packet::mac.offset && ext_packet::mac.offset == hw_packet::mac.offset &&
                  id_packet::packet_size.offset == hw_packet::packet_size.offset &&
                  ext_packet::packet_size.offset == hw_packet::packet_size.offset,
              "one packet head");
void put_packet_head(std::uint8_t* b, std::uint8_t type, const Mac& m, std::size_t size) {
    using namespace hw_packet;
    put_u8(b, packet_type, type);
    std::copy(m.begin(), m.end(), b + mac.offset);
    put_u32(b, packet_size, static_cast<std::uint32_t>(size));
}

}  // namespace

HardwarePacket encode_hardware_packet(const HardwareReport& r) {
    using namespace hw_packet;
    HardwarePacket p{};
    std::uint8_t* b = p.data();
    put_packet_head(b, packet_hardware, r.mac, size);
    put_raw_text(b, computer_name, r.computer_name, computer_name.width - 1);
    put_u16(b, winsock_version, r.winsock_version);
    put_u8(b, cpuid_levels, r.cpuid_levels);
    put_raw_text(b, cpuid_response, r.cpuid_vendor, cpuid_response.width);
    put_u32(b, cpuid_code, r.cpuid_code);
    put_f32(b, speed_mhz, r.speed_mhz);
    put_u32(b, ram_size, r.ram_bytes);
    put_u32(b, pagefile_size, r.pagefile_bytes);
    put_u8(b, windows_major, r.windows_major);
    put_u8(b, windows_minor, r.windows_minor);
    put_u16(b, windows_build, r.windows_build);
    put_u32(b, windows_platform, r.windows_platform);
    put_u32(b, bits_per_pixel, r.bits_per_pixel);
    put_u32(b, video_width, r.video_width);
    put_u32(b, video_height, r.video_height);
    put_u16(b, refresh_rate, r.refresh_rate);
    put_u8(b, interlaced, r.interlaced);
    for (int k = 0; k < drive_slots; ++k) {
        b[drive_letters.offset + k] = r.drive_letters[k];
        put_u32(b + drive_types.offset + 4 * k, r.drive_types[k]);
        put_u64(b + free_disk_space.offset + 8 * k, r.free_disk_space[k]);
        put_u64(b + total_disk_space.offset + 8 * k, r.total_disk_space[k]);
    }
    put_u32(b, up_time, r.up_time);
    put_raw_text(b, last_user, r.last_user, last_user.width);
    put_u8(b, product_type, r.product_type);
    put_u24(b, pagefile_mb, std::min(r.pagefile_mb, max_pagefile_mb));
    put_u32(b, ram_mb, r.ram_mb);
    return p;
}

HardwareReport decode_hardware_packet(const std::uint8_t* b) {
    using namespace hw_packet;
    HardwareReport r;
    std::copy_n(b + mac.offset, 6, r.mac.begin());
    r.computer_name = get_text(b, computer_name);
    r.winsock_version = get_u16(b, winsock_version);
    r.cpuid_levels = get_u8(b, cpuid_levels);
    r.cpuid_vendor = get_text(b, cpuid_response);
    r.cpuid_code = get_u32(b, cpuid_code);
    r.speed_mhz = get_f32(b, speed_mhz);
    r.ram_bytes = get_u32(b, ram_size);
    r.pagefile_bytes = get_u32(b, pagefile_size);
    r.windows_major = get_u8(b, windows_major);
    r.windows_minor = get_u8(b, windows_minor);
    r.windows_build = get_u16(b, windows_build);
    r.windows_platform = get_u32(b, windows_platform);
    r.bits_per_pixel = get_u32(b, bits_per_pixel);
    r.video_width = get_u32(b, video_width);
    r.video_height = get_u32(b, video_height);
    r.refresh_rate = get_u16(b, refresh_rate);
    r.interlaced = get_u8(b, interlaced);
    for (int k = 0; k < drive_slots; ++k) {
        r.drive_letters[k] = b[drive_letters.offset + k];
        r.drive_types[k] = get_u32(b + drive_types.offset + 4 * k);
        r.free_disk_space[k] = get_u64(b + free_disk_space.offset + 8 * k);
        r.total_disk_space[k] = get_u64(b + total_disk_space.offset + 8 * k);
    }
    r.up_time = get_u32(b, up_time);
    r.last_user = get_text(b, last_user);
    r.product_type = get_u8(b, product_type);
    r.pagefile_mb = get_u24(b, pagefile_mb);
    r.ram_mb = get_u32(b, ram_mb);
    return r;
}

IdPacket encode_id_packet(const Mac& m, const std::string& asset_tag, const std::string& serial_number) {
    using namespace id_packet;
    IdPacket p{};
    std::uint8_t* b = p.data();
    put_packet_head(b, packet_id, m, size);
    put_text(b, id_packet::asset_tag, asset_tag);
    put_text(b, id_packet::serial_number, serial_number);
    return p;
}

ExtensionPacket encode_extension_packet(const Mac& m, const SystemFacts& f) {
    using namespace ext_packet;
    ExtensionPacket p{};
    std::uint8_t* b = p.data();
    put_packet_head(b, packet_extension, m, size);
    put_system_facts(b, f);
    return p;
}

bool decode_extension_packet(const std::uint8_t* b, std::size_t n, Mac& m, SystemFacts& f) {
    using namespace ext_packet;
    if (n < size) return false;
    std::copy_n(b + mac.offset, 6, m.begin());
    f = get_system_facts(b);
    return true;
}

void put_system_facts(std::uint8_t* b, const SystemFacts& f) {
    using namespace ext_packet;
    put_text(b, processor_name, f.processor_name);
    put_text(b, manufacturer, f.manufacturer);
    put_text(b, model, f.model);
    put_text(b, bios_serial, f.bios_serial);
    put_text(b, windows_edition, f.windows_edition);
    put_text(b, display_version, f.display_version);
}

SystemFacts get_system_facts(const std::uint8_t* b) {
    using namespace ext_packet;
    auto text = [b](Field fl) { return printable_text(get_text(b + fl.offset, fl.width - 1)); };
    SystemFacts f;
    f.processor_name = text(processor_name);
    f.manufacturer = text(manufacturer);
    f.model = text(model);
    f.bios_serial = text(bios_serial);
    f.windows_edition = text(windows_edition);
    f.display_version = text(display_version);
    return f;
}

bool SoftwareItemReader::next(SoftwareItem& item) {
    if (done_ || pos_ >= size_) return false;
    const std::size_t p = pos_;
    // The tag byte at p is not examined; the length byte must be inside.
    if (p + 1 >= size_) {
        truncated_ = done_ = true;
        return false;
    }
    const std::size_t n = data_[p + 1];
    if (n == 0) {
        done_ = true;
        return false;
    }
    std::size_t q = p + 2 + n;  // byte after the name field
    if (q > size_) {
        truncated_ = done_ = true;
        return false;
    }
    item = SoftwareItem{};
    item.name = data_ + p + 2;
    item.name_size = n;
    if (q < size_ && data_[q] == sw_packet::version_tag) {
        if (q + 1 >= size_) {
            truncated_ = done_ = true;
            return false;
        }
        const std::size_t m = data_[q + 1];
        if (q + 2 + m > size_) {
            truncated_ = done_ = true;
            return false;
        }
        item.has_version = true;
        item.version = data_ + q + 2;
        item.version_size = m;
        q += 2 + m;
        // A 0 byte where the next item would start ends the walk.
        if (q < size_ && data_[q] == 0) done_ = true;
    }
    pos_ = q;
    return true;
}

std::size_t encode_software_item(std::uint8_t* out, std::size_t room, const std::string& name, bool has_version,
                                 const std::string& version) {
    if (name.size() > 254 || (has_version && version.size() > 254)) return 0;
    std::size_t need = software_item_size(name.size(), has_version, version.size());
    if (need > room) return 0;
    std::uint8_t* o = out;
    *o++ = sw_packet::name_tag;
    *o++ = static_cast<std::uint8_t>(name.size() + 1);
    std::copy(name.begin(), name.end(), o);
    o += name.size();
    *o++ = 0;
    if (has_version) {
        *o++ = sw_packet::version_tag;
        *o++ = static_cast<std::uint8_t>(version.size() + 1);
        std::copy(version.begin(), version.end(), o);
        o += version.size();
        *o++ = 0;
    }
    return need;
}

}  // namespace tally
