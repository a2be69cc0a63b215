// The audit store: loading the database files, lookups, growth, write-through,
// editing and deletion, and the indexed lookups against plain scans.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "server/store/block_list.h"
#include "server/store/store.h"
#include "plain_scans.h"
#include "test_support.h"

namespace tally {
namespace {

using test::read_file;
using test::RecordingNotifier;
using test::TempDir;
using test::write_file;

std::vector<std::uint8_t> record_with_mac(std::uint8_t last, const char* name = "PC") {
    std::vector<std::uint8_t> r(hw_record::size, 0);
    if (last) {
        r[hw_record::mac.offset] = 0x02;
        r[hw_record::mac.offset + 5] = last;
    }
    put_text(r.data(), hw_record::computer_name, name);
    return r;
}

std::vector<std::uint8_t> entry_with_mac(std::uint8_t last, const char* name) {
    std::vector<std::uint8_t> e(sw_entry::size, 0);
    if (last) {
        e[0] = 0x02;
        e[5] = last;
    }
    put_text(e.data(), sw_entry::display_name, name);
    return e;
}

Mac mac_of(std::uint8_t last) { return Mac{0x02, 0, 0, 0, 0, last}; }

template <typename... Parts>
std::vector<std::uint8_t> concat(const Parts&... parts) {
    std::vector<std::uint8_t> all;
    (all.insert(all.end(), parts.begin(), parts.end()), ...);
    return all;
}

// Whether the files' bytes are the tables' records and entries.
bool files_hold_tables(const Store& s, const std::vector<std::uint8_t>& hw, const std::vector<std::uint8_t>& sw) {
    if (hw.size() != s.record_count() * hw_record::size || sw.size() != s.used_length()) return false;
    for (std::uint32_t i = 0; i < s.record_count(); ++i)
        if (std::memcmp(hw.data() + i * hw_record::size, s.record(i).bytes(), hw_record::size) != 0) return false;
    for (std::size_t o = 0; o < s.used_length(); o += sw_entry::size)
        if (std::memcmp(sw.data() + o, s.entry(o).bytes(), sw_entry::size) != 0) return false;
    return true;
}

class StoreTest : public ::testing::Test {
protected:
    StoreOptions options() const { return StoreOptions{}; }
    TempDir dir;
    RecordingNotifier notifier;
};

TEST_F(StoreTest, EmptyDirectoryGetsTwoEmptyFilesAndAnEmptyStore) {
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    EXPECT_TRUE(notifier.notices.empty());
    EXPECT_EQ(store.record_count(), 0u);
    EXPECT_EQ(store.used_length(), 0u);
    EXPECT_EQ(store.hardware_capacity(), 10u);
    EXPECT_EQ(store.software_capacity(), 10200u);
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")).size(), 0u);
    EXPECT_EQ(read_file(dir.file("Software.Audit")).size(), 0u);
    EXPECT_FALSE(store.find_record(mac_of(1).data()).has_value());
    EXPECT_EQ(store.find_free_entry(), 0u);

    // A trailing separator names the same files.
    write_file(dir.file("Hardware.Audit"), record_with_mac(7));
    Store again(notifier, options());
    ASSERT_EQ(again.open_store(dir.path() + (dir.path().find('\\') != std::string::npos ? "\\" : "/")), 0);
    EXPECT_EQ(again.record_count(), 1u);
}

TEST_F(StoreTest, LoadsRecordsAndEntriesWithFreeOnes) {
    write_file(dir.file("Hardware.Audit"), concat(record_with_mac(1), record_with_mac(0), record_with_mac(3),
                                                  record_with_mac(0)));
    write_file(dir.file("Software.Audit"), concat(entry_with_mac(1, "a"), entry_with_mac(0, ""),
                                                  entry_with_mac(3, "b"), entry_with_mac(1, "c")));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    EXPECT_EQ(store.record_count(), 4u);
    EXPECT_EQ(store.hardware_capacity(), 14u);
    EXPECT_EQ(store.used_length(), 4u * 102);
    EXPECT_EQ(store.software_capacity(), 4u * 102 + 10200);

    EXPECT_EQ(store.find_record(mac_of(3).data()), 2u);
    EXPECT_EQ(store.find_record(mac_of(9).data()), 1u) << "unknown MAC takes the lowest free record";
    EXPECT_EQ(store.find_record(Mac{}.data()), 1u) << "a zero MAC matches the first free record";
    EXPECT_EQ(store.find_free_entry(), 102u);
    EXPECT_EQ(store.entry_offsets_of(mac_of(1).data()), (std::vector<std::size_t>{0, 306}));
    EXPECT_EQ(store.entry(306).display_name(), "c");
}

TEST_F(StoreTest, PartialTrailingRecordsAreReplacedAtTheirOwnPosition) {
    std::vector<std::uint8_t> hw = concat(record_with_mac(1), std::vector<std::uint8_t>(100, 0xEE));
    std::vector<std::uint8_t> sw = concat(entry_with_mac(1, "a"), std::vector<std::uint8_t>(50, 0xEE));
    write_file(dir.file("Hardware.Audit"), hw);
    write_file(dir.file("Software.Audit"), sw);
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    EXPECT_EQ(store.record_count(), 1u);
    EXPECT_EQ(store.used_length(), 102u);

    std::vector<std::uint8_t> r = record_with_mac(2, "NEW");
    EXPECT_EQ(store.add_record(r.data()), 1u);
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")), concat(record_with_mac(1), r));

    ASSERT_EQ(store.find_free_entry(), 102u);
    EXPECT_EQ(store.add_entry(mac_of(2).data(), "prog", ""), AddResult::added);
    EXPECT_EQ(read_file(dir.file("Software.Audit")), concat(entry_with_mac(1, "a"), entry_with_mac(2, "prog")));
}

TEST_F(StoreTest, GrowsWhenARecordFindsTheTableFull) {
    write_file(dir.file("Hardware.Audit"), concat(record_with_mac(1), record_with_mac(2)));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    for (std::uint8_t k = 3; k < 3 + 10; ++k) {
        std::vector<std::uint8_t> r = record_with_mac(k);
        ASSERT_EQ(store.add_record(r.data()), k - 1u);
    }
    EXPECT_EQ(store.record_count(), 12u);
    EXPECT_GE(store.hardware_capacity(), store.record_count());
    for (std::uint8_t k = 1; k < 13; ++k) EXPECT_EQ(store.find_record(mac_of(k).data()), k - 1u);
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")).size(), 12u * 808);
}

TEST_F(StoreTest, ReleaseEntriesFreesInPlaceAndWritesNothingForAnUnknownMac) {
    std::vector<std::uint8_t> versioned = entry_with_mac(1, "c");
    put_text(versioned.data(), sw_entry::display_version, "7.1");
    write_file(dir.file("Software.Audit"), concat(entry_with_mac(1, "a"), entry_with_mac(2, "b"), versioned));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    auto before = read_file(dir.file("Software.Audit"));
    store.release_entries(mac_of(9).data());
    EXPECT_EQ(read_file(dir.file("Software.Audit")), before);

    store.release_entries(mac_of(1).data());
    auto after = read_file(dir.file("Software.Audit"));
    ASSERT_EQ(after.size(), 306u);
    // MAC and the first version byte zero; the name and the rest stay.
    std::vector<std::uint8_t> freed = versioned;
    std::memset(freed.data(), 0, 6);
    freed[70] = 0;
    EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 204, after.end()), freed);
    EXPECT_EQ(after[6], 'a');
    EXPECT_EQ(std::memcmp(after.data() + 102, entry_with_mac(2, "b").data(), 102), 0);
    EXPECT_EQ(store.find_free_entry(), 0u);
    EXPECT_TRUE(store.entry_offsets_of(mac_of(1).data()).empty());
}

