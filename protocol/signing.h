// The site key and what it signs: the key identifier, the key's text form,
// the 44-byte signature block that ends a signed datagram, the keys a server
// accepts during a change-over, and the signed request a server sends to a
// resident client.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/packets.h"

namespace tally {

// 256 random bits shared by the server and the computers of the site.
using SiteKey = std::array<std::uint8_t, 32>;
// The first 4 bytes of SHA-256 of the key's 32 bytes, so that both sides
// derive it alike and a receiver can tell two valid keys apart.
using KeyId = std::array<std::uint8_t, 4>;
KeyId key_id(const SiteKey& key);

// A fresh key from the system's random generator; nothing when it fails.
std::optional<SiteKey> new_site_key();
// The key as Group Policy holds it: 64 upper-case hexadecimal digits.
std::string key_text(const SiteKey& key);
// 64 hexadecimal digits of either case, blanks around them allowed.
std::optional<SiteKey> parse_key_text(const std::string& text);
// The identifier as 8 upper-case hexadecimal digits, for the settings dialog.
std::string key_id_text(const KeyId& id);

// Signature block: after the bytes it signs, at a place each datagram's
// layout names. The tag is HMAC-SHA-256 with the site key over every byte of
// the datagram before the tag, the block's key identifier and time included.
namespace sig_block {
constexpr std::size_t size = 44;
constexpr Field key_id{0, 4};
constexpr Field time{4, 8};  // seconds since 1970 by the signer's clock
constexpr Field tag{12, 32};
constexpr Field fields[] = {key_id, time, tag};
}  // namespace sig_block
static_assert(layout_is_sound(sig_block::fields, sig_block::size) && sig_block::tag.end() == sig_block::size,
              "signature block layout");

// How far a signer's clock may lie from the receiver's, either way.
constexpr std::uint64_t signature_window_seconds = 5 * 60;
// How long a receiver remembers what it took, against replays: twice the
// window, as a datagram signed at the window's edge stays valid that long.
constexpr std::uint64_t replay_memory_seconds = 10 * 60;

// Writes the block at packet + block_offset (44 bytes of room): the key's
// identifier, the time and the tag over packet[0 .. block_offset + 12).
void sign_datagram(std::uint8_t* packet, std::size_t block_offset, const SiteKey& key, std::uint64_t now);
// Whether the block at packet + block_offset names this key and its tag is
// the key's over the bytes before it (compared in constant time).
bool signature_verifies(const std::uint8_t* packet, std::size_t block_offset, const SiteKey& key);
KeyId signed_key_id(const std::uint8_t* packet, std::size_t block_offset);
std::uint64_t signed_time(const std::uint8_t* packet, std::size_t block_offset);
bool within_signature_window(std::uint64_t signed_at, std::uint64_t now);

// Pass manifests and receipts carry flag bit 0 of byte 7 when a signature
// block follows their signed part (the digests of a manifest, the missing
// positions of a receipt), and their packet size at byte 8 counts it.
namespace signed_pass {
constexpr Field flags{7, 1};
constexpr Field packet_size{8, 4};
constexpr std::uint8_t flag_signed = 0x01;
}  // namespace signed_pass
// Appends the block after the first signed_part bytes of d (anything beyond
// them is dropped), sets the flag and the packet size.
void sign_pass_datagram(std::vector<std::uint8_t>& d, std::size_t signed_part, const SiteKey& key,
                        std::uint64_t now);
// Whether a manifest or receipt of `size` bytes says it is signed, and
// whether its block lies inside it.
enum class PassSignature { none, present, cut_off };
PassSignature pass_signature(const std::uint8_t* d, std::size_t size, std::size_t signed_part);

// The keys a server accepts: its current key and, during a change-over, the
// previous one until a time.
struct KeyRing {
    std::optional<SiteKey> current;
    std::optional<SiteKey> previous;
    std::uint64_t previous_until = 0;  // seconds since 1970; the previous key counts before it

    bool has_key() const { return current.has_value(); }
    // The accepted key with this identifier at time now, or nullptr.
    const SiteKey* find(const KeyId& id, std::uint64_t now) const;
};

// The verdict on a signed datagram, in the order the checks run.
enum class SignatureCheck { valid, unknown_key, bad_tag, outside_window };
// Checks the block at packet + block_offset against the accepted keys and
// the receiver's clock. `used` gets the key that verified, if any.
SignatureCheck check_signature(const std::uint8_t* packet, std::size_t block_offset, const KeyRing& keys,
                               std::uint64_t now, const SiteKey** used = nullptr);

// Signed request, server to a resident client's port P+1: 72 bytes, never 12
// or 13, so no client takes it for an earlier request; an earlier client
// receives it into 20 bytes and discards it.
namespace signed_request {
constexpr std::size_t size = 72;
constexpr std::uint8_t type = 0x51;  // 'Q'
constexpr Field packet_type{0, 1};
constexpr Field mac{1, 6};           // the computer the request is for; all zero: any
constexpr Field request{7, 1};
constexpr Field packet_size{8, 4};
constexpr Field nonce{12, 16};       // random, so that no two requests are alike
constexpr Field signature{28, sig_block::size};
constexpr Field fields[] = {packet_type, mac, request, packet_size, nonce, signature};
constexpr std::uint8_t update = 1;
constexpr std::uint8_t close = 2;
}  // namespace signed_request
static_assert(layout_is_sound(signed_request::fields, signed_request::size) &&
                  signed_request::signature.end() == signed_request::size &&
                  signed_request::signature.offset + sig_block::tag.offset == 40,
              "signed request layout: the tag covers bytes 0-39");

using Nonce = std::array<std::uint8_t, 16>;
using SignedRequestPacket = std::array<std::uint8_t, signed_request::size>;
// Request::update or Request::close for mac, signed with the key at time now.
SignedRequestPacket encode_signed_request(const Mac& mac, Request request, const Nonce& nonce, const SiteKey& key,
                                          std::uint64_t now);

}  // namespace tally
