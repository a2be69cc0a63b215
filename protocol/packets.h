// The five datagrams that pass between scoutly and tallyhall: hardware packet,
// ID packet, software packet (list start / continuation), update and close
// request. One declaration of each layout; encoders and decoders use it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/bytes.h"

namespace tally {

// Largest datagram the server accepts; the client never sends more than
// max_software_packet bytes.
constexpr std::size_t receive_buffer_size = 2048;
constexpr std::size_t max_software_packet = 1500;
constexpr std::uint16_t default_port = 54333;

// First bytes by which the server tells datagrams apart.
enum PacketType : std::uint8_t {
    packet_hardware = 0x54,       // 'T'
    packet_id = 0x32,             // '2'
    packet_list_start = 0xA3,
    packet_list_continuation = 0x99,
    // Extension packet: sent after the hardware packet by current clients.
    // Earlier servers report it as an unknown packet and change nothing.
    packet_extension = 0x45,      // 'E'
};

constexpr int drive_slots = 26;
// Drive types of a slot (those the system's drive-type query reports) that
// the views, reports and searches tell apart.
constexpr std::uint32_t drive_removable = 2;
constexpr std::uint32_t drive_fixed = 3;
constexpr std::uint32_t drive_cdrom = 5;
using Mac = std::array<std::uint8_t, 6>;

// The 12-byte head the hardware, ID and extension packets share: type, MAC
// address, a reserved byte and the packet's size.
namespace report_head {
constexpr Field packet_type{0, 1};
constexpr Field mac{1, 6};
constexpr Field packet_size{8, 4};
}  // namespace report_head

// Hardware packet: exactly 704 bytes.
namespace hw_packet {
constexpr std::size_t size = 704;
using namespace report_head;
constexpr Field computer_name{12, 50};
constexpr Field winsock_version{62, 2};
constexpr Field cpuid_levels{64, 1};
constexpr Field cpuid_response{68, 12};
constexpr Field cpuid_code{80, 4};
constexpr Field speed_mhz{84, 4};
constexpr Field ram_size{88, 4};
constexpr Field pagefile_size{92, 4};
constexpr Field windows_major{96, 1};
constexpr Field windows_minor{97, 1};
constexpr Field windows_build{98, 2};
constexpr Field windows_platform{100, 4};
constexpr Field bits_per_pixel{104, 4};
constexpr Field video_width{108, 4};
constexpr Field video_height{112, 4};
constexpr Field refresh_rate{116, 2};
constexpr Field interlaced{118, 1};
constexpr Field drive_letters{119, 26};
constexpr Field drive_types{148, 104};     // 26 x u32
constexpr Field free_disk_space{256, 208};  // 26 x u64
constexpr Field total_disk_space{464, 208}; // 26 x u64
constexpr Field up_time{672, 4};
constexpr Field last_user{676, 25};
constexpr Field fields[] = {packet_type,   mac,           packet_size,     computer_name, winsock_version,
                            cpuid_levels,  cpuid_response, cpuid_code,     speed_mhz,     ram_size,
                            pagefile_size, windows_major, windows_minor,   windows_build, windows_platform,
                            bits_per_pixel, video_width,  video_height,    refresh_rate,  interlaced,
                            drive_letters, drive_types,   free_disk_space, total_disk_space, up_time,
                            last_user};
// Extensions in bytes that earlier clients leave zero and earlier servers
// never read; 0 means "not reported" (an earlier client).
constexpr Field product_type{65, 1};   // 1 workstation, 2 domain controller, 3 server
constexpr Field pagefile_mb{145, 3};   // page file in MB, 24 bits, at most 16777215
constexpr Field ram_mb{252, 4};        // physical memory in MB
constexpr Field extension_fields[] = {product_type, pagefile_mb, ram_mb};
constexpr std::uint32_t max_pagefile_mb = 0xFFFFFF;
}  // namespace hw_packet

// ID packet: exactly 64 bytes.
namespace id_packet {
constexpr std::size_t size = 64;
using namespace report_head;
constexpr Field asset_tag{12, 25};
constexpr Field serial_number{37, 27};
constexpr Field fields[] = {packet_type, mac, packet_size, asset_tag, serial_number};
}  // namespace id_packet

// Extension packet: a fixed layout of texts the hardware packet has no room
// for, each NUL-terminated inside its field. A later client may send a
// longer packet; its Packet Size says how long, and readers take the fields
// below from its start.
namespace ext_packet {
constexpr std::size_t size = 320;
using namespace report_head;
constexpr Field processor_name{12, 49};   // processor brand string, at most 48 characters
constexpr Field manufacturer{64, 64};     // system manufacturer
constexpr Field model{128, 64};           // system model
constexpr Field bios_serial{192, 64};     // serial number of the BIOS
constexpr Field windows_edition{256, 32}; // edition identifier, such as Professional
constexpr Field display_version{288, 16}; // release, such as 23H2
constexpr Field fields[] = {packet_type, mac,         packet_size,     processor_name,
                            manufacturer, model,      bios_serial,     windows_edition, display_version};
}  // namespace ext_packet

// Software packet: type byte, MAC, then items back to back.
namespace sw_packet {
constexpr Field packet_type{0, 1};
constexpr Field mac{1, 6};
constexpr std::size_t items_offset = 7;
constexpr std::uint8_t name_tag = 0x4C;     // 'L'
constexpr std::uint8_t version_tag = 0x58;  // 'X'
}  // namespace sw_packet

// Requests from the server to a resident client (no terminating NUL).
constexpr char update_request_text[] = "Update Please";
constexpr char close_request_text[] = "Close Please";
constexpr std::size_t update_request_size = sizeof update_request_text - 1;  // 13
constexpr std::size_t close_request_size = sizeof close_request_text - 1;    // 12

// True when the fields lie in ascending order without overlap inside size.
template <std::size_t N>
constexpr bool layout_is_sound(const Field (&fields)[N], std::size_t size) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (fields[i].offset < end || fields[i].width == 0) return false;
        end = fields[i].end();
    }
    return end <= size;
}
static_assert(layout_is_sound(hw_packet::fields, hw_packet::size), "hardware packet layout");
static_assert(hw_packet::last_user.end() + 3 == hw_packet::size, "hardware packet ends in 3 reserved bytes");
static_assert(hw_packet::drive_types.width == 4 * drive_slots && hw_packet::free_disk_space.width == 8 * drive_slots,
              "drive arrays");
