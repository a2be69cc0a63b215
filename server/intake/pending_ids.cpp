// The short-lived holder of ID and extension packets of unknown computers.
#include "server/intake/pending_ids.h"

#include <algorithm>

namespace tally {

namespace {

bool same_mac(const HeldPacket& p, const std::uint8_t* mac) { return std::equal(mac, mac + 6, p.begin() + 1); }

std::size_t packet_size(HeldKind kind) { return kind == HeldKind::id ? id_packet::size : ext_packet::size; }

}  // namespace

void PendingIds::expire(std::uint32_t now) {
    // A clock that went back counts as expiry too: nothing is kept forever.
    while (!held_.empty() && (now - held_.front().received > lifetime_ || now < held_.front().received))
        held_.pop_front();
}

std::size_t PendingIds::held_from(const Ipv4& sender) const {
    return static_cast<std::size_t>(
        std::count_if(held_.begin(), held_.end(), [&](const Held& h) { return h.sender == sender; }));
}

void PendingIds::drop_oldest_of(const Ipv4& sender) {
    const auto it = std::find_if(held_.begin(), held_.end(), [&](const Held& h) { return h.sender == sender; });
    if (it != held_.end()) held_.erase(it);
}

void PendingIds::hold(HeldKind kind, const std::uint8_t* packet, const Ipv4& sender, std::uint32_t now) {
    if (capacity_ == 0 || per_sender_ == 0) return;
    expire(now);
    const std::uint8_t* mac = packet + 1;
    held_.erase(std::remove_if(held_.begin(), held_.end(),
                               [&](const Held& h) { return h.kind == kind && same_mac(h.packet, mac); }),
                held_.end());
    if (held_from(sender) >= per_sender_) {
        drop_oldest_of(sender);
    } else if (held_.size() >= capacity_) {
        // The sender holding most gives way (the oldest of them on a tie).
        Ipv4 most = held_.front().sender;
        std::size_t most_count = 0;
        for (const Held& h : held_) {
            const std::size_t n = held_from(h.sender);
            if (n > most_count) most = h.sender, most_count = n;
        }
        drop_oldest_of(most);
    }
    Held h{now, sender, kind, {}};
    std::copy_n(packet, packet_size(kind), h.packet.begin());
    held_.push_back(h);
}

bool PendingIds::take(HeldKind kind, const std::uint8_t* mac, std::uint32_t now, HeldPacket& out) {
    expire(now);
    const auto it = std::find_if(held_.begin(), held_.end(),
                                 [&](const Held& h) { return h.kind == kind && same_mac(h.packet, mac); });
    if (it == held_.end()) return false;
    out = it->packet;
    held_.erase(it);
    return true;
}

}  // namespace tally
