// The site key, the signature block and the signed request.
#include "protocol/signing.h"

#include <cstring>

#include "protocol/crypto.h"

namespace tally {

namespace {

const char hex_digits[] = "0123456789ABCDEF";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string hex_text(const std::uint8_t* bytes, std::size_t size) {
    std::string text;
    text.reserve(2 * size);
    for (std::size_t k = 0; k < size; ++k) {
        text += hex_digits[bytes[k] >> 4];
        text += hex_digits[bytes[k] & 15];
    }
    return text;
}

Sha256 block_tag(const std::uint8_t* packet, std::size_t block_offset, const SiteKey& key) {
    return hmac_sha256(key.data(), key.size(), packet, block_offset + sig_block::tag.offset);
}

}  // namespace

KeyId key_id(const SiteKey& key) {
    const Sha256 hash = sha256(key.data(), key.size());
    KeyId id;
    std::memcpy(id.data(), hash.data(), id.size());
    return id;
}

std::optional<SiteKey> new_site_key() {
    SiteKey key;
    if (!random_bytes(key.data(), key.size())) return std::nullopt;
    return key;
}

std::string key_text(const SiteKey& key) { return hex_text(key.data(), key.size()); }

std::string key_id_text(const KeyId& id) { return hex_text(id.data(), id.size()); }

std::optional<SiteKey> parse_key_text(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    SiteKey key;
    if (e - b != 2 * key.size()) return std::nullopt;
    for (std::size_t k = 0; k < key.size(); ++k) {
        const int high = hex_value(text[b + 2 * k]), low = hex_value(text[b + 2 * k + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        key[k] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return key;
}

void sign_datagram(std::uint8_t* packet, std::size_t block_offset, const SiteKey& key, std::uint64_t now) {
    std::uint8_t* block = packet + block_offset;
    const KeyId id = key_id(key);
    std::memcpy(block + sig_block::key_id.offset, id.data(), id.size());
    put_u64(block, sig_block::time, now);
    const Sha256 tag = block_tag(packet, block_offset, key);
    std::memcpy(block + sig_block::tag.offset, tag.data(), tag.size());
}

KeyId signed_key_id(const std::uint8_t* packet, std::size_t block_offset) {
    KeyId id;
    std::memcpy(id.data(), packet + block_offset + sig_block::key_id.offset, id.size());
    return id;
}

std::uint64_t signed_time(const std::uint8_t* packet, std::size_t block_offset) {
    return get_u64(packet + block_offset, sig_block::time);
}

bool signature_verifies(const std::uint8_t* packet, std::size_t block_offset, const SiteKey& key) {
    if (signed_key_id(packet, block_offset) != key_id(key)) return false;
    const Sha256 tag = block_tag(packet, block_offset, key);
    return equal_in_constant_time(tag.data(), packet + block_offset + sig_block::tag.offset, tag.size());
}

bool within_signature_window(std::uint64_t signed_at, std::uint64_t now) {
    const std::uint64_t apart = signed_at > now ? signed_at - now : now - signed_at;
    return apart <= signature_window_seconds;
}

void sign_pass_datagram(std::vector<std::uint8_t>& d, std::size_t signed_part, const SiteKey& key,
                        std::uint64_t now) {
    d.resize(signed_part + sig_block::size);
    d[signed_pass::flags.offset] |= signed_pass::flag_signed;
    put_u32(d.data(), signed_pass::packet_size, static_cast<std::uint32_t>(d.size()));
    sign_datagram(d.data(), signed_part, key, now);
}

PassSignature pass_signature(const std::uint8_t* d, std::size_t size, std::size_t signed_part) {
    if (size <= signed_pass::flags.offset || (d[signed_pass::flags.offset] & signed_pass::flag_signed) == 0)
        return PassSignature::none;
    return size >= signed_part + sig_block::size ? PassSignature::present : PassSignature::cut_off;
}

const SiteKey* KeyRing::find(const KeyId& id, std::uint64_t now) const {
    if (current && key_id(*current) == id) return &*current;
    if (previous && now < previous_until && key_id(*previous) == id) return &*previous;
    return nullptr;
}

SignatureCheck check_signature(const std::uint8_t* packet, std::size_t block_offset, const KeyRing& keys,
                               std::uint64_t now, const SiteKey** used) {
    const SiteKey* key = keys.find(signed_key_id(packet, block_offset), now);
    if (!key) return SignatureCheck::unknown_key;
    if (!signature_verifies(packet, block_offset, *key)) return SignatureCheck::bad_tag;
    if (!within_signature_window(signed_time(packet, block_offset), now)) return SignatureCheck::outside_window;
    if (used) *used = key;
    return SignatureCheck::valid;
}

SignedRequestPacket encode_signed_request(const Mac& mac, Request request, const Nonce& nonce, const SiteKey& key,
                                          std::uint64_t now) {
    namespace sr = signed_request;
    SignedRequestPacket p{};
    put_u8(p.data(), sr::packet_type, sr::type);
    std::memcpy(p.data() + sr::mac.offset, mac.data(), mac.size());
    put_u8(p.data(), sr::request, request == Request::close ? sr::close : sr::update);
    put_u32(p.data(), sr::packet_size, static_cast<std::uint32_t>(sr::size));
    std::memcpy(p.data() + sr::nonce.offset, nonce.data(), nonce.size());
    sign_datagram(p.data(), sr::signature.offset, key, now);
    return p;
}

}  // namespace tally
