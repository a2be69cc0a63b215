// The audit store: loading the database files, lookups, growth, write-through,
// editing and deletion, and the indexed lookups against the plain scans.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "server/store/store.h"
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

class StoreTest : public ::testing::TestWithParam<bool> {
protected:
    StoreOptions options() const {
        StoreOptions o;
        o.indexed = GetParam();
        return o;
    }
    TempDir dir;
    RecordingNotifier notifier;
};

TEST_P(StoreTest, EmptyDirectoryGetsTwoEmptyFilesAndAnEmptyStore) {
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

TEST_P(StoreTest, LoadsRecordsAndEntriesWithFreeOnes) {
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
    EXPECT_EQ(store.selected_record(), 0u);

    EXPECT_EQ(store.find_record(mac_of(3).data()), 2u);
    EXPECT_EQ(store.find_record(mac_of(9).data()), 1u) << "unknown MAC takes the lowest free record";
    EXPECT_EQ(store.find_record(Mac{}.data()), 1u) << "a zero MAC matches the first free record";
    EXPECT_EQ(store.find_free_entry(), 102u);
    EXPECT_EQ(store.entry_offsets_of(mac_of(1).data()), (std::vector<std::size_t>{0, 306}));
    EXPECT_EQ(store.entry(306).display_name(), "c");
}

TEST_P(StoreTest, PartialTrailingRecordsAreReplacedAtTheirOwnPosition) {
    std::vector<std::uint8_t> hw = concat(record_with_mac(1), std::vector<std::uint8_t>(100, 0xEE));
    std::vector<std::uint8_t> sw = concat(entry_with_mac(1, "a"), std::vector<std::uint8_t>(50, 0xEE));
    write_file(dir.file("Hardware.Audit"), hw);
    write_file(dir.file("Software.Audit"), sw);
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    EXPECT_EQ(store.record_count(), 1u);
    EXPECT_EQ(store.used_length(), 102u);

    std::vector<std::uint8_t> r = record_with_mac(2, "NEW");
    store.set_record(1, r.data());
    store.append_record(1);
    store.count_appended_record();
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")), concat(record_with_mac(1), r));

    const std::size_t o = store.find_free_entry();
    ASSERT_EQ(o, 102u);
    store.set_entry(o, mac_of(2).data(), "prog", "");
    store.write_entry(o);
    store.count_appended_entry();
    EXPECT_EQ(read_file(dir.file("Software.Audit")), concat(entry_with_mac(1, "a"), entry_with_mac(2, "prog")));
}

TEST_P(StoreTest, GrowsWhenTheTenthRecordIsAppended) {
    write_file(dir.file("Hardware.Audit"), concat(record_with_mac(1), record_with_mac(2)));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    for (std::uint8_t k = 3; k < 3 + 10; ++k) {
        ASSERT_TRUE(store.can_append_record());
        std::vector<std::uint8_t> r = record_with_mac(k);
        store.set_record(store.record_count(), r.data());
        store.append_record(store.record_count());
        store.count_appended_record();
        if (!store.can_append_record()) {
            ASSERT_EQ(store.grow_hardware_table(), 0);
        }
    }
    EXPECT_EQ(store.record_count(), 12u);
    if (!GetParam()) {
        EXPECT_EQ(store.hardware_capacity(), 22u) << "fixed steps of ten records";
    }
    EXPECT_GT(store.hardware_capacity(), store.record_count());
    for (std::uint8_t k = 1; k < 13; ++k) EXPECT_EQ(store.find_record(mac_of(k).data()), k - 1u);
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")).size(), 12u * 808);
}

TEST_P(StoreTest, ReleaseEntriesFreesInPlaceAndWritesNothingForAnUnknownMac) {
    write_file(dir.file("Software.Audit"), concat(entry_with_mac(1, "a"), entry_with_mac(2, "b"),
                                                  entry_with_mac(1, "c")));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    auto before = read_file(dir.file("Software.Audit"));
    store.release_entries(mac_of(9).data());
    EXPECT_EQ(read_file(dir.file("Software.Audit")), before);

    std::vector<std::uint8_t> versioned = entry_with_mac(1, "c");
    put_text(versioned.data(), sw_entry::display_version, "7.1");
    store.set_entry(204, mac_of(1).data(), "c", "7.1");
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

TEST_P(StoreTest, ReopenClosesTheOldStoreAndAFailedReopenKeepsIt) {
    TempDir other;
    write_file(dir.file("Hardware.Audit"), record_with_mac(1));
    write_file(other.file("Hardware.Audit"), concat(record_with_mac(5), record_with_mac(6)));
    Store store(notifier, options());
    ASSERT_EQ(store.open_store(dir.path()), 0);
    store.set_selected_record(0);
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
    store.set_record(1, r.data());
    store.write_record(1);
    EXPECT_EQ(read_file(other.file("Hardware.Audit")), concat(record_with_mac(5), r));
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")), record_with_mac(1));
}

TEST_P(StoreTest, ATableThatCannotGrowIsNotWrittenBeyond) {
    StoreOptions o = options();
    o.table_limit = 10200;  // the load (10 spare records, 100 entries) fits, a growth does not
    Store store(notifier, o);
    ASSERT_EQ(store.open_store(dir.path()), 0);
    for (std::uint8_t k = 1; k <= 10; ++k) {
        std::vector<std::uint8_t> r = record_with_mac(k);
        store.set_record(store.record_count(), r.data());
        store.append_record(store.record_count());
        store.count_appended_record();
    }
    EXPECT_FALSE(store.can_append_record());
    EXPECT_EQ(store.grow_hardware_table(), 1);
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text, "Unable to allocated enough memory");
    EXPECT_EQ(notifier.notices[0].caption, "Memory Error");
    EXPECT_EQ(notifier.notices[0].owner, BoxOwner::main_window);
    std::vector<std::uint8_t> r = record_with_mac(11);
    store.set_record(10, r.data());
    store.count_appended_record();
    EXPECT_EQ(store.record_count(), 10u);
    EXPECT_FALSE(store.write_record(10));
    EXPECT_EQ(read_file(dir.file("Hardware.Audit")).size(), 10u * 808);
}

TEST_P(StoreTest, CustomFieldsAndDeletionWriteThroughAndSkipFreeRecords) {
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

INSTANTIATE_TEST_SUITE_P(IndexedAndPlain, StoreTest, ::testing::Values(true, false),
                         [](const auto& param_info) { return param_info.param ? "Indexed" : "Plain"; });

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

// Random traffic through the indexed store and the plain scans must leave
// identical files and give identical answers.
TEST(StoreIndexes, AgreeWithThePlainScans) {
    TempDir a, b;
    RecordingNotifier na, nb;
    Store indexed(na, StoreOptions{true, 0});
    Store plain(nb, StoreOptions{false, 0});
    ASSERT_EQ(indexed.open_store(a.path()), 0);
    ASSERT_EQ(plain.open_store(b.path()), 0);
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<std::uint8_t>(rng() % n); };
    for (int step = 0; step < 4000; ++step) {
        Store* stores[] = {&indexed, &plain};
        const std::uint8_t last = pick(40);
        const Mac mac = last == 0 ? Mac{} : mac_of(last);  // now and then the zero MAC
        const int action = pick(10);
        for (Store* s : stores) {
            if (action < 2) {
                s->release_entries(mac.data());
            } else if (action < 7) {
                std::size_t o = s->find_free_entry();
                bool append = o == s->used_length();
                if (append && !s->can_append_entry() && s->grow_software_table() != 0) continue;
                s->set_entry(o, mac.data(), "p" + std::to_string(step), "1");
                s->write_entry(o);
                if (append) {
                    s->count_appended_entry();
                    if (!s->can_append_entry()) s->grow_software_table();
                }
            } else if (action < 9) {
                auto found = s->find_record(mac.data());
                std::vector<std::uint8_t> r = record_with_mac(mac[5], "R");
                if (found) {
                    s->set_record(*found, r.data());
                    s->write_record(*found);
                } else {
                    s->set_record(s->record_count(), r.data());
                    s->append_record(s->record_count());
                    s->count_appended_record();
                    if (!s->can_append_record()) s->grow_hardware_table();
                }
            } else {
                auto found = s->find_record(mac.data());
                if (found) s->delete_record(*found);
            }
        }
        ASSERT_EQ(indexed.find_free_entry(), plain.find_free_entry()) << step;
        const std::uint8_t probe_last = pick(40);
        const Mac probe = probe_last == 0 ? Mac{} : mac_of(probe_last);
        ASSERT_EQ(indexed.find_record(probe.data()), plain.find_record(probe.data())) << step;
        ASSERT_EQ(indexed.entry_offsets_of(probe.data()), plain.entry_offsets_of(probe.data())) << step;
    }
    EXPECT_EQ(read_file(a.file("Hardware.Audit")), read_file(b.file("Hardware.Audit")));
    EXPECT_EQ(read_file(a.file("Software.Audit")), read_file(b.file("Software.Audit")));
    EXPECT_GT(indexed.used_length(), 0u);
}

}  // namespace
}  // namespace tally
