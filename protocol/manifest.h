// The pass manifest (client to server: the digests of every datagram of one
// audit pass) and the receipt (server to client: applied, or held with the
// positions still missing). One declaration of each layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/packets.h"

namespace tally {

constexpr std::uint8_t packet_manifest = 0x4D;        // 'M'
constexpr std::uint8_t receipt_applied = 0x41;        // 'A'
constexpr std::uint8_t receipt_held = 0x4E;           // 'N'
constexpr std::size_t max_pass_datagrams = 80;
constexpr std::size_t signature_block_size = 44;      // key id 4, time 8, HMAC-SHA-256 32
constexpr std::uint8_t flag_signed = 0x01;

// A datagram's digest: the first 16 bytes of the SHA-256 of all its bytes.
using Digest = std::array<std::uint8_t, 16>;
using PassId = std::array<std::uint8_t, 16>;
Digest datagram_digest(const std::uint8_t* data, std::size_t size);

// The 32-byte head the manifest and the receipt share: type, MAC Address,
// flags, size, the pass's id and how many digests (manifest) or missing
// positions (receipt) follow it.
namespace pass_head {
constexpr Field packet_type{0, 1};
constexpr Field mac{1, 6};
constexpr Field flags{7, 1};
constexpr Field packet_size{8, 4};
constexpr Field pass_id{12, 16};
constexpr Field count{28, 1};
constexpr Field reserved{29, 3};
constexpr std::size_t size = 32;
constexpr Field fields[] = {packet_type, mac, flags, packet_size, pass_id, count, reserved};
}  // namespace pass_head
static_assert(layout_is_sound(pass_head::fields, pass_head::size), "pass head layout");

namespace manifest_packet {
using namespace pass_head;
constexpr std::size_t digests_offset = pass_head::size;
}  // namespace manifest_packet

namespace receipt_packet {
using namespace pass_head;
constexpr Field missing_count = pass_head::count;
constexpr std::size_t positions_offset = pass_head::size;
}  // namespace receipt_packet
static_assert(receipt_packet::positions_offset > update_request_size, "a receipt is never taken for a request");

struct Manifest {
    Mac mac{};
    std::uint8_t flags = 0;
    PassId pass_id{};
    std::vector<Digest> digests;
};

struct Receipt {
    std::uint8_t kind = 0;  // receipt_applied or receipt_held
    Mac mac{};
    std::uint8_t flags = 0;
    PassId pass_id{};
    std::vector<std::uint8_t> missing;  // positions in the manifest's list
};

// Builds a manifest without signature block; 1 to 80 digests.
std::vector<std::uint8_t> encode_manifest(const Manifest& m);
// Reads a manifest of `size` bytes: false unless it starts with 'M', lists
// 1 to 80 digests and holds them (and the signature block its flag
// announces) within both `size` and its packet size.
bool decode_manifest(const std::uint8_t* data, std::size_t size, Manifest& out);

// Builds a receipt without signature block ('A' carries no positions).
std::vector<std::uint8_t> encode_receipt(const Receipt& r);
// Reads a receipt of `size` bytes: false unless it starts with 'A' or 'N'
// and holds its positions within both `size` and its packet size.
bool decode_receipt(const std::uint8_t* data, std::size_t size, Receipt& out);

}  // namespace tally
