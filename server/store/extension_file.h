// Extension.Audit: the facts that the hardware record has no room for, one
// 320-byte record per hardware record at the same index (record i at byte
// i x 320), beside the two database files, which stay as they are. Each
// record names the MAC Address of its hardware record, so a side record is
// used only while it belongs to the computer of the hardware record at its
// index: a server that does not know this file may have deleted or reused
// records meanwhile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/packets.h"
#include "server/store/db_file.h"

namespace tally {

constexpr char extension_file_name[] = "Extension.Audit";

// The texts lie at the offsets of the extension packet.
namespace ext_record {
constexpr std::size_t size = 320;
constexpr Field mac{0, 6};              // all zero: a free side record
constexpr Field product_type{6, 1};     // from the hardware packet; 0 unknown
// Bit 0: the computer sends pass manifests; bit 1: it has sent a validly
// signed pass. Earlier servers leave the byte as it is (zero).
constexpr Field flags{7, 1};
constexpr Field last_update{8, 4};      // when the extension packet was stored; 0 never
// The texts of the extension packet, at its offsets and widths.
constexpr Field processor_name = ext_packet::processor_name;
constexpr Field manufacturer = ext_packet::manufacturer;
constexpr Field model = ext_packet::model;
constexpr Field bios_serial = ext_packet::bios_serial;
constexpr Field windows_edition = ext_packet::windows_edition;
constexpr Field display_version = ext_packet::display_version;
constexpr Field fields[] = {mac,          product_type, flags, last_update, processor_name, manufacturer,
                            model,        bios_serial,  windows_edition, display_version};
// Flag bit 1: the computer has sent a validly signed pass, so its unsigned
// datagrams are refused from then on.
constexpr std::uint8_t flag_signs_reports = 0x02;
}  // namespace ext_record
static_assert(layout_is_sound(ext_record::fields, ext_record::size), "extension record layout");
static_assert(ext_record::size == ext_packet::size, "extension record and packet of one size");

// One side record, decoded.
struct ExtensionRecord {
    Mac mac{};
    std::uint8_t product_type = 0;
    std::uint8_t flags = 0;
    std::uint32_t last_update = 0;
    SystemFacts facts;
};

void encode_extension_record(const ExtensionRecord& r, std::uint8_t* out);
ExtensionRecord decode_extension_record(const std::uint8_t* bytes);

// The side file and its in-memory image. Like the database files, what
// cannot be written stays noted and is written by the next flush; a file
// that can be read but not written shows its facts and keeps no new ones.
class ExtensionFile {
public:
    enum class State { closed, writable, read_only };
    // Opens or creates the file in the working directory and loads it (a
    // partial record at its end is left out); a file that cannot be opened
    // for writing is opened for reading. 0 on success (either way), 1 on
    // failure, after which the file holds nothing and find gives nothing.
    int open(const std::string& working_directory);
    void close();
    State state() const { return state_; }
    bool is_writable() const { return state_ == State::writable; }
    std::uint32_t record_count() const { return static_cast<std::uint32_t>(bytes_.size() / ext_record::size); }

    // Side record i when it belongs to mac (a non-zero MAC); false otherwise.
    bool find(std::uint32_t i, const std::uint8_t* mac, ExtensionRecord& out) const;
    // The flags byte of side record i when it belongs to mac; 0 otherwise.
    std::uint8_t flags_of(std::uint32_t i, const std::uint8_t* mac) const;
    // Stores side record i and notes it for writing, with the records
    // between the end of the file and i as free records; written at once
    // unless `later`. False when the file is not writable, or (at once) the
    // write failed: then it stays noted.
    bool put(std::uint32_t i, const ExtensionRecord& r, bool later = false);
    // Frees side record i (all zero), when the file holds it, and notes it.
    bool free_record(std::uint32_t i, bool later = false);
    // Writes what is noted, in ascending order, neighbours together; true
    // when nothing awaits writing. A write cut short leaves no partial
    // record at the end of the file.
    bool flush();
    std::size_t unwritten_count() const { return pending_.size(); }

private:
    DbFile file_;
    State state_ = State::closed;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint32_t> pending_;  // records to write, ascending, each once
    void note(std::uint32_t first, std::uint32_t last);
};

}  // namespace tally