TEST_F(StoreTest, ReopenClosesTheOldStoreAndAFailedReopenKeepsIt) {
    TempDir other;
    write_file(dir.file("Hardware.Audit"), record_with_mac(1));
    write_file(other.file("Hardware.Audit"), concat(record_with_mac(5), record_with_mac(6)));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    ASSERT_EQ(store.open_store(other.path()), 0);
    EXPECT_EQ(store.record_count(), 2u);
    EXPECT_EQ(store.find_record(mac_of(6).data()), 1u);

    // A directory that does not exist: the box names the file and the store
    // that was open stays in force; writes go to its files.
    ASSERT_EQ(store.open_store(dir.file("missing")), 1);
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].caption, "File Error");
    EXPECT_EQ(notifier.notices[0].text.find("An error has occured while openning the database files.  Please ensure "
                                            "that you have the correct path specified in your settings\r\nFile = "),
              0u);
    EXPECT_NE(notifier.notices[0].text.find("Software.Audit"), std::string::npos) << "both failed: names software";
    EXPECT_EQ(store.record_count(), 2u);
    std::vector<std::uint8_t> r = record_with_mac(6, "CHANGED");
    EXPECT_TRUE(store.replace_record(1, r.data()));
    EXPECT_EQ(read_file(other.file("Hardware.Audit")), concat(record_with_mac(5), r));
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")), record_with_mac(1));
}

