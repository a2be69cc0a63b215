// The server's verdicts on signed and unsigned pass manifests, under each
// setting, for computers that sign and that do not.
#include <gtest/gtest.h>

#include <vector>

#include "server/intake/signing_rules.h"

namespace tally {
namespace {

constexpr std::uint64_t now = 1800000000;
constexpr std::size_t signed_part = 32 + 16 * 3;

SiteKey key_of(std::uint8_t b) {
    SiteKey k;
    k.fill(b);
    return k;
}

std::vector<std::uint8_t> manifest(const SiteKey* key, std::uint64_t at = now) {
    std::vector<std::uint8_t> m(signed_part, 0x33);
    m[0] = 'M';
    m[7] = 0;
    m[28] = 3;
    if (key) sign_pass_datagram(m, signed_part, *key, at);
    return m;
}

TEST(SigningRules, ManifestVerdicts) {
    const SiteKey current = key_of(1), previous = key_of(2), stranger = key_of(3);
    SigningSettings open, strict;
    open.keys.current = strict.keys.current = current;
    open.keys.previous = strict.keys.previous = previous;
    open.keys.previous_until = strict.keys.previous_until = now + 1;
    strict.accept_unsigned = false;
    auto changed = manifest(&current);
    changed[40] ^= 1;  // a digest
    auto cut = manifest(&current);
    cut.pop_back();
    struct Case {
        const char* name;
        std::vector<std::uint8_t> m;
        const SigningSettings& settings;
        bool computer_signs;
        Refusal refusal;
        bool is_signed;
    } cases[] = {
        {"valid, current key", manifest(&current), strict, true, Refusal::none, true},
        {"valid, previous key in the change-over", manifest(&previous), strict, false, Refusal::none, true},
        {"a digest changed", changed, open, false, Refusal::bad_tag, true},
        {"block cut off", cut, open, false, Refusal::bad_tag, true},
        {"wrong key", manifest(&stranger), open, false, Refusal::unknown_key, true},
        {"signed 6 minutes ago", manifest(&current, now - 360), open, false, Refusal::outside_window, true},
        {"unsigned, accepted", manifest(nullptr), open, false, Refusal::none, false},
        {"unsigned, refused", manifest(nullptr), strict, false, Refusal::unsigned_report, false},
        {"unsigned from a computer that signs", manifest(nullptr), open, true, Refusal::unsigned_after_signed, false},
    };
    for (const Case& c : cases) {
        bool is_signed = !c.is_signed;
        EXPECT_EQ(check_manifest(c.settings, c.m.data(), c.m.size(), signed_part, c.computer_signs, now, is_signed),
                  c.refusal)
            << c.name;
        EXPECT_EQ(is_signed, c.is_signed) << c.name;
    }
    bool is_signed = false;
    const auto after = manifest(&previous, now + 1);
    EXPECT_EQ(check_manifest(open, after.data(), after.size(), signed_part, false, now + 1, is_signed),
              Refusal::unknown_key)
        << "previous key after the change-over";
    EXPECT_EQ(refused_text(Refusal::bad_tag, Ipv4{127, 0, 0, 77}),
              "Refused packet from 127.0.0.77: its signature does not verify");
}

}  // namespace
}  // namespace tally
