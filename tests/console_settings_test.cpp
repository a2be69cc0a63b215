// The live settings: registry value images, the port box (read as a Search
// page value box is) and the directory rule.
#include <gtest/gtest.h>

#include "server/console/settings.h"
#include "server/console/site_keys.h"
#include "server/model/search_page.h"
#include "test_support.h"

namespace tally {
namespace {

TEST(ServerPort, LowSixteenBitsAndZeroMeansTheDefault) {
    EXPECT_EQ(listening_port(0), 54333);  // a stored path without a stored port
    EXPECT_EQ(listening_port(1234), 1234);
    EXPECT_EQ(listening_port(70000), 4464);
    EXPECT_EQ(listening_port(65536), 54333);  // low half 0
    EXPECT_EQ(listening_port(0xABCD0016u), 0x16);
    EXPECT_EQ(port_box_text(0), "54333");
    EXPECT_EQ(port_box_text(4464), "4464");
}

// The port box and a Search page value box read their numbers alike; only
// the port box also takes tabs around its number.
TEST(NumberBoxes, UnsignedDecimalNumbersWithBlanksAround) {
    using Value = std::optional<std::uint32_t>;
    const struct {
        const char* text;
        Value port, search;
    } cases[] = {
        {"70000", 70000u, 70000u},
        {" 123 ", 123u, 123u},
        {"0", 0u, 0u},
        {"4294967295", 4294967295u, 4294967295u},
        {"\t8\t", 8u, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"   ", std::nullopt, std::nullopt},
        {"12a", std::nullopt, std::nullopt},
        {"-1", std::nullopt, std::nullopt},
        {"4294967296", std::nullopt, std::nullopt},
        {"99999999999999999999999", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_port_box(c.text), c.port) << "[" << c.text << "]";
        EXPECT_EQ(read_value(c.text), c.search) << "[" << c.text << "]";
    }
}

TEST(RegistryValues, PathImageAndReading) {
    const std::vector<std::uint8_t> image = path_value("C:\\Audit");
    ASSERT_EQ(image.size(), 255u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), "C:\\Audit");
    for (std::size_t k = 8; k < image.size(); ++k) ASSERT_EQ(image[k], 0) << k;
    EXPECT_EQ(path_from_value(image.data(), image.size()), "C:\\Audit");