TEST_F(StoreTest, ATableThatCannotGrowIsNotWrittenBeyond) {
    StoreOptions o = options();
    o.table_limit = 10200;  // the load (10 spare records, 100 entries) fits, a growth does not
    Store store(notifier, o);
    ASSERT_EQ(store.open_store(dir.path()), 0);
    for (std::uint8_t k = 1; k <= 10; ++k) {
        std::vector<std::uint8_t> r = record_with_mac(k);
        ASSERT_TRUE(store.add_record(r.data()));
    }
    std::vector<std::uint8_t> r = record_with_mac(11);
    EXPECT_FALSE(store.add_record(r.data()));
    EXPECT_EQ(store.failed_growths(), 1u);
    EXPECT_TRUE(notifier.notices.empty()) << "the intake reports it, without a box";
    EXPECT_EQ(store.record_count(), 10u);
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")).size(), 10u * 808);
}

TEST_F(StoreTest, AStoreTooLargeForMemoryGivesTheBoxAndLeavesItsFilesAlone) {
    const auto hw = concat(record_with_mac(1), record_with_mac(2));
    const auto sw = entry_with_mac(1, "a");
    write_file(dir.file("Hardware.Audit"), hw);
    write_file(dir.file("Software.Audit"), sw);
    StoreOptions o = options();
    o.table_limit = 11 * 808;  // the 2 records and 10 spare ones do not fit
    Store store(notifier, o);
    EXPECT_EQ(store.open_store(dir.path()), 1);
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].caption, "Memory Error");
    EXPECT_EQ(notifier.notices[0].text, "Insufficient memory to open database files");
    EXPECT_FALSE(store.is_open());
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")), hw);
    EXPECT_EQ(read_file(dir.file("Software.Audit")), sw);
}

