// ID and extension packets of computers the server does not know yet. An
// earlier client sends its ID packet before its hardware packet, and packets
// of one pass may overtake each other, so on a computer's first report the
// serial number, asset tag and system details would be lost (or land in a
// free record another computer may take). The intake keeps such a packet
// for a short time, bounded in count in total and per sender address (so
// that one host cannot push out another's), and applies it when that
// computer's hardware packet arrives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "protocol/ipv4.h"
#include "protocol/packets.h"

namespace tally {

enum class HeldKind : std::uint8_t { id, extension };
// A held packet's bytes: an ID packet in its first 64, or an extension packet.
using HeldPacket = std::array<std::uint8_t, ext_packet::size>;

class PendingIds {
public:
    static constexpr std::size_t default_capacity = 256;
    static constexpr std::size_t default_per_sender = 32;
    static constexpr std::uint32_t default_lifetime_seconds = 60;

    explicit PendingIds(std::size_t capacity = default_capacity,
                        std::uint32_t lifetime_seconds = default_lifetime_seconds,
                        std::size_t per_sender = default_per_sender)
        : capacity_(capacity), per_sender_(per_sender), lifetime_(lifetime_seconds) {}

    // Keeps the packet of this kind (its MAC in bytes 1-6; 64 bytes of an ID
    // packet, 320 of an extension packet) from `sender`, received at `now`
    // (seconds since 1970). A later packet of the same kind and MAC replaces
    // the earlier. A sender that holds its share drops its own oldest; when
    // the holder is full, the oldest packet of the sender holding most goes.
    void hold(HeldKind kind, const std::uint8_t* packet, const Ipv4& sender, std::uint32_t now);
    // Takes the packet of this kind held for mac, if one younger than the lifetime is.
    bool take(HeldKind kind, const std::uint8_t* mac, std::uint32_t now, HeldPacket& out);
    std::size_t size() const { return held_.size(); }

private:
    struct Held {
        std::uint32_t received;
        Ipv4 sender;
        HeldKind kind;
        HeldPacket packet;
    };
    void expire(std::uint32_t now);
    std::size_t held_from(const Ipv4& sender) const;
    // Drops the oldest packet of sender.
    void drop_oldest_of(const Ipv4& sender);

    std::size_t capacity_;
    std::size_t per_sender_;
    std::uint32_t lifetime_;
    std::deque<Held> held_;  // oldest first
};

}  // namespace tally
