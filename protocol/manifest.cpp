// Pass manifest and receipt: digests, encoders and bounded decoders.
#include "protocol/manifest.h"

#include <algorithm>

#include "protocol/crypto.h"

namespace tally {

Digest datagram_digest(const std::uint8_t* data, std::size_t size) {
    const Sha256 full = sha256(data, size);
    Digest d{};
    std::copy_n(full.begin(), d.size(), d.begin());
    return d;
}

namespace {

// The packet size field, the header fields and the flags' signature block:
// false when the datagram is shorter than what it announces.
bool header_within(const std::uint8_t* data, std::size_t size, std::size_t body, std::size_t& announced) {
    if (size < manifest_packet::digests_offset) return false;
    announced = get_u32(data + manifest_packet::packet_size.offset);
    std::size_t needed = manifest_packet::digests_offset + body;
    if (data[manifest_packet::flags.offset] & flag_signed) needed += signature_block_size;
    return needed <= size && needed <= announced;
}

}  // namespace

std::vector<std::uint8_t> encode_manifest(const Manifest& m) {
    namespace mp = manifest_packet;
    std::vector<std::uint8_t> out(mp::digests_offset + 16 * m.digests.size(), 0);
    out[0] = packet_manifest;
    std::copy(m.mac.begin(), m.mac.end(), out.begin() + mp::mac.offset);
    out[mp::flags.offset] = m.flags;
    put_u32(out.data() + mp::packet_size.offset, static_cast<std::uint32_t>(out.size()));
    std::copy(m.pass_id.begin(), m.pass_id.end(), out.begin() + mp::pass_id.offset);
    out[mp::count.offset] = static_cast<std::uint8_t>(m.digests.size());
    for (std::size_t k = 0; k < m.digests.size(); ++k)
        std::copy(m.digests[k].begin(), m.digests[k].end(), out.begin() + mp::digests_offset + 16 * k);
    return out;
}

bool decode_manifest(const std::uint8_t* data, std::size_t size, Manifest& out) {
    namespace mp = manifest_packet;
    if (size < mp::digests_offset || data[0] != packet_manifest) return false;
    const std::size_t n = data[mp::count.offset];
    std::size_t announced = 0;
    if (n == 0 || n > max_pass_datagrams || !header_within(data, size, 16 * n, announced)) return false;
    std::copy_n(data + mp::mac.offset, 6, out.mac.begin());
    out.flags = data[mp::flags.offset];
    std::copy_n(data + mp::pass_id.offset, 16, out.pass_id.begin());
    out.digests.resize(n);
    for (std::size_t k = 0; k < n; ++k) std::copy_n(data + mp::digests_offset + 16 * k, 16, out.digests[k].begin());
    return true;
}

std::vector<std::uint8_t> encode_receipt(const Receipt& r) {
    namespace rp = receipt_packet;
    const std::size_t m = r.kind == receipt_applied ? 0 : std::min<std::size_t>(r.missing.size(), 255);
    std::vector<std::uint8_t> out(rp::positions_offset + m, 0);
    out[0] = r.kind;
    std::copy(r.mac.begin(), r.mac.end(), out.begin() + rp::mac.offset);
    out[rp::flags.offset] = r.flags;
    put_u32(out.data() + rp::packet_size.offset, static_cast<std::uint32_t>(out.size()));
    std::copy(r.pass_id.begin(), r.pass_id.end(), out.begin() + rp::pass_id.offset);
    out[rp::missing_count.offset] = static_cast<std::uint8_t>(m);
    std::copy_n(r.missing.begin(), m, out.begin() + rp::positions_offset);
    return out;
}

bool decode_receipt(const std::uint8_t* data, std::size_t size, Receipt& out) {
    namespace rp = receipt_packet;
    if (size < rp::positions_offset || (data[0] != receipt_applied && data[0] != receipt_held)) return false;
    const std::size_t m = data[rp::missing_count.offset];
    std::size_t announced = 0;
    if (!header_within(data, size, m, announced)) return false;
    out.kind = data[0];
    std::copy_n(data + rp::mac.offset, 6, out.mac.begin());
    out.flags = data[rp::flags.offset];
    std::copy_n(data + rp::pass_id.offset, 16, out.pass_id.begin());
    out.missing.assign(data + rp::positions_offset, data + rp::positions_offset + m);
    return true;
}

}  // namespace tally
