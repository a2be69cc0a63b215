// The holder of ID and extension packets of unknown computers: lifetime,
// bounds in total and per sender, replacement and taking.
#include "server/intake/pending_ids.h"

#include <gtest/gtest.h>

namespace tally {
namespace {

IdPacket id_for(std::uint32_t k, const char* serial) {
    return encode_id_packet({2, 0, 0, std::uint8_t(k >> 16), std::uint8_t(k >> 8), std::uint8_t(k)}, "", serial);
}

std::string serial_taken(PendingIds& p, std::uint32_t k, std::uint32_t now) {
    HeldPacket out{};
    const Mac mac{2, 0, 0, std::uint8_t(k >> 16), std::uint8_t(k >> 8), std::uint8_t(k)};
    if (!p.take(HeldKind::id, mac.data(), now, out)) return "-";
    return get_text(out.data(), id_packet::serial_number);
}

const Ipv4 host_a{10, 0, 0, 1}, host_b{10, 0, 0, 2};

TEST(PendingIds, HeldForAShortTimeBoundedInCount) {
    PendingIds p(3, 60, 3);
    p.hold(HeldKind::id, id_for(1, "A").data(), host_a, 1000);
    p.hold(HeldKind::id, id_for(1, "B").data(), host_a, 1001);  // replaces
    EXPECT_EQ(p.size(), 1u);
    EXPECT_EQ(serial_taken(p, 1, 1060), "B");
    EXPECT_EQ(serial_taken(p, 1, 1060), "-") << "taken once";

    p.hold(HeldKind::id, id_for(2, "C").data(), host_a, 2000);
    EXPECT_EQ(serial_taken(p, 2, 2061), "-") << "expired";
    p.hold(HeldKind::id, id_for(2, "C").data(), host_a, 3000);
    EXPECT_EQ(serial_taken(p, 2, 2999), "-") << "a clock that went back";

    for (std::uint8_t k = 10; k < 14; ++k) p.hold(HeldKind::id, id_for(k, "D").data(), host_a, 4000);
    EXPECT_EQ(p.size(), 3u);
    EXPECT_EQ(serial_taken(p, 10, 4000), "-") << "the oldest dropped";
    EXPECT_EQ(serial_taken(p, 13, 4000), "D");

    // An extension packet of the same MAC is held beside its ID packet.
    const ExtensionPacket ext = encode_extension_packet({2, 0, 0, 0, 0, 13}, SystemFacts{"CPU", "M", "X", "S", "E", "V"});
    p.hold(HeldKind::extension, ext.data(), host_a, 4000);
    HeldPacket out{};
    const Mac mac{2, 0, 0, 0, 0, 13};
    ASSERT_TRUE(p.take(HeldKind::extension, mac.data(), 4000, out));
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), std::vector<std::uint8_t>(ext.begin(), ext.end()));

    PendingIds none(0, 60);
    none.hold(HeldKind::id, id_for(1, "A").data(), host_a, 1);
    EXPECT_EQ(none.size(), 0u);
}

// One host's flood of unknown packets pushes out only its own.
TEST(PendingIds, EachSenderWithinItsShare) {
    const struct {
        const char* what;
        std::size_t capacity, per_sender;
        int flood;  // packets host B sends after host A's four
        bool a_kept;
    } cases[] = {
        {"a flood within the share and the room", 256, 32, 20, true},
        {"a flood beyond its share", 256, 32, 500, true},
        {"a flood beyond the room, share as large", 64, 64, 500, true},
        {"no flood", 8, 8, 0, true},
    };
    for (const auto& c : cases) {
        PendingIds p(c.capacity, 60, c.per_sender);
        for (std::uint32_t k = 0; k < 4; ++k) p.hold(HeldKind::id, id_for(k, "A").data(), host_a, 100);
        for (int k = 0; k < c.flood; ++k) p.hold(HeldKind::id, id_for(1000u + k, "B").data(), host_b, 100);
        EXPECT_LE(p.size(), c.capacity) << c.what;
        for (std::uint32_t k = 0; k < 4; ++k) EXPECT_EQ(serial_taken(p, k, 101) == "A", c.a_kept) << c.what << k;
        if (c.flood > 0) {
            EXPECT_EQ(serial_taken(p, 1000u + c.flood - 1, 101), "B") << c.what << ": the latest kept";
        }
    }
}

}  // namespace
}  // namespace tally
