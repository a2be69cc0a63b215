// The MAC hash: every byte of the MAC reaches the buckets, in 64 and in 32
// bits, and the seed changes them.
#include "server/store/mac_hash.h"

#include <gtest/gtest.h>

#include <set>

#include "protocol/bytes.h"

namespace tally {
namespace {

// Distinct low 8 bits (the bucket of a small table) among the 256 MACs that
// differ only in byte `b`, from a base that one maker's computers share.
template <typename Hash>
std::size_t buckets_when_byte_varies(int b, Hash hash) {
    std::set<std::uint32_t> buckets;
    for (int v = 0; v < 256; ++v) {
        std::uint8_t mac[6] = {0x00, 0x50, 0x02, 0x07, 0x10, 0x20};
        mac[b] = static_cast<std::uint8_t>(v);
        buckets.insert(static_cast<std::uint32_t>(hash(mac_key(mac)) & 0xFF));
    }
    return buckets.size();
}

TEST(MacHash, EveryByteSpreadsInBothWidths) {
    const std::uint64_t seed = 0x1234567890abcdefull;
    for (int b = 0; b < 6; ++b) {
        // 256 keys into 256 buckets spread at random fill about 162.
        EXPECT_GT(buckets_when_byte_varies(b, [&](std::uint64_t k) { return mix_mac_key64(k, seed); }), 140u) << b;
        EXPECT_GT(buckets_when_byte_varies(b, [&](std::uint64_t k) { return mix_mac_key32(k, seed); }), 140u) << b;
        // The high half of the 32-bit result too.
        EXPECT_GT(buckets_when_byte_varies(b, [&](std::uint64_t k) { return mix_mac_key32(k, seed) >> 24; }), 140u) << b;
    }
    // MACs that share their first four bytes stay apart in 32 bits.
    std::set<std::uint32_t> hashes;
    for (int v = 0; v < 4096; ++v) {
        const std::uint8_t mac[6] = {0x00, 0x50, 0x02, 0x01, std::uint8_t(v >> 8), std::uint8_t(v)};
        hashes.insert(mix_mac_key32(mac_key(mac), seed));
    }
    EXPECT_EQ(hashes.size(), 4096u);
    EXPECT_NE(mix_mac_key32(1, seed), mix_mac_key32(1, seed + 1)) << "the seed counts";
    EXPECT_EQ(MacHash{}.seed, mac_hash_seed()) << "one seed for the run";
}

}  // namespace
}  // namespace tally