TEST_F(StoreTest, CustomFieldsAndDeletionWriteThroughAndSkipFreeRecords) {
    write_file(dir.file("Hardware.Audit"), concat(record_with_mac(1), record_with_mac(0)));
    write_file(dir.file("Software.Audit"), concat(entry_with_mac(1, "a"), entry_with_mac(2, "b"),
                                                  entry_with_mac(1, "c")));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    ASSERT_EQ(store.update_custom_fields(0, std::string(30, 'x'), "two", "", "tag"), 0);
    EXPECT_EQ(store.record(0).custom_field_1(), std::string(24, 'x'));
    auto hw = read_file(dir.file("Hardware.Audit"));
    EXPECT_EQ(std::memcmp(hw.data(), store.record(0).bytes(), 808), 0);

    // A free record or an index past the table: nothing changes or is written.
    auto before = read_file(dir.file("Hardware.Audit"));
    EXPECT_EQ(store.update_custom_fields(1, "a", "b", "c", "d"), 0);
    EXPECT_EQ(store.update_custom_fields(7, "a", "b", "c", "d"), 0);
    store.delete_record(1);
    store.delete_record(7);
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")), before);
    EXPECT_EQ(store.record(1).custom_field_1(), "");

    store.delete_record(0);
    hw = read_file(dir.file("Hardware.Audit"));
    ASSERT_EQ(hw.size(), 2u * 808);
    EXPECT_EQ(std::vector<std::uint8_t>(hw.begin(), hw.begin() + 808), std::vector<std::uint8_t>(808, 0));
    auto sw = read_file(dir.file("Software.Audit"));
    ASSERT_EQ(sw.size(), 306u);
    EXPECT_TRUE(mac_is_zero(sw.data()) && mac_is_zero(sw.data() + 204));
    EXPECT_FALSE(mac_is_zero(sw.data() + 102));
    EXPECT_EQ(store.find_record(mac_of(7).data()), 0u) << "the deleted record is reused first";
    EXPECT_EQ(store.record_count(), 2u);
}

TEST(StoreOpen, ShortOrUnreadableFilesReport) {
    TempDir dir;
    RecordingNotifier notifier;
    // A directory where a database file should be cannot be opened as a file.
    std::filesystem::create_directory(dir.file("Hardware.Audit"));
    Store store(notifier);
    EXPECT_EQ(store.open_store(dir.path()), 1);
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].caption, "File Error");
    EXPECT_NE(notifier.notices[0].text.find("Hardware.Audit"), std::string::npos);
    EXPECT_FALSE(store.is_open());
}

// Random traffic through the store: its indexed answers must be those of
// plain scans of its tables, and the files must hold the tables.
TEST(StoreIndexes, AgreeWithPlainScans) {
    TempDir dir;
    RecordingNotifier notifier;
    Store s(notifier);
    ASSERT_EQ(s.open_store(dir.path()), 0);
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<std::uint8_t>(rng() % n); };
    for (int step = 0; step < 4000; ++step) {
        const std::uint8_t last = pick(40);
        const Mac mac = last == 0 ? Mac{} : mac_of(last);  // now and then the zero MAC
        const int action = pick(10);
        if (action < 2) {
            s.release_entries(mac.data());
        } else if (action < 7) {
            ASSERT_EQ(s.add_entry(mac.data(), "p" + std::to_string(step), "1"), AddResult::added);
        } else if (action < 9) {
            auto found = s.find_record(mac.data());
            std::vector<std::uint8_t> r = record_with_mac(mac[5], "R");
            if (found)
                s.replace_record(*found, r.data());
            else
                ASSERT_TRUE(s.add_record(r.data()));
        } else {
            auto found = s.find_record(mac.data());
            if (found) s.delete_record(*found);
        }
        ASSERT_EQ(s.find_free_entry(), test::plain_find_free_entry(s)) << step;
        const std::uint8_t probe_last = pick(40);
        const Mac probe = probe_last == 0 ? Mac{} : mac_of(probe_last);
        ASSERT_EQ(s.find_record(probe.data()), test::plain_find_record(s, probe.data())) << step;
        ASSERT_EQ(s.entry_offsets_of(probe.data()), test::plain_entry_offsets_of(s, probe.data())) << step;
    }
    const auto hw = read_file(dir.file("Hardware.Audit"));
    const auto sw = read_file(dir.file("Software.Audit"));
    ASSERT_EQ(hw.size(), s.record_count() * hw_record::size);
    ASSERT_EQ(sw.size(), s.used_length());
    EXPECT_TRUE(files_hold_tables(s, hw, sw));
    EXPECT_GT(s.used_length(), 0u);
}

