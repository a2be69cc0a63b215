// Packing of the software list into software packets.
#include "client/software.h"

#include <algorithm>

namespace tally::client {

namespace {

// Bytes an element takes in the packet: tag, length and the value (the
// empty text for a value of size 0).
std::size_t element_size(const RegistryValue& v) { return 2 + std::max<std::size_t>(v.size, 1); }

}  // namespace

SoftwarePacker::SoftwarePacker(const Mac& mac, Send send) : send_(std::move(send)) {
    buffer_[0] = packet_list_start;
    std::copy(mac.begin(), mac.end(), buffer_.begin() + sw_packet::mac.offset);
}

void SoftwarePacker::put_element(std::uint8_t tag, const RegistryValue& v) {
    buffer_[fill_] = tag;
    if (v.size == 0) {
        buffer_[fill_ + 1] = 1;
        buffer_[fill_ + 2] = 0;
    } else {
        buffer_[fill_ + 1] = static_cast<std::uint8_t>(v.size);
        std::copy_n(v.bytes.begin(), v.size, buffer_.begin() + fill_ + 2);
    }
    fill_ += element_size(v);
}

bool SoftwarePacker::add(const RegistryValue& name, const RegistryValue& version) {
    if (!name.present || name.size > value_room) return false;
    const bool with_version = version.present && version.size <= value_room;
    std::size_t need = element_size(name) + (with_version ? element_size(version) : 0);
    if (fill_ + need > buffer_.size()) send_packet();
    put_element(sw_packet::name_tag, name);
    if (with_version) put_element(sw_packet::version_tag, version);
    if (fill_ >= flush_fill) send_packet();
    return true;
}

void SoftwarePacker::finish() {
    if (fill_ > sw_packet::items_offset) send_packet();
}

void SoftwarePacker::send_packet() {
    send_(buffer_.data(), fill_);
    fill_ = sw_packet::items_offset;
    buffer_[0] = packet_list_continuation;
}

bool scan_software(UninstallEntries& entries, const Mac& mac, const SoftwarePacker::Send& send) {
    if (!entries.open()) return false;
    SoftwarePacker packer(mac, send);
    RegistryValue name, version;
    while (entries.next(name, version)) packer.add(name, version);
    packer.finish();
    entries.close();
    return true;
}

}  // namespace tally::client
