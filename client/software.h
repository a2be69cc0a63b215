// The software list of one scan: packing the uninstall entries into
// software packets (list start, then continuations) with the flush rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "protocol/packets.h"

namespace tally::client {

// Room the scan gives one registry value: longer values do not fit.
constexpr std::size_t value_room = 255;
// After an item, a fill of this many bytes or more sends the packet.
constexpr std::size_t flush_fill = 1205;

// One registry value as read: its raw bytes and the registry's byte count.
struct RegistryValue {
    bool present = false;  // read, and at most value_room bytes
    std::array<std::uint8_t, value_room> bytes{};
    std::size_t size = 0;
};

// Builds the software packets of one scan in a 1500-byte buffer and hands
// each finished packet to `send`. The first carries the list start lead
// byte, every later one the continuation lead byte, all the same MAC.
class SoftwarePacker {
public:
    using Send = std::function<void(const std::uint8_t* data, std::size_t size)>;
    SoftwarePacker(const Mac& mac, Send send);

    // Adds one program. Skipped (false) when the name is not present; a
    // version that is not present leaves the item without one. A value of
    // size 0 goes out as the empty text (length 1, one NUL), because a
    // length byte of 0 would end the server's reading of the packet.
    // When the item might not fit into the buffer, the packet is sent
    // first; after the item, a fill of 1205 or more sends it.
    bool add(const RegistryValue& name, const RegistryValue& version);
    // Sends what is left (when the packet holds an item).
    void finish();

    std::size_t fill() const { return fill_; }

private:
    void send_packet();
    void put_element(std::uint8_t tag, const RegistryValue& v);

    std::array<std::uint8_t, max_software_packet> buffer_{};
    std::size_t fill_ = sw_packet::items_offset;
    Send send_;
};

// The uninstall entries as the platform enumerates them.
class UninstallEntries {
public:
    virtual ~UninstallEntries() = default;
    // Opens the uninstall key (every view the platform has); false when
    // none can be opened.
    virtual bool open() = 0;
    // Reads the next subkey's "DisplayName" and "DisplayVersion"; false at
    // the end of the list. A subkey that cannot be opened gives two values
    // that are not present.
    virtual bool next(RegistryValue& name, RegistryValue& version) = 0;
    virtual void close() = 0;
};

// Scans the entries and sends the list; false when the uninstall key
// cannot be opened (then nothing is sent).
bool scan_software(UninstallEntries& entries, const Mac& mac, const SoftwarePacker::Send& send);

}  // namespace tally::client
