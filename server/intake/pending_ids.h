// ID packets of computers the server does not know yet. An earlier client
// sends its ID packet before its hardware packet, so on a computer's first
// report the serial number and asset tag would be lost (or land in a free
// record another computer may take). The intake keeps such a packet for a
// short time, bounded in count, and applies it when that computer's
// hardware packet arrives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "protocol/packets.h"

namespace tally {

class PendingIds {
public:
    static constexpr std::size_t default_capacity = 256;
    static constexpr std::uint32_t default_lifetime_seconds = 60;

    explicit PendingIds(std::size_t capacity = default_capacity,
                        std::uint32_t lifetime_seconds = default_lifetime_seconds)
        : capacity_(capacity), lifetime_(lifetime_seconds) {}

    // Keeps the 64-byte ID packet (its MAC in bytes 1-6), received at `now`
    // (seconds since 1970). A later packet of the same MAC replaces the
    // earlier; when the holder is full, the oldest packet is dropped.
    void hold(const std::uint8_t* id_packet, std::uint32_t now);
    // Takes the packet held for mac, if one younger than the lifetime is.
    bool take(const std::uint8_t* mac, std::uint32_t now, IdPacket& out);
    std::size_t size() const { return held_.size(); }

private:
    struct Held {
        std::uint32_t received;
        IdPacket packet;
    };
    void expire(std::uint32_t now);

    std::size_t capacity_;
    std::uint32_t lifetime_;
    std::deque<Held> held_;  // oldest first
};

}  // namespace tally
