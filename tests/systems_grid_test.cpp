// The Systems window's grid: cell texts, sort orders, filters, the moved row
// against a fresh fill, and the bulk deletion.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "console_fixture.h"
#include "reports_sample.h"
#include "server/model/systems_grid.h"

namespace tally {
namespace {

std::vector<std::uint32_t> shown(const SystemsGrid& grid) { return grid.shown_records(); }

TEST(SystemsGridTest, CellTextsOfAComputer) {
    test::StoreFixture fixture = test::sample_store();
    SystemsGrid grid;
    grid.fill(fixture.store(), test::sample_time + 40 * seconds_per_day + 5);
    EXPECT_EQ(shown(grid), (std::vector<std::uint32_t>{2, 0, 3}));  // by name; record 1 is free
    std::string date = date_text(test::sample_time);
    date.pop_back();
    const std::pair<GridColumn, std::string> cells[] = {
        {GridColumn::computer_name, "PC-ALPHA"},  {GridColumn::user, "alice"},
        {GridColumn::ip_address, "192.168.0.10"}, {GridColumn::mac_address, "00:0C:29:AB:0F:10"},
        {GridColumn::windows, "Windows XP"},      {GridColumn::processor, "GenuineIntel"},
        {GridColumn::speed, "2992"},              {GridColumn::ram, "512"},
        {GridColumn::disk_total, "48960"},        {GridColumn::disk_free, "13300"},  // C: and E:, not Z:
        {GridColumn::fullest_disk_free, "6"},     {GridColumn::last_report, date},
        {GridColumn::days_since, "40"},           {GridColumn::serial_number, "SN-0042"},
        {GridColumn::asset_tag, "AT-9"},          {GridColumn::custom_field_1, "Room 12"},
        {GridColumn::custom_field_2, "Owner, Finance"},
    };
    const std::size_t row = *grid.row_of(0);
    for (const auto& [column, text] : cells) EXPECT_EQ(grid.text(row, column), text) << grid_column_info(column).title;
    // No fixed disk: no share; an unknown Windows by its numbers.
    EXPECT_EQ(grid.text(*grid.row_of(2), GridColumn::fullest_disk_free), "");
    EXPECT_EQ(grid.text(*grid.row_of(2), GridColumn::windows), "Windows 4.20.1000");
    EXPECT_EQ(grid.row_of(1), std::nullopt);  // the deleted record
    for (GridColumn c : {GridColumn::processor_name, GridColumn::system_model, GridColumn::bios_serial,
                         GridColumn::windows_release})
        EXPECT_EQ(grid.text(row, c), "") << "no extension record";

    // A current client's facts: their columns, and the BIOS serial number is found.
    ExtensionRecord ext;
    std::copy_n(fixture.store().record(0).mac(), 6, ext.mac.begin());
    ext.facts = {"Intel(R) Core(TM) i7", "Maker", "Desk 1", "BIOS-77", "Professional", "23H2"};
    ext.flags = ext_record::flag_signs_reports;
    EXPECT_EQ(grid.text(row, GridColumn::signed_report), "No");
    ASSERT_TRUE(fixture.store().store_extension(0, ext));
    grid.update_record(fixture.store(), 0, test::sample_time);
    const std::size_t again = *grid.row_of(0);
    EXPECT_EQ(grid.text(again, GridColumn::processor_name), "Intel(R) Core(TM) i7");
    EXPECT_EQ(grid.text(again, GridColumn::system_model), "Maker Desk 1");
    EXPECT_EQ(grid.text(again, GridColumn::bios_serial), "BIOS-77");
    EXPECT_EQ(grid.text(again, GridColumn::windows_release), "Professional 23H2");
    EXPECT_EQ(grid.text(again, GridColumn::signed_report), "Yes");
    grid.set_find("bios-7");
    EXPECT_EQ(shown(grid), (std::vector<std::uint32_t>{0}));

    // A firmware placeholder is no serial number; the history gives First Seen.
    ASSERT_EQ(fixture.store().update_custom_fields(0, "", "", "To be filled by O.E.M.", ""), 0);
    History history;
    ASSERT_EQ(history.open(fixture.directory()), 0);
    ChangeEvent seen;
    std::copy_n(fixture.store().record(0).mac(), 6, seen.mac.begin());
    seen.kind = ChangeKind::first_seen;
    ASSERT_TRUE(history.append({seen}, test::sample_time));
    grid.set_history(&history);
    grid.update_record(fixture.store(), 0, test::sample_time);
    grid.set_find("filled");
    EXPECT_EQ(shown(grid), (std::vector<std::uint32_t>{}));
    grid.set_find("");
    EXPECT_EQ(grid.text(*grid.row_of(0), GridColumn::serial_number), "");
    EXPECT_EQ(grid.text(*grid.row_of(0), GridColumn::first_seen), date) << "the sample's report time";
}

TEST(SystemsGridTest, NaturalCompare) {
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {{"PC9", "PC10", -1}, {"pc10", "PC9", 1},  {"v1.10", "v1.9", 1}, {"007", "7", -1},
                 {"abc", "ABD", -1},  {"", "a", -1},       {"x", "x", 0},       {"109.0.1", "109.0.10", -1}};
    for (const auto& c : cases) EXPECT_EQ(natural_compare(c.a, c.b), c.order) << c.a << " " << c.b;
}

TEST(SystemsGridTest, WindowTexts) {
    const std::pair<std::string, std::uint32_t> days[] = {{"", 0}, {"30", 30}, {"007", 7}, {"12x", 12},
                                                          {"x12", 0}, {"99999999999", 99999}};
    for (const auto& [text, number] : days) EXPECT_EQ(parse_days(text), number) << text;
    EXPECT_EQ(systems_count_text(3, 340), "3 of 340 systems listed");
    EXPECT_EQ(delete_listed_confirmation_text(2),
              "Are you sure you wish to delete the 2 listed systems and their software from the database?");
}

class GridTest : public ::testing::Test {
protected:
    void SetUp() override {
        const struct {
            const char* name;
            const char* user;
            Ipv4 ip;
            std::uint32_t ram, days;
            const char* serial;
        } computers[] = {
            {"PC10", "alice", {10, 0, 0, 10}, 512, 3, "S-1"},     {"PC9", "Bob", {10, 0, 0, 9}, 2048, 45, "S-2"},
            {"pc2", "carol", {192, 168, 1, 2}, 256, 30, "X-3"},   {"Lab", "ALICE2", {9, 255, 255, 255}, 512, 0, ""},
        };
        std::uint32_t k = 0;
        for (const auto& c : computers) {
            test::RecordBytes& r = tables.add_record(test::mac_of(++k), c.name, c.ip);
            put_text(r.data(), hw_record::last_user, c.user);
            put_text(r.data(), hw_record::serial_number, c.serial);
            put_u32(r.data(), hw_record::ram_mb, c.ram);
            put_u32(r.data(), hw_record::last_update, now - c.days * seconds_per_day);
            if (k == 2) tables.add_free_record();
        }
        ASSERT_TRUE(tables.load(store, dir));
        grid.fill(store, now);
    }
    const std::uint32_t now = 1700000000;
    test::TempDir dir;
    test::RecordingNotifier notifier;
    Store store{notifier};
    test::Tables tables;
    SystemsGrid grid;
};

TEST_F(GridTest, SortsByTextNumberAndAddress) {
    // Records: 0 PC10, 1 PC9, 2 free, 3 pc2, 4 Lab.
    const struct {
        GridColumn column;
        bool ascending;
        std::vector<std::uint32_t> order;
    } cases[] = {
        {GridColumn::computer_name, true, {4, 3, 1, 0}},
        {GridColumn::computer_name, false, {0, 1, 3, 4}},
        {GridColumn::ip_address, true, {4, 1, 0, 3}},  // 9.255.255.255 < 10.0.0.9 < 10.0.0.10 < 192...
        {GridColumn::ram, true, {3, 0, 4, 1}},          // equal numbers keep table order
        {GridColumn::ram, false, {1, 0, 4, 3}},
        {GridColumn::days_since, false, {1, 3, 0, 4}},
        {GridColumn::last_report, true, {1, 3, 0, 4}},
        {GridColumn::serial_number, true, {4, 0, 1, 3}},
    };
    for (const auto& c : cases) {
        grid.sort_by(c.column, c.ascending);
        EXPECT_EQ(shown(grid), c.order) << grid_column_info(c.column).title << " " << c.ascending;
    }
    grid.click_column(GridColumn::user);
    EXPECT_TRUE(grid.ascending());
    grid.click_column(GridColumn::user);
    EXPECT_FALSE(grid.ascending());
    EXPECT_EQ(shown(grid), (std::vector<std::uint32_t>{3, 1, 4, 0}));
}

TEST_F(GridTest, FindStaleDaysAndRecordSetCombine) {
    const struct {
        const char* find;
        std::uint32_t days;
        std::optional<std::vector<std::uint32_t>> set;
        std::vector<std::uint32_t> shown;
    } cases[] = {
        {"ALICE", 0, std::nullopt, {4, 0}},      // users alice and ALICE2, any case
        {"alice", 0, std::nullopt, {4, 0}},      //
        {"10.0.0.1", 0, std::nullopt, {0}},      // IP text
        {"00:11:00:00:00:02", 0, std::nullopt, {1}},  // MAC text
        {"x-3", 0, std::nullopt, {3}},           // serial number
        {"pc", 0, std::nullopt, {3, 1, 0}},      //
        {"", 30, std::nullopt, {3, 1}},          // not reported for 30 days or more
        {"", 46, std::nullopt, {}},              //
        {"pc", 0, std::vector<std::uint32_t>{0, 4, 99}, {0}},
        {"e1", 0, std::nullopt, {}},  // never across two fields ("alice", "10.0.0.10")
        {"", 0, std::nullopt, {4, 3, 1, 0}},
    };
    for (const auto& c : cases) {
        grid.set_record_set(c.set);
        grid.set_not_reported_days(c.days);
        grid.set_find(c.find);
        EXPECT_EQ(shown(grid), c.shown) << "'" << c.find << "' " << c.days;
    }
    // Typing on narrows the rows already shown; deleting a letter widens again.
    for (const char* typed : {"p", "pc", "pc1", "pc", ""}) grid.set_find(typed);
    EXPECT_EQ(shown(grid), (std::vector<std::uint32_t>{4, 3, 1, 0}));
}

// Random reports, one record at a time: the moved row gives the grid that a
// fresh fill with the same filters and order gives.
TEST_F(GridTest, UpdatingOneRecordGivesTheFilledGrid) {
    std::mt19937 random(11);
    grid.set_not_reported_days(2);
    grid.set_find("p");
    for (GridColumn column : {GridColumn::computer_name, GridColumn::ip_address, GridColumn::days_since}) {
        grid.sort_by(column, column != GridColumn::days_since);
        for (int step = 0; step < 200; ++step) {
            const std::uint32_t i = static_cast<std::uint32_t>(random() % store.record_count());
            test::RecordBytes r{};
            if (random() % 6 != 0) {
                const auto mac = test::mac_of(100 + step);
                std::copy(mac.begin(), mac.end(), r.begin() + hw_record::mac.offset);
                put_text(r.data(), hw_record::computer_name, (random() % 2 ? "PC" : "Lab") + std::to_string(random() % 9));
                r[hw_record::ip_address.offset + 3] = static_cast<std::uint8_t>(random() % 30);
                put_u32(r.data(), hw_record::last_update, now - std::uint32_t(random() % 5) * seconds_per_day);
            }
            store.replace_record(i, r.data());
            grid.update_record(store, i, now);
            SystemsGrid filled;
            filled.set_not_reported_days(2);
            filled.set_find("p");
            filled.sort_by(column, grid.ascending());
            filled.fill(store, now);
            ASSERT_EQ(shown(grid), shown(filled)) << step;
        }
    }
}

}  // namespace
}  // namespace tally
