// Datagram intake: ID, hardware and software packets into the store.
#include "server/intake/intake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "protocol/manifest.h"

namespace tally {

namespace {

std::string with_address(const char* format, const Ipv4& sender) {
    char text[96];
    std::snprintf(text, sizeof text, format, format_ipv4(sender).c_str());
    return text;
}

// A datagram shorter than its kind is not an audit packet: the missing
// bytes would otherwise be read as data of this sender.
bool complete(std::uint8_t type, std::size_t size) {
    switch (type) {
        case packet_hardware: return size >= hw_packet::size;
        case packet_id: return size >= id_packet::size;
        case packet_list_start:
        case packet_list_continuation: return size >= sw_packet::items_offset;
        case packet_extension: return size >= ext_packet::size;
        default: return false;
    }
}

}  // namespace

void fill_record_from_packet(std::uint8_t* r, const std::uint8_t* p, const Ipv4& sender, std::uint32_t now) {
    namespace hr = hw_record;
    namespace hp = hw_packet;
    put_u32(r, hr::last_update, now);
    std::memcpy(r + hr::mac.offset, p + hp::mac.offset, 6);
    std::memcpy(r + hr::ip_address.offset, sender.data(), 4);
    copy_text(r, hr::computer_name, p + hp::computer_name.offset, hr::computer_name_chars);
    put_u8(r, hr::cpuid_levels, get_u8(p, hp::cpuid_levels));
    copy_text(r, hr::cpuid_response, p + hp::cpuid_response.offset, hp::cpuid_response.width);
    put_u32(r, hr::cpuid_code, get_u32(p, hp::cpuid_code));
    std::memcpy(r + hr::speed_mhz.offset, p + hp::speed_mhz.offset, 4);  // the float's bytes, unchanged
    // An earlier client leaves the MB extension zero: then the 32-bit byte
    // counts, which stop at 4 GB.
    const std::uint32_t ram_mb = get_u32(p, hp::ram_mb);
    const std::uint32_t pagefile_mb = get_u24(p, hp::pagefile_mb);
    put_u32(r, hr::ram_mb, ram_mb != 0 ? ram_mb : mb_from_32bit_bytes(get_u32(p, hp::ram_size)));
    put_u32(r, hr::pagefile_mb, pagefile_mb != 0 ? pagefile_mb : mb_from_32bit_bytes(get_u32(p, hp::pagefile_size)));
    put_u32(r, hr::windows_platform, get_u32(p, hp::windows_platform));
    put_u8(r, hr::windows_major, get_u8(p, hp::windows_major));
    put_u8(r, hr::windows_minor, get_u8(p, hp::windows_minor));
    put_u16(r, hr::windows_build, get_u16(p, hp::windows_build));
    put_u32(r, hr::bits_per_pixel, get_u32(p, hp::bits_per_pixel));
    put_u32(r, hr::video_width, get_u32(p, hp::video_width));
    put_u32(r, hr::video_height, get_u32(p, hp::video_height));
    put_u16(r, hr::refresh_rate, get_u16(p, hp::refresh_rate));
    put_u8(r, hr::interlaced, get_u8(p, hp::interlaced));
    for (std::size_t k = 0; k < hr::drive_letters.width; ++k) {
        const std::uint8_t letter = p[hp::drive_letters.offset + k];
        r[hr::drive_letters.offset + k] =
            letter >= 'a' && letter <= 'z' ? static_cast<std::uint8_t>(letter - 'a' + 'A') : letter;
    }
    std::memcpy(r + hr::drive_types.offset, p + hp::drive_types.offset, hr::drive_types.width);
    std::memcpy(r + hr::free_disk_space.offset, p + hp::free_disk_space.offset, hr::free_disk_space.width);
    std::memcpy(r + hr::total_disk_space.offset, p + hp::total_disk_space.offset, hr::total_disk_space.width);
    put_u32(r, hr::up_time, get_u32(p, hp::up_time));
    copy_text(r, hr::last_user, p + hp::last_user.offset, hr::last_user_chars);
}

Intake::Received Intake::receive_one(UdpSocket& socket) {
    ReceiveResult r = socket.receive(buffer_.data(), buffer_.size());
    if (!r.ok) {
        if (r.would_block) return Received::nothing;
        char text[32];
        std::snprintf(text, sizeof text, "Error %i", r.error);
        console_.set_status(text);
        return Received::failed;
    }
    socket_ = &socket;
    handle_datagram(buffer_.data(), r.size, r.sender, static_cast<std::uint32_t>(std::time(nullptr)), r.sender_port);
    socket_ = nullptr;
    return Received::datagram;
}

void Intake::receive_datagram(UdpSocket& socket) { receive_one(socket); }

IntakeRound Intake::take_waiting(UdpSocket& socket, std::size_t limit) {
    // While the server keeps up, one datagram a notification: the socket
    // posts the next notification itself when another waits, and looking
    // for more costs a receive that finds nothing, as dear as a real one.
    // A round that found more than one, and every few rounds in any case,
    // looks for more, so a backlog is taken in rounds of up to `limit`.
    const bool look = look_for_more_ || ++rounds_since_look_ >= rounds_between_looks;
    const std::size_t want = look ? limit : std::min<std::size_t>(limit, 1);
    IntakeRound round;
    while (round.taken < want && receive_one(socket) == Received::datagram) ++round.taken;
    if (look) {
        rounds_since_look_ = 0;
        look_for_more_ = round.taken >= 2;
        round.backlog = want >= 2 && round.taken == want;
    }
    return round;
}

void Intake::count(StatsCounter counter, std::uint32_t& value) {
    ++value;
    console_.show_counter(counter, value);
}

void Intake::handle_datagram(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                             std::uint16_t sender_port) {
    // Everything the datagram changed reaches the files before the next
    // datagram is taken, and before a receipt says that its pass is applied.
    {
        Store::WriteBatch batch(store_);
        expire_due(now);
        route_datagram(data, size, sender, now, sender_port);
    }
    send_receipts();
    after_datagram();
}

void Intake::expire_passes(std::uint32_t now) {
    {
        Store::WriteBatch batch(store_);
        expire_due(now);
    }
    after_datagram();
}

void Intake::after_datagram() {
    // What could not be written stays in memory and is tried again after
    // each datagram until the disk takes it.
    const std::size_t unwritten = store_.unwritten_count();
    if (unwritten != 0 || writes_pending_) console_.unwritten_changed(unwritten);
    writes_pending_ = unwritten != 0;
}

void Intake::dispatch_datagram(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                               bool of_signed_pass) {
    const std::uint8_t type = size > 0 ? data[0] : 0;
    if (!complete(type, size)) {
        console_.set_status("Unknown Packet Recieved");
        return;
    }
    // Every audit packet carries its computer's MAC at bytes 1-6. Outside a
    // signed pass it is unsigned.
    const Refusal refusal = of_signed_pass ? Refusal::none : check_unsigned(signing_, computer_signs(data + 1));
    if (refusal != Refusal::none) {
        refuse(refusal, sender);
        return;
    }
    if (observer_) observer_->datagram_arriving(type, data + hw_packet::mac.offset, now);
    switch (type) {
        case packet_id:
            handle_id_packet(data, sender, now);
            break;
        case packet_extension:
            handle_extension_packet(data, size, sender, now);
            break;
        case packet_hardware:
            handle_hardware_packet(data, sender, now);
            break;
        case packet_list_start:
            store_.release_entries(data + sw_packet::mac.offset);
            handle_software_packet(data, size, sender);
            break;
        case packet_list_continuation:
            handle_software_packet(data, size, sender);
            break;
    }
}

bool Intake::computer_signs(const std::uint8_t* mac) const {
    const auto found = store_.find_record(mac);
    return found && store_.holds_computer(*found) &&
           (store_.extension_flags(*found) & ext_record::flag_signs_reports) != 0;
}

void Intake::mark_signing(const std::uint8_t* mac) {
    const auto found = store_.find_record(mac);
    if (!found || !store_.holds_computer(*found) ||
        (store_.extension_flags(*found) & ext_record::flag_signs_reports) != 0)
        return;
    ExtensionRecord ext;
    if (!store_.extension(*found, ext)) std::copy_n(mac, 6, ext.mac.begin());
    ext.flags |= ext_record::flag_signs_reports;
    store_.store_extension(*found, ext);
}

void Intake::refuse(Refusal refusal, const Ipv4& sender) {
    count(StatsCounter::refused, refused_);
    console_.set_status(refused_text(refusal, sender));
}

void Intake::expire_due(std::uint32_t now) {
    Expired expired = passes_.expire(now);
    // The computer keeps its last complete data.
    for (std::size_t k = 0; k < expired.incomplete; ++k) count(StatsCounter::incomplete, incomplete_reports_);
    // No manifest came for these: applied as an earlier client's datagrams
    // (a pass too long for a manifest is sent without one).
    for (const Unannounced& u : expired.unannounced)
        dispatch_datagram(u.datagram.bytes.data(), u.datagram.bytes.size(), u.datagram.sender, now);
}

void Intake::route_datagram(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                            std::uint16_t sender_port) {
    const std::uint8_t type = size > 0 ? data[0] : 0;
    if (type == packet_manifest) {
        handle_manifest(data, size, sender, now, sender_port);
        return;
    }
    if (!complete(type, size)) {
        dispatch_datagram(data, size, sender, now);
        return;
    }
    // Every audit packet names its MAC Address in bytes 1-6. Datagrams of
    // computers that never sent a manifest are applied as they come.
    Mac mac{};
    std::copy_n(data + 1, mac.size(), mac.begin());
    if (!passes_.holds_for(mac) && !passes_.applied_any(mac) && !sends_manifests(mac)) {
        dispatch_datagram(data, size, sender, now);
        return;
    }
    const Digest digest = datagram_digest(data, size);
    if (HeldPass* pass = passes_.offer(mac, digest, data, size, sender)) {
        if (pass->complete()) apply_pass(*pass, now);
        return;
    }
    if (passes_.applied_digest(mac, digest, now)) return;  // a late repeat of an applied pass
    // Its manifest may have been lost and come again: held briefly.
    if (sends_manifests(mac)) {
        passes_.hold_unannounced(mac, digest, data, size, sender, now);
        return;
    }
    dispatch_datagram(data, size, sender, now);
}

void Intake::handle_manifest(const std::uint8_t* data, std::size_t size, const Ipv4& sender, std::uint32_t now,
                             std::uint16_t sender_port) {
    Manifest manifest;
    if (!decode_manifest(data, size, manifest)) {
        console_.set_status("Unknown Packet Recieved");  // the system's spelling, kept
        return;
    }
    std::optional<SiteKey> signed_with;
    if (!manifest_accepted(data, size, manifest, sender, now, signed_with)) return;
    mark_manifest_sender(manifest.mac);
    HeldPass* pass = passes_.find(manifest.mac, manifest.pass_id);
    // A pass is held signed or unsigned as its first manifest was; a repeat
    // of the other kind (a forgery with a copied identifier) changes nothing.
    if (pass && pass->signed_with.has_value() != signed_with.has_value()) {
        refuse(signed_with ? Refusal::bad_tag : Refusal::unsigned_after_signed, sender);
        return;
    }
    if (!pass) {
        if (passes_.was_applied(manifest.mac, manifest.pass_id, now)) {
            // Acknowledged again: the pass changes nothing a second time.
            queue_receipt(manifest.mac, manifest.pass_id, sender, sender_port, signed_with, now, true, {});
            return;
        }
        std::size_t dropped = 0;
        pass = &passes_.open(manifest, now, dropped);
        for (std::size_t k = 0; k < dropped; ++k) count(StatsCounter::incomplete, incomplete_reports_);
        pass->signed_with = signed_with;
    }
    pass->reply_to = sender;
    pass->reply_port = sender_port;
    if (pass->complete())
        apply_pass(*pass, now);
    else
        queue_receipt(manifest.mac, manifest.pass_id, sender, sender_port, signed_with, now, false, pass->missing());
}

bool Intake::manifest_accepted(const std::uint8_t* data, std::size_t size, const Manifest& manifest,
                               const Ipv4& sender, std::uint32_t now, std::optional<SiteKey>& signed_with) {
    const std::size_t signed_part = manifest_packet::digests_offset + 16 * manifest.digests.size();
    bool is_signed = false;
    const Refusal refusal =
        check_manifest(signing_, data, size, signed_part, computer_signs(manifest.mac.data()), now, is_signed);
    if (refusal != Refusal::none) {
        refuse(refusal, sender);
        return false;
    }
    if (is_signed) {
        const SiteKey* key = signing_.keys.find(signed_key_id(data, signed_part), now);
        if (key) signed_with = *key;
    }
    return true;
}

void Intake::apply_pass(HeldPass& pass, std::uint32_t now) {
    // In the order the client sent them: exactly what each would have done alone.
    const bool of_signed_pass = pass.signed_with.has_value();
    for (const HeldDatagram& d : pass.datagrams)
        dispatch_datagram(d.bytes.data(), d.bytes.size(), d.sender, now, of_signed_pass);
    const Mac mac = pass.manifest.mac;
    if (observer_) observer_->pass_applied(mac.data(), now);
    mark_manifest_sender(mac);
    // From now on this computer's unsigned datagrams are refused.
    if (of_signed_pass) mark_signing(mac.data());
    queue_receipt(mac, pass.manifest.pass_id, pass.reply_to, pass.reply_port, pass.signed_with, now, true, {});
    const std::size_t older = passes_.applied(pass, now);
    for (std::size_t k = 0; k < older; ++k) count(StatsCounter::incomplete, incomplete_reports_);
}

void Intake::queue_receipt(const Mac& mac, const PassId& id, const Ipv4& to, std::uint16_t port,
                           const std::optional<SiteKey>& signed_with, std::uint32_t now, bool applied,
                           std::vector<std::uint8_t> missing) {
    Receipt r;
    r.kind = applied ? receipt_applied : receipt_held;
    r.mac = mac;
    r.pass_id = id;
    r.missing = std::move(missing);
    const std::size_t signed_part = receipt_packet::positions_offset + r.missing.size();
    std::vector<std::uint8_t> bytes = encode_receipt(r);
    // The receipt of a signed pass is signed with the manifest's key.
    if (signed_with) sign_pass_datagram(bytes, signed_part, *signed_with, now);
    receipts_.push_back({to, port, std::move(bytes)});
}

void Intake::send_receipts() {
    for (const QueuedReceipt& q : receipts_) {
        if (replies_)
            replies_->reply(q.to, q.port, q.bytes.data(), q.bytes.size());
        else if (socket_)
            socket_->send_to(q.to, q.port, q.bytes.data(), q.bytes.size());  // result not checked: the client asks again
    }
    receipts_.clear();
}

bool Intake::sends_manifests(const Mac& mac) {
    const std::uint64_t key = HeldPasses::mac_key(mac);
    if (manifest_senders_.count(key)) return true;
    const std::optional<std::uint32_t> found = store_.find_record(mac.data());
    if (!found || !(store_.extension_flags(*found) & ext_flag_sends_manifests)) return false;
    manifest_senders_.insert(key);
    return true;
}

// Known at once; kept in the computer's extension record once it has a record.
void Intake::mark_manifest_sender(const Mac& mac) {
    manifest_senders_.insert(HeldPasses::mac_key(mac));
    const std::optional<std::uint32_t> found = store_.find_record(mac.data());
    if (!found || !store_.holds_computer(*found) || (store_.extension_flags(*found) & ext_flag_sends_manifests))
        return;
    ExtensionRecord ext;
    if (!store_.extension(*found, ext)) ext.mac = mac;
    ext.flags |= ext_flag_sends_manifests;
    store_.store_extension(*found, ext);
}

void apply_id_packet(std::uint8_t* record, const std::uint8_t* p) {
    if (p[id_packet::asset_tag.offset] != 0)
        copy_text(record, hw_record::asset_tag, p + id_packet::asset_tag.offset, hw_record::user_field_chars);
    if (p[id_packet::serial_number.offset] != 0)
        copy_text(record, hw_record::serial_number, p + id_packet::serial_number.offset, hw_record::user_field_chars);
}

void Intake::handle_id_packet(const std::uint8_t* p, const Ipv4& sender, std::uint32_t now) {
    count(StatsCounter::id, id_packets_);
    const std::uint8_t* mac = p + id_packet::mac.offset;
    auto found = store_.find_record(mac);
    if (!found || !store_.holds_computer(*found)) {
        // A computer without a record yet (an earlier client sends this
        // packet before its hardware packet): held until the hardware packet
        // comes, rather than written into a free record that another
        // computer may take.
        pending_ids_.hold(HeldKind::id, p, sender, now);
        return;
    }
    const std::uint32_t i = *found;
    std::uint8_t record[hw_record::size];
    std::memcpy(record, store_.record(i).bytes(), sizeof record);
    apply_id_packet(record, p);
    store_.replace_record(i, record);
    console_.record_changed(i, RecordChange::user_fields);
}

void Intake::complete_hardware_record(std::uint32_t i, const std::uint8_t* p, const Ipv4& sender,
                                      std::uint32_t now) {
    const std::uint8_t* mac = p + hw_packet::mac.offset;
    HeldPacket held{};
    if (pending_ids_.take(HeldKind::id, mac, now, held)) {
        std::uint8_t record[hw_record::size];
        std::memcpy(record, store_.record(i).bytes(), sizeof record);
        apply_id_packet(record, held.data());
        store_.replace_record(i, record);
    }
    if (pending_ids_.take(HeldKind::extension, mac, now, held)) file_extension(i, held.data(), sender, now);
    // The product type goes to the extension record, written only when it
    // changes; another computer's extension record at i is replaced.
    const std::uint8_t product_type = get_u8(p, hw_packet::product_type);
    if (product_type == 0) return;
    ExtensionRecord ext;
    if (store_.extension(i, ext) && ext.product_type == product_type) return;
    std::copy_n(mac, 6, ext.mac.begin());
    ext.product_type = product_type;
    store_.store_extension(i, ext);
}

void Intake::handle_hardware_packet(const std::uint8_t* p, const Ipv4& sender, std::uint32_t now) {
    count(StatsCounter::hardware, hardware_packets_);
    std::uint8_t record[hw_record::size];
    auto found = store_.find_record(p + hw_packet::mac.offset);
    if (found) {
        const std::uint32_t i = *found;
        console_.set_status(with_address("Updating hardware record for %s", sender));
        std::memcpy(record, store_.record(i).bytes(), sizeof record);
        fill_record_from_packet(record, p, sender, now);
        store_.replace_record(i, record);
        complete_hardware_record(i, p, sender, now);
        console_.record_changed(i, RecordChange::hardware);
        return;
    }
    // A new computer.
    std::memset(record, 0, sizeof record);
    fill_record_from_packet(record, p, sender, now);
    const std::optional<std::uint32_t> added = store_.add_record(record);
    if (!added) {
        console_.datagram_dropped(DropReason::out_of_memory);
        return;
    }
    complete_hardware_record(*added, p, sender, now);
    console_.set_status(with_address("Adding hardware record for %s", sender));
    console_.record_changed(*added, RecordChange::hardware);
}

void Intake::handle_extension_packet(const std::uint8_t* p, std::size_t size, const Ipv4& sender,
                                     std::uint32_t now) {
    const std::uint8_t* mac = p + ext_packet::mac.offset;
    const auto found = store_.find_record(mac);
    if (!found || !store_.holds_computer(*found)) {
        // A computer without a record yet (this packet overtook its hardware
        // packet): held as an ID packet is. Only the fields read are kept.
        console_.set_status(with_address("System details received from %s", sender));
        if (size >= ext_packet::size) pending_ids_.hold(HeldKind::extension, p, sender, now);
        return;
    }
    file_extension(*found, p, sender, now);
}

void Intake::file_extension(std::uint32_t i, const std::uint8_t* p, const Ipv4& sender, std::uint32_t now) {
    ExtensionRecord ext;
    Mac mac{};
    if (!decode_extension_packet(p, ext_packet::size, mac, ext.facts)) return;
    if (!store_.extension_writable()) {
        console_.set_status(with_address(extension_not_kept_format, sender));
        return;
    }
    console_.set_status(with_address("System details received from %s", sender));
    ExtensionRecord stored;
    if (store_.extension(i, stored)) {
        ext.product_type = stored.product_type;
        ext.flags = stored.flags;
    }
    ext.mac = mac;
    ext.last_update = now;
    store_.store_extension(i, ext);
    console_.record_changed(i, RecordChange::user_fields);
}

void Intake::handle_software_packet(const std::uint8_t* p, std::size_t size, const Ipv4& sender) {
    count(StatsCounter::software, software_packets_);
    console_.set_status(with_address("Software listing packet recieved from %s", sender));
    SoftwareItemReader reader(p, size);
    SoftwareItem item;
    const std::uint8_t* mac = p + sw_packet::mac.offset;
    while (reader.next(item)) {
        item.texts_into(item_name_, item_version_);
        const AddResult added = store_.add_entry(mac, item_name_, item_version_);
        if (added == AddResult::added) continue;
        // No retry for each further item: the rest of the datagram goes.
        console_.datagram_dropped(added == AddResult::no_memory ? DropReason::out_of_memory : DropReason::list_full);
        break;
    }
    const std::optional<std::uint32_t> found = store_.find_record(mac);
    if (found && store_.holds_computer(*found)) console_.record_changed(*found, RecordChange::software);
}

}  // namespace tally