static_assert(layout_is_sound(id_packet::fields, id_packet::size) && id_packet::serial_number.end() == id_packet::size,
              "ID packet layout");
static_assert(layout_is_sound(ext_packet::fields, ext_packet::size), "extension packet layout");

// True when no field of `extra` overlaps a field of `base`.
template <std::size_t N, std::size_t M>
constexpr bool fields_disjoint(const Field (&base)[N], const Field (&extra)[M]) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t k = 0; k < M; ++k)
            if (extra[k].offset < base[i].end() && base[i].offset < extra[k].end()) return false;
    return true;
}
static_assert(layout_is_sound(hw_packet::extension_fields, hw_packet::size) &&
                  fields_disjoint(hw_packet::fields, hw_packet::extension_fields) &&
                  hw_packet::extension_fields[0].offset > hw_packet::mac.end(),
              "hardware packet extensions lie in reserved bytes after byte 7");
static_assert(update_request_size == 13 && close_request_size == 12, "request sizes");

// What a client measured, in the form the hardware packet carries it.
struct HardwareReport {
    Mac mac{};
    std::string computer_name;            // at most 49 characters are sent
    std::uint16_t winsock_version = 0;
    std::uint8_t cpuid_levels = 0;
    std::string cpuid_vendor;             // 12 characters, sent without NUL
    std::uint32_t cpuid_code = 0;
    float speed_mhz = 0.0f;
    std::uint32_t ram_bytes = 0;
    std::uint32_t pagefile_bytes = 0;
    std::uint8_t windows_major = 0;
    std::uint8_t windows_minor = 0;
    std::uint16_t windows_build = 0;
    std::uint32_t windows_platform = 0;
    std::uint32_t bits_per_pixel = 0;
    std::uint32_t video_width = 0;
    std::uint32_t video_height = 0;
    std::uint16_t refresh_rate = 0;
    std::uint8_t interlaced = 0;
    std::array<std::uint8_t, drive_slots> drive_letters{};
    std::array<std::uint32_t, drive_slots> drive_types{};
    std::array<std::uint64_t, drive_slots> free_disk_space{};
    std::array<std::uint64_t, drive_slots> total_disk_space{};
    std::uint32_t up_time = 0;
    std::string last_user;                // first 25 bytes are sent, NUL only if shorter
    // Extensions (0: not reported).
    std::uint32_t ram_mb = 0;
    std::uint32_t pagefile_mb = 0;        // sent as at most max_pagefile_mb
    std::uint8_t product_type = 0;
};

