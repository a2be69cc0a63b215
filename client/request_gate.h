// What a resident client obeys: without a site key, today's 13- and 12-byte
// requests from the server's address; with one, only signed requests that
// verify with it, are fresh, were not seen before and are meant for it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/packets.h"
#include "protocol/signing.h"
#include "protocol/udp.h"

namespace tally::client {

class RequestGate {
public:
    explicit RequestGate(std::optional<SiteKey> key = std::nullopt) : key_(key) {}

    bool has_key() const { return key_.has_value(); }
    const std::optional<SiteKey>& key() const { return key_; }
    // The MAC Address the last pass reported: a signed request names it.
    void set_own_mac(const Mac& mac) { mac_ = mac; }

    // The request a received datagram (data: its received bytes) makes at
    // time now (seconds since 1970), or Request::none.
    Request classify(const std::uint8_t* data, const ReceiveResult& received, const Ipv4& server, std::uint64_t now);

private:
    Request classify_signed(const std::uint8_t* data, std::size_t size, std::uint64_t now);
    // True when the nonce was taken within the replay memory; else it is
    // remembered now. The oldest is forgotten first when the memory is full.
    bool seen_before(const Nonce& nonce, std::uint64_t now);

    struct Seen {
        Nonce nonce{};
        std::uint64_t at = 0;
    };
    // A server sends a few requests an hour to one client: 64 cover far more
    // than the replay memory's ten minutes.
    static constexpr std::size_t nonce_memory = 64;

    std::optional<SiteKey> key_;
    Mac mac_{};
    std::array<Seen, nonce_memory> seen_{};
    std::size_t seen_count_ = 0;
    std::size_t next_seen_ = 0;
};

}  // namespace tally::client
