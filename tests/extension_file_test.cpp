// The side file of extension records: layout, the MAC guard, gaps and
// reloading.
#include "server/store/extension_file.h"

#include <gtest/gtest.h>

#include <filesystem>

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

// A side file that cannot be written: its facts shown, nothing new kept;
// one whose writes fail for a while: what was stored waits and is written
// by the next flush.
TEST(ExtensionFile, ReadOnlyAndFailingWrites) {
    test::TempDir dir;
    {
        ExtensionFile f;
        ASSERT_EQ(f.open(dir.path()), 0);
        ASSERT_TRUE(f.put(1, sample(1)));
    }
    test::Unchangeable locked(dir.file(extension_file_name));
    if (!locked.made()) GTEST_SKIP() << "no chattr here";
    ExtensionFile f;
    ASSERT_EQ(f.open(dir.path()), 0);
    EXPECT_EQ(f.state(), ExtensionFile::State::read_only);
    ExtensionRecord r;
    EXPECT_TRUE(f.find(1, sample(1).mac.data(), r)) << "the stored facts are shown";
    EXPECT_FALSE(f.put(0, sample(0)));
    EXPECT_FALSE(f.find(0, sample(0).mac.data(), r)) << "new facts are not kept";
    EXPECT_EQ(f.unwritten_count(), 0u);
    locked.release();

    ExtensionFile w;
    ASSERT_EQ(w.open(dir.path()), 0);
    test::Unchangeable failing(dir.file(extension_file_name));
    ASSERT_TRUE(failing.made());
    EXPECT_FALSE(w.put(4, sample(4))) << "the write fails";
    EXPECT_EQ(w.unwritten_count(), 3u) << "the record and the gap before it await writing";
    EXPECT_TRUE(w.find(4, sample(4).mac.data(), r));
    EXPECT_FALSE(w.flush());
    failing.release();
    EXPECT_TRUE(w.flush());
    EXPECT_EQ(test::read_file(dir.file(extension_file_name)).size(), 5 * ext_record::size);
}

// Damaged side files: what can be used is used, nothing else.
TEST(ExtensionFile, DamagedFiles) {
    std::uint8_t good[ext_record::size];
    encode_extension_record(sample(1), good);
    std::vector<std::uint8_t> garbage(good, good + sizeof good);
    for (std::size_t k = 64; k < 304; ++k) garbage[k] = static_cast<std::uint8_t>(k * 7);  // no NULs, controls
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        bool folder;
        bool opens;
        bool found;
    } cases[] = {
        {"garbage texts", garbage, false, true, true},
        {"a partial record only", std::vector<std::uint8_t>(good, good + 100), false, true, false},
        {"a folder of that name", {}, true, false, false},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        if (c.folder)
            std::filesystem::create_directory(dir.file(extension_file_name));
        else
            test::write_file(dir.file(extension_file_name), c.bytes);
        ExtensionFile f;
        EXPECT_EQ(f.open(dir.path()) == 0, c.opens) << c.what;
        EXPECT_EQ(f.is_writable(), c.opens) << c.what;
        ExtensionRecord r;
        EXPECT_EQ(f.find(0, sample(1).mac.data(), r), c.found) << c.what;
        for (const std::string& text : {r.facts.manufacturer, r.facts.model, r.facts.bios_serial,
                                        r.facts.windows_edition, r.facts.display_version})
            for (char ch : text) EXPECT_TRUE(static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F) << c.what;
        if (c.found) {
            EXPECT_EQ(r.facts.model.size(), 63u) << "a text without its NUL";
        }
    }
}

}  // namespace
}  // namespace tally
