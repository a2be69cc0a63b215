// The system list's order, filtering and hit count, and the incremental
// update against a full rebuild.
#include <gtest/gtest.h>

#include <random>

#include "console_fixture.h"
#include "server/model/system_list.h"

namespace tally {
namespace {

class SystemListTest : public ::testing::Test {
protected:
    std::vector<std::string> labels(const SystemList& shown) {
        std::vector<std::string> out;
        for (std::size_t k = 0; k < shown.size(); ++k) out.push_back(shown.label_at(k));
        return out;
    }
    test::TempDir dir;
    test::RecordingNotifier notifier;
    Store store{notifier};
    test::Tables tables;
    ActiveSearch search;
    SystemList list;
};

TEST_F(SystemListTest, OrderedByTextInEachListOrder) {
    tables.add_record({0x0A, 0, 0, 0, 0, 1}, "PC9", {10, 0, 0, 9});
    tables.add_record({0x00, 0x11, 0, 0, 0, 2}, "PC10", {10, 0, 0, 10});
    tables.add_free_record();
    tables.add_record({0x00, 0x0F, 0, 0, 0, 3}, "alpha", {192, 168, 0, 1});
    ASSERT_TRUE(tables.load(store, dir));

    list.rebuild(store, search, ListOrder::system_name);
    EXPECT_EQ(labels(list), (std::vector<std::string>{"alpha", "PC10", "PC9"}));
    EXPECT_EQ(list.record_at(0), 3u);
    EXPECT_EQ(list.hit_count(), 3);
    list.rebuild(store, search, ListOrder::mac_address);
    EXPECT_EQ(labels(list), (std::vector<std::string>{"00:0F:00:00:00:03", "00:11:00:00:00:02", "0A:00:00:00:00:01"}));
    list.rebuild(store, search, ListOrder::ip_address);
    EXPECT_EQ(labels(list), (std::vector<std::string>{"10.0.0.10", "10.0.0.9", "192.168.0.1"}));
    EXPECT_EQ(list.position_of(0), std::optional<std::size_t>(1));
    EXPECT_EQ(list.position_of(2), std::nullopt);  // free record
    EXPECT_EQ(list.position_of(9), std::nullopt);  // beyond the table
}

// The sort selector's chosen entry, wherever the selector placed the entries.
TEST(ListOrderSelection, EntryToOrder) {
    using O = ListOrder;
    const ListOrderEntries as_added{0, 1, 2}, sorted_by_text{2, 1, 0};
    const struct {
        const ListOrderEntries& entries;
        std::int64_t selection;
        O current, order;
    } cases[] = {
        {as_added, 0, O::ip_address, O::system_name},   {as_added, 1, O::system_name, O::mac_address},
        {as_added, 2, O::system_name, O::ip_address},   {sorted_by_text, 0, O::system_name, O::ip_address},
        {sorted_by_text, 2, O::ip_address, O::system_name},
        {as_added, -1, O::mac_address, O::mac_address},  // nothing chosen: the order stays
        {as_added, 3, O::ip_address, O::ip_address},
    };
    for (const auto& c : cases)
        EXPECT_EQ(list_order_of_selection(c.entries, c.selection, c.current), c.order) << c.selection;
    EXPECT_STREQ(list_order_texts[int(O::mac_address)], "MAC Address");
}

TEST_F(SystemListTest, EqualTextsKeepTableOrderAndCaseIsFolded) {
    tables.add_record(test::mac_of(1), "pc");
    tables.add_record(test::mac_of(2), "PC");
    tables.add_record(test::mac_of(3), "pc");
    tables.add_record(test::mac_of(4), "Pb");
    tables.add_record(test::mac_of(5), "");
    ASSERT_TRUE(tables.load(store, dir));
    list.rebuild(store, search, ListOrder::system_name);
    // "" first; "Pb" before the "pc" group; in the group upper case bytes
    // sort first, equal texts by record index.
    std::vector<std::uint32_t> records;
    for (std::size_t k = 0; k < list.size(); ++k) records.push_back(list.record_at(k));
    EXPECT_EQ(records, (std::vector<std::uint32_t>{4, 3, 1, 0, 2}));
}

TEST_F(SystemListTest, EmptyTablesAndAllFreeRecords) {
    ASSERT_TRUE(tables.load(store, dir));
    list.rebuild(store, search, ListOrder::system_name);
    EXPECT_EQ(list.hit_count(), 0);
    EXPECT_EQ(hits_text(list.hit_count()), "Search Returned 0 hits");
    tables.add_free_record();
    tables.add_free_record();
    test::TempDir dir2;
    Store store2{notifier};
    ASSERT_TRUE(tables.load(store2, dir2));
    list.rebuild(store2, search, ListOrder::mac_address);
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(hits_text(12), "Search Returned 12 hits");
}

TEST_F(SystemListTest, ActiveSearchFiltersAndCombinesWithAnd) {
    test::RecordBytes& a = tables.add_record(test::mac_of(1), "big");
    put_u32(a.data(), hw_record::ram_mb, 512);
    test::RecordBytes& b = tables.add_record(test::mac_of(2), "small");
    put_u32(b.data(), hw_record::ram_mb, 128);
    test::RecordBytes& c = tables.add_record(test::mac_of(3), "big-no-office");
    put_u32(c.data(), hw_record::ram_mb, 1024);
    tables.add_entry(test::mac_of(1), "Home Office Suite 2");
    tables.add_entry(test::mac_of(2), "Office");
    ASSERT_TRUE(tables.load(store, dir));

    search.hardware_on = true;
    search.hardware[0] = {HardwareItem::ram, Operator::greater, Connector::none, 256};
    list.rebuild(store, search, ListOrder::system_name);
    EXPECT_EQ(labels(list), (std::vector<std::string>{"big", "big-no-office"}));
    search.software_on = true;
    search.software[0] = {SoftwareMode::installed, "office"};
    list.rebuild(store, search, ListOrder::system_name);
    EXPECT_EQ(labels(list), (std::vector<std::string>{"big"}));
    EXPECT_EQ(list.hit_count(), 1);
}

// Random changes of one record at a time: the moved list equals a rebuild.
TEST_F(SystemListTest, UpdatingOneRecordGivesTheRebuiltList) {
    std::mt19937 random(7);
    for (int k = 0; k < 40; ++k) {
        test::RecordBytes& r = tables.add_record(test::mac_of(k + 1), "PC" + std::to_string(random() % 25),
                                                 {10, 0, 0, static_cast<std::uint8_t>(random() % 30)});
        put_u32(r.data(), hw_record::ram_mb, random() % 4 * 128);
    }
    ASSERT_TRUE(tables.load(store, dir));
    search.hardware_on = true;
    search.hardware[0] = {HardwareItem::ram, Operator::not_equal, Connector::none, 0};
    for (ListOrder order : {ListOrder::system_name, ListOrder::ip_address, ListOrder::mac_address}) {
        list.rebuild(store, search, order);
        for (int step = 0; step < 300; ++step) {
            // Change, free or add a record, as the intake does.
            std::uint32_t i = static_cast<std::uint32_t>(random() % (store.record_count() + 1));
            test::RecordBytes r{};
            const int what = static_cast<int>(random() % 5);
            if (what != 0) {
                const auto mac = test::mac_of(1000 + step);
                std::copy(mac.begin(), mac.end(), r.begin() + hw_record::mac.offset);
                put_text(r.data(), hw_record::computer_name, "PC" + std::to_string(random() % 25));
                r[hw_record::ip_address.offset + 3] = static_cast<std::uint8_t>(random() % 30);
                put_u32(r.data(), hw_record::ram_mb, random() % 4 * 128);
            }
            if (i == store.record_count())
                ASSERT_TRUE(store.add_record(r.data()));
            else
                store.replace_record(i, r.data());
            list.update_record(store, search, order, i);
            SystemList rebuilt;
            rebuilt.rebuild(store, search, order);
            ASSERT_EQ(list.size(), rebuilt.size()) << step;
            for (std::size_t k = 0; k < list.size(); ++k) {
                ASSERT_EQ(list.record_at(k), rebuilt.record_at(k)) << step;
                ASSERT_EQ(list.label_at(k), rebuilt.label_at(k)) << step;
            }
            for (std::uint32_t j = 0; j < store.record_count(); ++j)
                ASSERT_EQ(list.position_of(j), rebuilt.position_of(j)) << step;
        }
    }
}

}  // namespace
}  // namespace tally