    // 255 characters: no room for the terminator, read back whole and ended.
    const std::string longest(255, 'p');
    const std::vector<std::uint8_t> full = path_value(longest);
    ASSERT_EQ(full.size(), 255u);
    EXPECT_EQ(path_from_value(full.data(), full.size()), longest);
    // Fewer bytes than stored, or more than the value may have: cut at 255.
    const std::vector<std::uint8_t> more(300, 'q');
    EXPECT_EQ(path_from_value(more.data(), more.size()).size(), 255u);
    EXPECT_EQ(path_from_value(more.data(), 3), "qqq");
}

TEST(RegistryValues, PortImageAndReading) {
    EXPECT_EQ(port_value(54333), (std::vector<std::uint8_t>{0x3D, 0xD4}));
    EXPECT_EQ(port_value(0x12345678u), (std::vector<std::uint8_t>{0x78, 0x56}));
    const std::uint8_t two[] = {0x3D, 0xD4};
    EXPECT_EQ(port_cell_from_value(two, 2), 54333u);
    const std::uint8_t four[] = {0x16, 0x00, 0x01, 0x00};  // written by another tool
    EXPECT_EQ(port_cell_from_value(four, 4), 0x10016u);
    EXPECT_EQ(listening_port(port_cell_from_value(four, 4)), 0x16);
}

TEST(WorkingDirectory, OnlyWhatFitsTheRegistryValueWithItsTerminatorIsAccepted) {
    EXPECT_TRUE(directory_fits_registry(std::string(254, 'd')));
    EXPECT_FALSE(directory_fits_registry(std::string(255, 'd')));  // would be stored unterminated
    EXPECT_FALSE(directory_fits_registry(std::string(300, 'd')));
    // The longest accepted path survives the registry round trip unchanged.
    const std::vector<std::uint8_t> image = path_value(std::string(254, 'd'));
    EXPECT_EQ(path_from_value(image.data(), image.size()), std::string(254, 'd'));
}

TEST(WorkingDirectory, OneTrailingBackslashIsRemoved) {
    test::expect_each_text(strip_one_trailing_backslash, {
        {"C:\\", "C:"},
        {"D:\\Audit\\", "D:\\Audit"},
        {"D:\\Audit\\\\", "D:\\Audit\\"},
        {"D:\\Audit", "D:\\Audit"},
        {"", ""},
    });
}

SiteKey filled_key(std::uint8_t b) {
    SiteKey key;
    key.fill(b);
    return key;
}

TEST(SiteKeys, NewKeyKeepsThePreviousOneForTheChangeOver) {
    SigningSettings s;
    EXPECT_EQ(site_key_state_text(s.keys), "No site key: reports are not signed");
    change_site_key(s, filled_key(1), 1000);
    EXPECT_EQ(s.keys.current, filled_key(1));
    EXPECT_FALSE(s.keys.previous);  // the first key replaces none
    EXPECT_EQ(previous_key_text(s.keys, 1000), "");
    change_site_key(s, filled_key(2), 5000);
    EXPECT_EQ(s.keys.current, filled_key(2));
    EXPECT_EQ(s.keys.previous, filled_key(1));
    EXPECT_EQ(s.keys.previous_until, 5000 + 14 * 86400u);
    EXPECT_EQ(site_key_state_text(s.keys), "Site key " + key_id_text(key_id(filled_key(2))));
    const std::string until = previous_key_text(s.keys, 5000);
    EXPECT_EQ(until.rfind("Previous key accepted until ", 0), 0u) << until;
    EXPECT_NE(until.back(), '\n');
    EXPECT_EQ(previous_key_text(s.keys, 5000 + 14 * 86400u), "");
}

TEST(SiteKeys, RegistryImages) {
    test::FakeProtection protection;
    const auto sealed = seal_key(filled_key(7), protection);
    ASSERT_TRUE(sealed);
    EXPECT_NE(std::vector<std::uint8_t>(sealed->begin() + 1, sealed->end()), std::vector<std::uint8_t>(32, 7));
    EXPECT_EQ(unseal_key(*sealed, protection), filled_key(7));
    EXPECT_FALSE(unseal_key({}, protection));                          // no value
    EXPECT_FALSE(unseal_key({0xD9, 1, 2, 3}, protection));             // not 32 bytes
    EXPECT_FALSE(unseal_key({1, 2, 3}, protection));                   // not sealed here
    protection.refuse = true;
    EXPECT_FALSE(seal_key(filled_key(7), protection));
    EXPECT_FALSE(unseal_key(*sealed, protection));

    const auto until = time_value(0x0102030405060708ull);
    EXPECT_EQ(until, (std::vector<std::uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(time_from_value(until.data(), until.size()), 0x0102030405060708ull);
    EXPECT_EQ(time_from_value(until.data(), 4), 0u);
    const std::uint8_t refused = 0, accepted = 1;
    EXPECT_FALSE(accept_unsigned_from_value(&refused, 1));
    EXPECT_TRUE(accept_unsigned_from_value(&accepted, 1));
    EXPECT_TRUE(accept_unsigned_from_value(nullptr, 0));  // no value: accepted, as before
    EXPECT_EQ(rule_value(false), std::vector<std::uint8_t>{0});
    EXPECT_EQ(rule_value(true), std::vector<std::uint8_t>{1});
}

}  // namespace
}  // namespace tally

namespace tally {
namespace {

TEST(HistoryDays, RegistryValueAndBox) {
    const std::vector<std::pair<std::vector<std::uint8_t>, std::uint32_t>> values = {
        {{}, 400}, {{30}, 30}, {{0x10, 0x27}, 10000}, {{0, 0, 0, 0}, 400}, {{0xFF, 0xFF, 0xFF, 0xFF}, 400},
        {history_days_value(36500), 36500},
    };
    for (const auto& [bytes, days] : values) EXPECT_EQ(history_days_from_value(bytes.data(), bytes.size()), days);
    const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> boxes = {
        {"400", 400u}, {" 7 ", 7u}, {"0", std::nullopt}, {"36501", std::nullopt}, {"", std::nullopt}, {"1x", std::nullopt},
    };
    for (const auto& [text, days] : boxes) EXPECT_EQ(parse_history_days_box(text), days) << text;
}

}  // namespace
}  // namespace tally
