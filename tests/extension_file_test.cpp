// The side file of extension records: layout, the MAC guard, gaps and
// reloading.
#include "server/store/extension_file.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace tally {
namespace {

ExtensionRecord sample(std::uint8_t last_mac_byte) {
    ExtensionRecord r;
    r.mac = {2, 0, 0, 0, 0, last_mac_byte};
    r.product_type = 3;
    r.last_update = 0x01020304;
    r.facts.processor_name = std::string(60, 'P');
    r.facts.manufacturer = "Maker";
    r.facts.model = "Model 9";
    r.facts.bios_serial = "BIOS-1";
    r.facts.windows_edition = "ServerStandard";
    r.facts.display_version = "24H2";
    return r;
}

TEST(ExtensionFile, RecordLayout) {
    std::uint8_t b[ext_record::size];
    encode_extension_record(sample(7), b);
    EXPECT_EQ(b[5], 7);
    EXPECT_EQ(b[6], 3);
    EXPECT_EQ(b[7], 0);
    EXPECT_EQ(get_u32(b + 8), 0x01020304u);
    const struct {
        std::size_t offset;
        const char* text;
    } texts[] = {{64, "Maker"}, {128, "Model 9"}, {192, "BIOS-1"}, {256, "ServerStandard"}, {288, "24H2"}};
    for (const auto& t : texts) EXPECT_STREQ(reinterpret_cast<const char*>(b + t.offset), t.text) << t.offset;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 12)), std::string(48, 'P'));
    for (std::size_t i = 304; i < ext_record::size; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(decode_extension_record(b).facts.model, "Model 9");
}

TEST(ExtensionFile, SameIndexMacGuardGapsAndReload) {
    test::TempDir dir;
    {
        ExtensionFile f;
        ASSERT_EQ(f.open(dir.path()), 0);
        EXPECT_EQ(f.record_count(), 0u);
        ASSERT_TRUE(f.put(2, sample(2)));  // records 0 and 1 written free
        EXPECT_EQ(test::read_file(dir.file(extension_file_name)).size(), 3 * ext_record::size);
        ExtensionRecord r;
        EXPECT_TRUE(f.find(2, sample(2).mac.data(), r));
        EXPECT_EQ(r.facts.bios_serial, "BIOS-1");
        EXPECT_FALSE(f.find(2, sample(3).mac.data(), r)) << "another computer's record";
        EXPECT_FALSE(f.find(1, Mac{}.data(), r)) << "a free record belongs to nobody";
        EXPECT_FALSE(f.find(9, sample(2).mac.data(), r)) << "beyond the file";
        ASSERT_TRUE(f.put(0, sample(0)));
        ASSERT_TRUE(f.free_record(2));
        EXPECT_FALSE(f.find(2, sample(2).mac.data(), r));
        EXPECT_TRUE(f.free_record(40)) << "nothing to free";
    }
    // A partial record at the end (a crash mid-write) is left out on load.
    std::vector<std::uint8_t> bytes = test::read_file(dir.file(extension_file_name));
    bytes.resize(bytes.size() + 100, 0xEE);
    test::write_file(dir.file(extension_file_name), bytes);
    ExtensionFile again;
    ASSERT_EQ(again.open(dir.path()), 0);
    EXPECT_EQ(again.record_count(), 3u);
    ExtensionRecord r;
    EXPECT_TRUE(again.find(0, sample(0).mac.data(), r));
    EXPECT_EQ(r.product_type, 3);
    ASSERT_TRUE(again.put(3, sample(3)));  // replaces the partial record
    EXPECT_EQ(test::read_file(dir.file(extension_file_name)).size(), 4 * ext_record::size);
}

}  // namespace
}  // namespace tally
