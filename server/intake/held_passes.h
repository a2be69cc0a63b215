// Audit passes held until complete: the datagrams a pass manifest announces,
// kept by position until every one is there; datagrams of manifest senders
// that no held pass announces (yet); and the digests of recently applied
// passes, so that a late repeat changes nothing. Bounded in count and bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <optional>
#include <vector>

#include "protocol/ipv4.h"
#include "protocol/manifest.h"
#include "protocol/signing.h"

namespace tally {

// How long a pass is held waiting for its datagrams, a datagram waits for
// the manifest that may announce it, and an applied pass is remembered.
constexpr std::uint32_t held_pass_seconds = 10;
constexpr std::uint32_t unannounced_seconds = 3;
constexpr std::uint32_t applied_pass_seconds = 600;
// Bounds: passes held at once, and the bytes of every held datagram.
constexpr std::size_t max_held_passes = 4096;
constexpr std::size_t max_held_bytes = 8u << 20;
constexpr std::size_t max_applied_passes = 65536;

// One datagram as it arrived.
struct HeldDatagram {
    std::vector<std::uint8_t> bytes;  // empty: still missing
    Ipv4 sender{};
};

struct HeldPass {
    Manifest manifest;
    std::vector<HeldDatagram> datagrams;  // one per listed digest
    std::size_t present = 0;
    std::uint32_t opened = 0;
    std::uint64_t order = 0;               // opening order: later passes higher
    Ipv4 reply_to{};                       // where the last manifest came from
    std::uint16_t reply_port = 0;
    // The key that signed the manifest (its receipts are signed with it);
    // none for an unsigned pass.
    std::optional<SiteKey> signed_with;
    bool complete() const { return present == datagrams.size(); }
    std::vector<std::uint8_t> missing() const;
};

struct Unannounced {
    Mac mac{};
    Digest digest{};
    HeldDatagram datagram;
    std::uint32_t arrived = 0;
};

// What expiry set free.
struct Expired {
    std::size_t incomplete = 0;            // held passes dropped whole
    std::vector<Unannounced> unannounced;  // waited long enough for a manifest, oldest first
};

class HeldPasses {
public:
    using PassRef = std::list<HeldPass>::iterator;

    // The held pass of this MAC and identifier, or nullptr.
    HeldPass* find(const Mac& mac, const PassId& id);
    // Opens a held pass for the manifest, dropping the oldest passes while
    // the bounds are exceeded (their count is added to `dropped`); takes
    // over the unannounced datagrams of the MAC that the manifest lists.
    HeldPass& open(const Manifest& manifest, std::uint32_t now, std::size_t& dropped);
    // Files a datagram of mac into a held pass of that MAC that lists its
    // digest; the pass, or nullptr when none lists it. A repeat of a held
    // datagram changes nothing.
    HeldPass* offer(const Mac& mac, const Digest& digest, const std::uint8_t* data, std::size_t size,
                    const Ipv4& sender);
    // Holds a datagram no pass announces; false when it is a repeat of one held.
    bool hold_unannounced(const Mac& mac, const Digest& digest, const std::uint8_t* data, std::size_t size,
                          const Ipv4& sender, std::uint32_t now);
    bool holds_for(const Mac& mac) const { return by_mac_.count(mac_key(mac)) != 0; }

    // Forgets a pass (applied) and remembers its identifier and digests.
    // The computer's older passes still held are dropped too (applied later,
    // they would put older data over newer); returns how many.
    std::size_t applied(HeldPass& pass, std::uint32_t now);
    bool was_applied(const Mac& mac, const PassId& id, std::uint32_t now) const;
    // True when a recently applied pass of mac lists the digest.
    bool applied_digest(const Mac& mac, const Digest& digest, std::uint32_t now) const;
    bool applied_any(const Mac& mac) const { return applied_.count(mac_key(mac)) != 0; }

    // Drops passes held too long and hands out unannounced datagrams that
    // waited long enough (or overflowed the bounds); passes dropped for the
    // bytes bound since are counted with the expired ones.
    Expired expire(std::uint32_t now);

    std::size_t pass_count() const { return passes_.size(); }
    std::size_t held_bytes() const { return bytes_; }

    static std::uint64_t mac_key(const Mac& mac);

private:
    struct AppliedPass {
        PassId id{};
        std::vector<Digest> digests;
        std::uint32_t applied = 0;
    };
    void erase(PassRef pass);
    // Drops the oldest passes but `keep` while the held bytes exceed their bound.
    void trim_to_bounds(const HeldPass* keep);
    void trim_applied(std::uint32_t now);

    std::list<HeldPass> passes_;  // oldest first
    std::unordered_multimap<std::uint64_t, PassRef> by_mac_;
    std::list<Unannounced> unannounced_;  // oldest first
    std::unordered_map<std::uint64_t, std::vector<AppliedPass>> applied_;
    std::size_t bytes_ = 0;
    std::size_t overflowed_ = 0;  // passes dropped for the bytes bound, not yet reported
    std::uint64_t opened_ = 0;    // passes opened so far
};

}  // namespace tally
