// The short-lived holder of ID packets of unknown computers.
#include "server/intake/pending_ids.h"

#include <algorithm>

namespace tally {

namespace {

bool same_mac(const IdPacket& p, const std::uint8_t* mac) {
    return std::equal(mac, mac + 6, p.begin() + id_packet::mac.offset);
}

}  // namespace

void PendingIds::expire(std::uint32_t now) {
    // A clock that went back counts as expiry too: nothing is kept forever.
    while (!held_.empty() && (now - held_.front().received > lifetime_ || now < held_.front().received))
        held_.pop_front();
}

void PendingIds::hold(const std::uint8_t* id, std::uint32_t now) {
    if (capacity_ == 0) return;
    expire(now);
    const std::uint8_t* mac = id + id_packet::mac.offset;
    held_.erase(std::remove_if(held_.begin(), held_.end(), [mac](const Held& h) { return same_mac(h.packet, mac); }),
                held_.end());
    if (held_.size() == capacity_) held_.pop_front();
    Held h{now, {}};
    std::copy_n(id, id_packet::size, h.packet.begin());
    held_.push_back(h);
}

bool PendingIds::take(const std::uint8_t* mac, std::uint32_t now, IdPacket& out) {
    expire(now);
    auto it = std::find_if(held_.begin(), held_.end(), [mac](const Held& h) { return same_mac(h.packet, mac); });
    if (it == held_.end()) return false;
    out = it->packet;
    held_.erase(it);
    return true;
}

}  // namespace tally
