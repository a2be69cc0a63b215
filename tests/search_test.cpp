// Evaluation of the hardware and software criteria against records.
#include <gtest/gtest.h>

#include "console_fixture.h"
#include "server/model/system_list.h"

namespace tally {
namespace {

using Item = HardwareItem;

class SearchTest : public ::testing::Test {
protected:
    bool passes(const HardwareCriterion& c, std::uint32_t i) { return match_criterion(store, c, i); }
    test::TempDir dir;
    test::RecordingNotifier notifier;
    Store store{notifier};
    test::Tables tables;
    ActiveSearch search;
};

TEST_F(SearchTest, EachItemReadsItsField) {
    test::RecordBytes& r = tables.add_record(test::mac_of(1), "PC");
    std::uint8_t* b = r.data();
    put_f32(b, hw_record::speed_mhz, 2992.9f);
    put_u32(b, hw_record::ram_mb, 512);
    put_u32(b, hw_record::cpuid_code, 0x0F29);
    put_u16(b, hw_record::refresh_rate, 75);
    put_u32(b, hw_record::bits_per_pixel, 16);
    put_u16(b, hw_record::windows_build, 2600);
    put_u8(b, hw_record::windows_minor, 1);
    put_u8(b, hw_record::windows_major, 5);
    put_u32(b, hw_record::pagefile_mb, 73728);
    ASSERT_TRUE(tables.load(store, dir));
    ExtensionRecord ext;
    std::copy_n(store.record(0).mac(), 6, ext.mac.begin());
    ext.product_type = 3;
    EXPECT_TRUE(passes({Item::product_type, Operator::equal, Connector::none, 0}, 0)) << "not reported";
    ASSERT_TRUE(store.store_extension(0, ext));
    EXPECT_TRUE(passes({Item::product_type, Operator::equal, Connector::none, 3}, 0));
    EXPECT_TRUE(passes({Item::pagefile, Operator::greater, Connector::none, 65536}, 0));
    EXPECT_TRUE(passes({Item::cpu_speed, Operator::equal, Connector::none, 2992}, 0));  // truncated
    EXPECT_TRUE(passes({Item::ram, Operator::equal, Connector::none, 512}, 0));
    EXPECT_TRUE(passes({Item::cpu_family, Operator::equal, Connector::none, 15}, 0));
    EXPECT_TRUE(passes({Item::refresh_rate, Operator::less, Connector::none, 76}, 0));
    EXPECT_TRUE(passes({Item::bits_per_pixel, Operator::greater, Connector::none, 8}, 0));
    EXPECT_TRUE(passes({Item::windows_build, Operator::not_equal, Connector::none, 2195}, 0));
    EXPECT_TRUE(passes({Item::windows_minor_version, Operator::equal, Connector::none, 1}, 0));
    EXPECT_TRUE(passes({Item::windows_major_version, Operator::equal, Connector::none, 5}, 0));
    EXPECT_FALSE(passes({Item::windows_major_version, Operator::equal, Connector::none, 1}, 0));
    // No item or no operator never passes, even where the value would.
    EXPECT_FALSE(passes({Item::none, Operator::equal, Connector::none, 0}, 0));
    EXPECT_FALSE(passes({Item::ram, Operator::none, Connector::none, 512}, 0));
    // Unsigned comparison: nothing is below 0, everything but the maximum below 4294967295.
    EXPECT_FALSE(passes({Item::ram, Operator::less, Connector::none, 0}, 0));
    EXPECT_TRUE(passes({Item::ram, Operator::less, Connector::none, 4294967295u}, 0));
}

TEST_F(SearchTest, DiskSpacePassesWhenAnyFixedDiskPasses) {
    test::RecordBytes& two = tables.add_record(test::mac_of(1), "two disks");
    test::set_drive(two, 0, 'A', 2, 0, 0);
    test::set_drive(two, 1, 'C', 3, 500ull << 20, 1000ull << 20);
    test::set_drive(two, 2, 'D', 3, 2000ull << 20, 4000ull << 20);
    test::RecordBytes& none = tables.add_record(test::mac_of(2), "no disks");
    test::set_drive(none, 0, 'A', 2, 0, 0);
    test::set_drive(none, 1, 'E', 5, 0, 0);
    test::RecordBytes& first = tables.add_record(test::mac_of(3), "slot 0 only");
    test::set_drive(first, 0, 'C', 3, 50ull << 20, 60ull << 20);
    test::RecordBytes& gap = tables.add_record(test::mac_of(4), "gap after the first disk");
    test::set_drive(gap, 0, 'C', 3, 50ull << 20, 60ull << 20);
    test::set_drive(gap, 2, 'F', 3, 5000ull << 20, 6000ull << 20);  // slot 1 empty: the scan ends
    test::RecordBytes& huge = tables.add_record(test::mac_of(5), "low 32 bits of MiB");
    test::set_drive(huge, 0, 'C', 3, (1ull << 52) + (7ull << 20), 0);
    ASSERT_TRUE(tables.load(store, dir));

    EXPECT_TRUE(passes({Item::free_disk_space, Operator::greater, Connector::none, 1000}, 0));
    EXPECT_FALSE(passes({Item::free_disk_space, Operator::greater, Connector::none, 2000}, 0));
    EXPECT_TRUE(passes({Item::total_disk_space, Operator::equal, Connector::none, 1000}, 0));
    EXPECT_FALSE(passes({Item::free_disk_space, Operator::less, Connector::none, 100}, 1));
    EXPECT_FALSE(passes({Item::free_disk_space, Operator::not_equal, Connector::none, 100}, 1));
    // The first drive slot takes part like every other.
    EXPECT_TRUE(passes({Item::free_disk_space, Operator::less, Connector::none, 100}, 2));
    EXPECT_TRUE(passes({Item::total_disk_space, Operator::equal, Connector::none, 60}, 2));
    EXPECT_FALSE(passes({Item::free_disk_space, Operator::greater, Connector::none, 1000}, 3));
    EXPECT_TRUE(passes({Item::free_disk_space, Operator::equal, Connector::none, 7}, 4));
}

TEST_F(SearchTest, RowsJoinAsRow1Op1Row2Op2Row3) {
    auto machine = [&](std::uint32_t ram, std::uint8_t major, std::uint32_t bpp) {
        test::RecordBytes& r = tables.add_record(test::mac_of(static_cast<std::uint32_t>(tables.records.size() + 1)), "m");
        put_u32(r.data(), hw_record::ram_mb, ram);
        put_u8(r.data(), hw_record::windows_major, major);
        put_u32(r.data(), hw_record::bits_per_pixel, bpp);
    };
    machine(128, 5, 8);   // 0: row 1 fails, connector And: fails whatever follows
    machine(512, 4, 8);   // 1: row 2 fails, connector Or, row 3 passes
    machine(512, 5, 32);  // 2: row 2 passes, Or ends there
    machine(512, 4, 32);  // 3: rows 2 and 3 fail
    ASSERT_TRUE(tables.load(store, dir));
    search.hardware[0] = {Item::ram, Operator::greater, Connector::and_, 256};
    search.hardware[1] = {Item::windows_major_version, Operator::equal, Connector::or_, 5};
    search.hardware[2] = {Item::bits_per_pixel, Operator::less, Connector::none, 16};
    EXPECT_FALSE(match_hardware_criteria(store, search, 0));
    EXPECT_TRUE(match_hardware_criteria(store, search, 1));
    EXPECT_TRUE(match_hardware_criteria(store, search, 2));
    EXPECT_FALSE(match_hardware_criteria(store, search, 3));

    // Row 1 without item but connector Or: the result is row 2's.
    search.hardware[0] = {Item::none, Operator::equal, Connector::or_, 0};
    search.hardware[1] = {Item::ram, Operator::equal, Connector::none, 128};
    EXPECT_TRUE(match_hardware_criteria(store, search, 0));
    EXPECT_FALSE(match_hardware_criteria(store, search, 1));
    // A row without connector decides alone; row 3 is not consulted.
    search.hardware[0] = {Item::ram, Operator::equal, Connector::none, 512};
    search.hardware[1] = {Item::none, Operator::none, Connector::none, 0};
    EXPECT_TRUE(match_hardware_criteria(store, search, 1));
    EXPECT_FALSE(match_hardware_criteria(store, search, 0));
}

TEST(NameContains, AsciiCaseFoldingWithinTheFirst63Bytes) {
    EXPECT_TRUE(name_contains("Home Office Suite 2", "office"));
    EXPECT_TRUE(name_contains("Home Office Suite 2", "HOME OFFICE SUITE 2"));
    EXPECT_FALSE(name_contains("Home Office Suite 2", "Suite 3"));
    EXPECT_FALSE(name_contains("Office", ""));
    EXPECT_FALSE(name_contains("Of", "Office"));
    // Only ASCII letters fold: not accented letters, not @ and `.
    EXPECT_FALSE(name_contains("caf\xC9", "caf\xE9"));
    EXPECT_TRUE(name_contains("caf\xE9", "CAF\xE9"));
    EXPECT_FALSE(name_contains("a@b", "a`b"));
    EXPECT_FALSE(name_contains("[x]", "{x}"));
    // A text of 63 characters matches only a name that begins with it.
    const std::string text(63, 't');
    EXPECT_TRUE(name_contains(text, text));
    EXPECT_FALSE(name_contains("x" + text, text));
    EXPECT_FALSE(name_contains(std::string(62, 'x') + "yz", "yz"));
    EXPECT_TRUE(name_contains(std::string(61, 'x') + "yz", "YZ"));
}

TEST_F(SearchTest, SoftwareCriteria) {
    const auto with_office = test::mac_of(1), with_zip = test::mac_of(2), nothing = test::mac_of(3),
               both = test::mac_of(4);
    tables.add_record(with_office, "office");
    tables.add_record(with_zip, "zip");
    tables.add_record(nothing, "nothing");
    tables.add_record(both, "both");
    tables.add_entry(with_office, "Home Office Suite 2");
    tables.add_entry(with_zip, "7-Zip");
    tables.add_entry(both, "WinZip");
    tables.add_entry(test::mac_of(9), "Office of a computer without record");
    tables.add_entry(both, "Office");
    ASSERT_TRUE(tables.load(store, dir));
    // Per record, and from one marking pass over the table: the same answer.
    auto listed = [&]() {
        std::string out;
        SoftwareFinds finds;
        finds.mark(store, search);
        for (std::uint32_t i = 0; i < store.record_count(); ++i) {
            const bool passed = match_software_criteria(store, search, i);
            EXPECT_EQ(passed, finds.passes(search, store.record(i).mac())) << i;
            if (passed) out += std::to_string(i);
        }
        return out;
    };
    search.software[0] = {SoftwareMode::installed, "office"};
    search.software_connector = Connector::and_;  // text 2 empty: counts as Or
    EXPECT_EQ(listed(), "03");
    search.software[0].mode = SoftwareMode::not_installed;
    EXPECT_EQ(listed(), "12");
    search.software[0] = {SoftwareMode::installed, "office"};
    search.software[1] = {SoftwareMode::installed, "zip"};
    EXPECT_EQ(listed(), "3");
    search.software_connector = Connector::or_;
    EXPECT_EQ(listed(), "013");
    search.software[1].mode = SoftwareMode::not_installed;
    EXPECT_EQ(listed(), "023");
    // Text 1 empty finds nothing: with Installed and And nothing is listed.
    search.software[0] = {SoftwareMode::installed, ""};
    search.software[1] = {SoftwareMode::installed, "zip"};
    search.software_connector = Connector::and_;
    EXPECT_EQ(listed(), "");
    search.software_connector = Connector::or_;
    EXPECT_EQ(listed(), "13");
}

}  // namespace
}  // namespace tally