// The tables are held in chunks of 1,024 records and 8,192 entries: items at
// and across the chunk edges load, grow, are found and written like others.
TEST_F(StoreTest, ItemsAtAndAcrossChunkEdges) {
    auto mac_n = [](std::uint32_t n) {
        return Mac{0x02, 0, 0, std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
    };
    auto record_n = [&](std::uint32_t i) {
        std::vector<std::uint8_t> r = record_with_mac(0, ("PC" + std::to_string(i)).c_str());
        const Mac m = mac_n(i + 1);
        std::copy(m.begin(), m.end(), r.begin() + hw_record::mac.offset);
        return r;
    };
    std::vector<std::uint8_t> hw, sw;
    for (std::uint32_t i = 0; i < 1030; ++i) hw = concat(hw, record_n(i));
    // Computer 2's four entries lie across the first edge, at 8,190 to 8,193.
    for (std::uint32_t k = 0; k < 8196; ++k) {
        std::vector<std::uint8_t> e = entry_with_mac(0, ("e" + std::to_string(k)).c_str());
        const Mac m = mac_n(k >= 8190 && k < 8194 ? 2 : 1);
        std::copy(m.begin(), m.end(), e.begin());
        sw.insert(sw.end(), e.begin(), e.end());
    }
    write_file(dir.file("Hardware.Audit"), hw);
    write_file(dir.file("Software.Audit"), sw);
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    ASSERT_EQ(store.record_count(), 1030u);
    ASSERT_EQ(store.used_length(), 8196u * 102);
    ASSERT_TRUE(files_hold_tables(store, hw, sw));
    for (std::uint32_t i : {1023u, 1024u, 1029u}) {
        EXPECT_EQ(store.record(i).computer_name(), "PC" + std::to_string(i));
        EXPECT_EQ(store.find_record(mac_n(i + 1).data()), i);
    }
    EXPECT_EQ(store.entry_offsets_of(mac_n(2).data()),
              (std::vector<std::size_t>{8190 * 102, 8191 * 102, 8192 * 102, 8193 * 102}));

    // Growth into the next chunks keeps every item where it is.
    const std::uint8_t* view = store.record(1029).bytes();
    for (std::uint32_t i = 1030; i < 2100; ++i) ASSERT_EQ(store.add_record(record_n(i).data()), i);
    EXPECT_EQ(store.record(1029).bytes(), view);
    for (std::uint32_t k = 8196; k < 16390; ++k)
        ASSERT_EQ(store.add_entry(mac_n(3 + k / 1000).data(), "n", "1"), AddResult::added);
    // One batch with runs across the edges: each reaches the file whole.
    {
        Store::WriteBatch batch(store);
        for (std::uint32_t i = 1020; i < 1030; ++i) store.update_custom_fields(i, "c", "", "", "");
        for (std::uint32_t i = 2040; i < 2060; ++i) store.update_custom_fields(i, "d", "", "", "");
        store.release_entries(mac_n(2).data());
    }
    EXPECT_EQ(store.unwritten_count(), 0u);
    EXPECT_EQ(store.find_free_entry(), 8190u * 102);
    EXPECT_TRUE(files_hold_tables(store, read_file(dir.file("Hardware.Audit")), read_file(dir.file("Software.Audit"))));
    EXPECT_EQ(store.record(2048).custom_field_1(), "d");
}

TEST(BlockListTest, GrowsWithoutMovingAndNeverShowsStaleItems) {
    BlockList<std::uint32_t, 2> list;  // blocks of four
    list.assign(6, 7);
    list[5] = 42;
    const std::uint32_t* fifth = &list[4];
    list.resize(9, 9);  // into a third block: the others stay where they are
    EXPECT_EQ(&list[4], fifth);
    list.resize(5);  // an item cut off...
    list.resize(7, 1);  // ...comes back as the new value, not as it was
    std::vector<std::uint32_t> seen;
    for (std::size_t i = 0; i < list.size(); ++i) seen.push_back(list[i]);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{7, 7, 7, 7, 7, 1, 1}));
}

}  // namespace
}  // namespace tally