// The texts of the extension packet.
struct SystemFacts {
    std::string processor_name;
    std::string manufacturer;
    std::string model;
    std::string bios_serial;
    std::string windows_edition;
    std::string display_version;
};

using HardwarePacket = std::array<std::uint8_t, hw_packet::size>;
using IdPacket = std::array<std::uint8_t, id_packet::size>;

// Builds the 704-byte hardware packet; every byte not filled is zero.
HardwarePacket encode_hardware_packet(const HardwareReport& report);
// Reads a hardware packet of at least hw_packet::size bytes.
HardwareReport decode_hardware_packet(const std::uint8_t* packet);

// Builds the 64-byte ID packet: asset tag cut to 24 characters, serial number
// to 26, each NUL-terminated inside its field.
IdPacket encode_id_packet(const Mac& mac, const std::string& asset_tag, const std::string& serial_number);

using ExtensionPacket = std::array<std::uint8_t, ext_packet::size>;
// Builds the extension packet; each text is cut to its field's width - 1.
ExtensionPacket encode_extension_packet(const Mac& mac, const SystemFacts& facts);
// Reads the fields of an extension packet of `size` bytes; false (nothing
// read) when it is shorter than ext_packet::size. Bytes past the known
// fields are ignored.
bool decode_extension_packet(const std::uint8_t* packet, std::size_t size, Mac& mac, SystemFacts& facts);
// The texts of an extension packet, at its offsets and widths (the server's
// side record keeps them at the same places): each cut to its field's width
// - 1 and NUL-terminated; read back, a field without its NUL (a hostile
// sender, a damaged file) gives width - 1 characters, printable ones only.
void put_system_facts(std::uint8_t* bytes, const SystemFacts& facts);
SystemFacts get_system_facts(const std::uint8_t* bytes);

// One software item as it stands in a datagram: views into the datagram's bytes.
struct SoftwareItem {
    const std::uint8_t* name = nullptr;  // the n bytes of the name field
    std::size_t name_size = 0;
    bool has_version = false;
    const std::uint8_t* version = nullptr;  // the m bytes of the version field
    std::size_t version_size = 0;

    // Texts up to the first NUL of their field (or the whole field).
    std::string name_text() const { return get_text(name, name_size); }
    std::string version_text() const { return has_version ? get_text(version, version_size) : std::string(); }
    // The same into strings whose room is reused: no allocation per item.
    void texts_into(std::string& name_out, std::string& version_out) const {
        assign_text(name_out, name, name_size);
        if (has_version)
            assign_text(version_out, version, version_size);
        else
            version_out.clear();
    }
};

// Walks the items of a software packet of `size` bytes. Never reads past the
// datagram: an item cut off by its end is not returned and ends the walk, as
// do a name length of 0 and a 0 byte where an item follows one with a version.
class SoftwareItemReader {
public:
    SoftwareItemReader(const std::uint8_t* datagram, std::size_t size)
        : data_(datagram), size_(size), pos_(sw_packet::items_offset) {}
    bool next(SoftwareItem& item);
    // True when the walk stopped at an item cut off by the datagram's end.
    bool truncated() const { return truncated_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
    bool done_ = false;
    bool truncated_ = false;
};

// Bytes an item takes: n + 2 without a version, n + m + 4 with one, where
// n and m count the terminating NUL.
inline std::size_t software_item_size(std::size_t name_chars, bool has_version, std::size_t version_chars) {
    return name_chars + 3 + (has_version ? version_chars + 3 : 0);
}
// Writes one item at out (room bytes available) and returns its size, or 0
// when it does not fit or a text is longer than 254 characters.
std::size_t encode_software_item(std::uint8_t* out, std::size_t room, const std::string& name, bool has_version,
                                 const std::string& version);

// How a resident client reads a datagram it received.
enum class Request { none, update, close };
// Only datagrams from the server's address count; then 13 bytes are an
// update request and 12 bytes a close request, whatever they contain.
inline Request classify_request(std::size_t size, bool from_server) {
    if (!from_server) return Request::none;
    if (size == update_request_size) return Request::update;
    if (size == close_request_size) return Request::close;
    return Request::none;
}

}  // namespace tally
