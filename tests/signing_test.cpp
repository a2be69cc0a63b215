// The site key and the signature block: key identifier and text form, every
// signed byte, the keys of a change-over, the time window; the signed request
// and the resident client's rules with and without a key.
#include <gtest/gtest.h>

#include <vector>

#include "client/request_gate.h"
#include "protocol/crypto.h"
#include "protocol/signing.h"

namespace tally {
namespace {

SiteKey key_of(std::uint8_t fill) {
    SiteKey key;
    for (std::size_t k = 0; k < key.size(); ++k) key[k] = static_cast<std::uint8_t>(fill + k);
    return key;
}

constexpr std::uint64_t now = 1800000000;

TEST(SiteKey, IdentifierIsTheStartOfItsHashAndTheTextRoundTrips) {
    const SiteKey key = key_of(1);
    const Sha256 hash = sha256(key.data(), key.size());
    EXPECT_EQ(key_id(key), (KeyId{hash[0], hash[1], hash[2], hash[3]}));
    const std::string text = key_text(key);
    EXPECT_EQ(text.substr(0, 8), "01020304");
    EXPECT_EQ(text.size(), 64u);
    EXPECT_EQ(parse_key_text(text), key);
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(parse_key_text("  " + lower + "\t"), key);
    for (const std::string& bad : std::vector<std::string>{text.substr(1), text + "0", text.substr(0, 63) + "G", std::string()})
        EXPECT_FALSE(parse_key_text(bad)) << bad;
    const auto a = new_site_key(), b = new_site_key();
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
}

// A datagram of 60 bytes with its block at 16.
std::vector<std::uint8_t> signed_sample(const SiteKey& key, std::uint64_t at) {
    std::vector<std::uint8_t> d(16 + sig_block::size);
    for (std::size_t k = 0; k < 16; ++k) d[k] = static_cast<std::uint8_t>(0x40 + k);
    sign_datagram(d.data(), 16, key, at);
    return d;
}

TEST(SignatureBlock, EveryByteBeforeTheTagIsSignedAndAnyChangeIsRefused) {
    const SiteKey key = key_of(1);
    const auto d = signed_sample(key, now);
    EXPECT_EQ(signed_time(d.data(), 16), now);
    EXPECT_EQ(signed_key_id(d.data(), 16), key_id(key));
    EXPECT_TRUE(signature_verifies(d.data(), 16, key));
    EXPECT_FALSE(signature_verifies(d.data(), 16, key_of(2)));
    for (std::size_t k = 0; k < d.size(); ++k) {
        auto changed = d;
        changed[k] ^= 0x01;
        EXPECT_FALSE(signature_verifies(changed.data(), 16, key)) << "byte " << k;
    }
}

TEST(SignatureBlock, KeysOfAChangeOverAndTheTimeWindow) {
    const SiteKey current = key_of(1), previous = key_of(2), stranger = key_of(3);
    KeyRing ring;
    ring.current = current;
    ring.previous = previous;
    ring.previous_until = now + 100;
    struct Case {
        const char* name;
        SiteKey signer;
        std::uint64_t signed_at, checked_at;
        SignatureCheck verdict;
    } cases[] = {
        {"current key", current, now, now, SignatureCheck::valid},
        {"previous key during the change-over", previous, now + 99, now + 99, SignatureCheck::valid},
        {"previous key after the change-over", previous, now + 100, now + 100, SignatureCheck::unknown_key},
        {"a key the server never had", stranger, now, now, SignatureCheck::unknown_key},
        {"clock 5 minutes behind", current, now - 300, now, SignatureCheck::valid},
        {"clock 5 minutes ahead", current, now + 300, now, SignatureCheck::valid},
        {"clock a second beyond, behind", current, now - 301, now, SignatureCheck::outside_window},
        {"clock a second beyond, ahead", current, now + 301, now, SignatureCheck::outside_window},
    };
    for (const Case& c : cases) {
        const auto d = signed_sample(c.signer, c.signed_at);
        EXPECT_EQ(check_signature(d.data(), 16, ring, c.checked_at), c.verdict) << c.name;
    }
    // The right identifier with a tag made by another key.
    auto forged = signed_sample(stranger, now);
    const KeyId id = key_id(current);
    std::copy(id.begin(), id.end(), forged.begin() + 16);
    EXPECT_EQ(check_signature(forged.data(), 16, ring, now), SignatureCheck::bad_tag);
    EXPECT_EQ(check_signature(forged.data(), 16, KeyRing{}, now), SignatureCheck::unknown_key);
}

TEST(SignatureBlock, PassDatagramsSayTheyAreSignedAndCountTheBlock) {
    std::vector<std::uint8_t> manifest(32 + 16 * 2, 0x11);
    manifest[7] = 0;
    EXPECT_EQ(pass_signature(manifest.data(), manifest.size(), manifest.size()), PassSignature::none);
    const std::size_t signed_part = manifest.size();
    manifest.push_back(0xEE);  // bytes beyond the signed part are not sent on
    sign_pass_datagram(manifest, signed_part, key_of(1), now);
    ASSERT_EQ(manifest.size(), signed_part + 44);
    EXPECT_EQ(manifest[7], 1);
    EXPECT_EQ(get_u32(manifest.data() + 8), signed_part + 44);
    EXPECT_EQ(pass_signature(manifest.data(), manifest.size(), signed_part), PassSignature::present);
    EXPECT_TRUE(signature_verifies(manifest.data(), signed_part, key_of(1)));
    EXPECT_EQ(pass_signature(manifest.data(), manifest.size() - 1, signed_part), PassSignature::cut_off);
}

const Ipv4 server_ip{10, 0, 0, 5};
const Ipv4 other_ip{10, 0, 0, 6};
const Mac own_mac{2, 0, 0, 0, 0, 1};

ReceiveResult received(std::size_t size, const Ipv4& from) {
    ReceiveResult r;
    r.ok = true;
    r.size = size;
    r.sender = from;
    return r;
}

Request offer(client::RequestGate& gate, const std::vector<std::uint8_t>& d, const Ipv4& from,
              std::uint64_t at = now) {
    return gate.classify(d.data(), received(d.size(), from), server_ip, at);
}

std::vector<std::uint8_t> request_bytes(Request r, const SiteKey& key, std::uint8_t nonce_fill,
                                        const Mac& mac = own_mac, std::uint64_t at = now) {
    Nonce nonce;
    nonce.fill(nonce_fill);
    const SignedRequestPacket p = encode_signed_request(mac, r, nonce, key, at);
    return std::vector<std::uint8_t>(p.begin(), p.end());
}

TEST(SignedRequest, Layout) {
    const auto d = request_bytes(Request::close, key_of(1), 7);
    ASSERT_EQ(d.size(), 72u);
    EXPECT_EQ(d[0], 'Q');
    EXPECT_EQ(std::vector<std::uint8_t>(d.begin() + 1, d.begin() + 7), std::vector<std::uint8_t>(own_mac.begin(), own_mac.end()));
    EXPECT_EQ(d[7], 2);
    EXPECT_EQ(get_u32(d.data() + 8), 72u);
    EXPECT_EQ(d[12], 7);
    EXPECT_EQ(get_u64(d.data() + 32), now);
    const Sha256 tag = hmac_sha256(key_of(1).data(), 32, d.data(), 40);
    EXPECT_TRUE(std::equal(tag.begin(), tag.end(), d.begin() + 40));
    EXPECT_EQ(request_bytes(Request::update, key_of(1), 7)[7], 1);
}

TEST(RequestGate, ClientWithoutAKeyObeysTodaysRequestsOnly) {
    client::RequestGate gate;
    gate.set_own_mac(own_mac);
    const std::vector<std::uint8_t> update(13, 'u'), close(12, 'c');
    EXPECT_EQ(offer(gate, update, server_ip), Request::update);
    EXPECT_EQ(offer(gate, close, server_ip), Request::close);
    EXPECT_EQ(offer(gate, update, other_ip), Request::none);
    EXPECT_EQ(offer(gate, request_bytes(Request::close, key_of(1), 1), server_ip), Request::none);
}

TEST(RequestGate, ClientWithAKeyObeysFreshSignedRequestsForItOnly) {
    const SiteKey key = key_of(1);
    client::RequestGate gate(key);
    gate.set_own_mac(own_mac);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> datagram;
        Ipv4 from;
        std::uint64_t at;
        Request expected;
    } cases[] = {
        {"13 bytes from the server", std::vector<std::uint8_t>(13, 'u'), server_ip, now, Request::none},
        {"12 bytes from the server", std::vector<std::uint8_t>(12, 'c'), server_ip, now, Request::none},
        {"signed update", request_bytes(Request::update, key, 1), server_ip, now, Request::update},
        {"the same update again", request_bytes(Request::update, key, 1), server_ip, now + 60, Request::none},
        {"signed close, sent from elsewhere", request_bytes(Request::close, key, 2), other_ip, now, Request::close},
        {"for any computer", request_bytes(Request::update, key, 3, Mac{}), server_ip, now, Request::update},
        {"for another computer", request_bytes(Request::update, key, 4, Mac{2, 0, 0, 0, 0, 9}), server_ip, now,
         Request::none},
        {"another key", request_bytes(Request::close, key_of(2), 5), server_ip, now, Request::none},
        {"signed 6 minutes ago", request_bytes(Request::close, key, 6, own_mac, now - 360), server_ip, now,
         Request::none},
        {"signed 6 minutes ahead", request_bytes(Request::close, key, 7, own_mac, now + 360), server_ip, now,
         Request::none},
        {"a nonce forgotten after ten minutes", request_bytes(Request::update, key, 1, own_mac, now + 601), server_ip,
         now + 601, Request::update},
    };
    for (const Case& c : cases) EXPECT_EQ(offer(gate, c.datagram, c.from, c.at), c.expected) << c.name;

    auto changed = request_bytes(Request::update, key, 8);
    changed[7] = 2;  // update turned into close
    EXPECT_EQ(offer(gate, changed, server_ip), Request::none);
    auto longer = request_bytes(Request::update, key, 9);
    longer.push_back(0);
    EXPECT_EQ(offer(gate, longer, server_ip), Request::none);
}

TEST(RequestGate, ReplayMemoryIsBoundedAndKeepsTheNewest) {
    const SiteKey key = key_of(1);
    client::RequestGate gate(key);
    gate.set_own_mac(own_mac);
    for (int k = 0; k < 200; ++k)
        ASSERT_EQ(offer(gate, request_bytes(Request::update, key, static_cast<std::uint8_t>(k)), server_ip, now),
                  Request::update);
    EXPECT_EQ(offer(gate, request_bytes(Request::update, key, 199), server_ip, now), Request::none);
    EXPECT_EQ(offer(gate, request_bytes(Request::update, key, 150), server_ip, now), Request::none);
}

}  // namespace
}  // namespace tally
