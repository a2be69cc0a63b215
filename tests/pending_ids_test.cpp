// The holder of ID packets of unknown computers: lifetime, count bound,
// replacement and taking.
#include "server/intake/pending_ids.h"

#include <gtest/gtest.h>

namespace tally {
namespace {

IdPacket id_for(std::uint8_t k, const char* serial) { return encode_id_packet({2, 0, 0, 0, 0, k}, "", serial); }

std::string serial_taken(PendingIds& p, std::uint8_t k, std::uint32_t now) {
    IdPacket out{};
    const Mac mac{2, 0, 0, 0, 0, k};
    if (!p.take(mac.data(), now, out)) return "-";
    return get_text(out.data(), id_packet::serial_number);
}

TEST(PendingIds, HeldForAShortTimeBoundedInCount) {
    PendingIds p(3, 60);
    p.hold(id_for(1, "A").data(), 1000);
    p.hold(id_for(1, "B").data(), 1001);  // replaces
    EXPECT_EQ(p.size(), 1u);
    EXPECT_EQ(serial_taken(p, 1, 1060), "B");
    EXPECT_EQ(serial_taken(p, 1, 1060), "-") << "taken once";

    p.hold(id_for(2, "C").data(), 2000);
    EXPECT_EQ(serial_taken(p, 2, 2061), "-") << "expired";
    p.hold(id_for(2, "C").data(), 3000);
    EXPECT_EQ(serial_taken(p, 2, 2999), "-") << "a clock that went back";

    for (std::uint8_t k = 10; k < 14; ++k) p.hold(id_for(k, "D").data(), 4000);
    EXPECT_EQ(p.size(), 3u);
    EXPECT_EQ(serial_taken(p, 10, 4000), "-") << "the oldest dropped";
    EXPECT_EQ(serial_taken(p, 13, 4000), "D");

    PendingIds none(0, 60);
    none.hold(id_for(1, "A").data(), 1);
    EXPECT_EQ(none.size(), 0u);
}

}  // namespace
}  // namespace tally
