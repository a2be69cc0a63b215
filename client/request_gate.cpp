// The resident client's request rules, with and without a site key.
#include "client/request_gate.h"

#include <cstring>

namespace tally::client {

Request RequestGate::classify(const std::uint8_t* data, const ReceiveResult& received, const Ipv4& server,
                              std::uint64_t now) {
    if (!received.ok) return Request::none;
    // Without a key the client behaves as every earlier one: the length and
    // the sender's address decide, the content is never looked at.
    if (!key_) return classify_request(received.size, received.sender == server);
    return classify_signed(data, received.size, now);
}

Request RequestGate::classify_signed(const std::uint8_t* data, std::size_t size, std::uint64_t now) {
    namespace sr = signed_request;
    if (size != sr::size || data[0] != sr::type || get_u32(data, sr::packet_size) != sr::size) return Request::none;
    const std::uint8_t request = get_u8(data, sr::request);
    if (request != sr::update && request != sr::close) return Request::none;
    static const Mac any{};
    if (std::memcmp(data + sr::mac.offset, mac_.data(), mac_.size()) != 0 &&
        std::memcmp(data + sr::mac.offset, any.data(), any.size()) != 0)
        return Request::none;
    if (!signature_verifies(data, sr::signature.offset, *key_) ||
        !within_signature_window(signed_time(data, sr::signature.offset), now))
        return Request::none;
    Nonce nonce;
    std::memcpy(nonce.data(), data + sr::nonce.offset, nonce.size());
    // Checked last, so that only requests that verify take a place.
    if (seen_before(nonce, now)) return Request::none;
    return request == sr::close ? Request::close : Request::update;
}

bool RequestGate::seen_before(const Nonce& nonce, std::uint64_t now) {
    for (std::size_t k = 0; k < seen_count_; ++k)
        if (seen_[k].nonce == nonce && now < seen_[k].at + replay_memory_seconds) return true;
    seen_[next_seen_] = Seen{nonce, now};
    next_seen_ = (next_seen_ + 1) % nonce_memory;
    if (seen_count_ < nonce_memory) ++seen_count_;
    return false;
}

}  // namespace tally::client
