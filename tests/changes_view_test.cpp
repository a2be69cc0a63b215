// The Changes window's rows and a timeline: filters by time, kind and find
// text, order, live additions and the sheet.
#include <gtest/gtest.h>

#include "server/model/changes_view.h"
#include "server/reports/sheet_csv.h"
#include "test_support.h"

namespace tally {
namespace {

using test::RecordingNotifier;
using test::TempDir;
constexpr std::uint32_t day = 86400, t0 = 1700000000;

ChangeEvent event(std::uint8_t computer, ChangeKind kind, const std::string& what, const std::string& old_v,
                  const std::string& new_v) {
    ChangeEvent e;
    e.mac = Mac{2, 0, 0, 0, 0, computer};
    e.kind = kind;
    e.computer = "PC-" + std::to_string(computer);
    e.what = what;
    e.old_value = old_v;
    e.new_value = new_v;
    return e;
}

class ChangesViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(store.open_store(dir.path()), 0);
        ASSERT_EQ(history.open(dir.path()), 0);
        ASSERT_TRUE(history.append({event(1, ChangeKind::first_seen, "First report", "", "")}, t0));
        ASSERT_TRUE(history.append({event(1, ChangeKind::program_added, "Editor", "", "1.0"),
                                    event(2, ChangeKind::hardware, "Memory", "512 MB", "1024 MB")},
                                   t0 + 5 * day));
        ASSERT_TRUE(history.append({event(2, ChangeKind::identity, "User", "alice", "bob"),
                                    event(1, ChangeKind::program_updated, "Editor", "1.0", "1.1")},
                                   t0 + 9 * day));
    }
    std::vector<std::string> whats() const {
        std::vector<std::string> out;
        for (std::size_t r = 0; r < view.size(); ++r)
            out.push_back(view.text(r, ChangeColumn::computer) + " " + view.text(r, ChangeColumn::what));
        return out;
    }
    TempDir dir;
    RecordingNotifier notifier;
    Store store{notifier};
    History history;
    ChangesView view;
};

TEST_F(ChangesViewTest, Filters) {
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        std::uint32_t since, kinds;
        std::optional<Mac> computer;
        const char* find;
        V expected;  // newest first
    };
    const std::vector<Case> cases = {
        {"all", 0, all_change_kinds, {}, "", {"PC-1 Editor", "PC-2 User", "PC-2 Memory", "PC-1 Editor", "PC-1 First report"}},
        {"since day 5", t0 + 5 * day, all_change_kinds, {}, "", {"PC-1 Editor", "PC-2 User", "PC-2 Memory", "PC-1 Editor"}},
        {"updates", 0, change_group_kinds(ChangeGroup::programs_updated), {}, "", {"PC-1 Editor"}},
        {"identity takes first seen", 0, change_group_kinds(ChangeGroup::identity), {}, "", {"PC-2 User", "PC-1 First report"}},
        {"find a user's value, either case", 0, all_change_kinds, {}, "BoB", {"PC-2 User"}},
        {"find a program", 0, all_change_kinds, {}, "edit", {"PC-1 Editor", "PC-1 Editor"}},
        {"find a computer", 0, all_change_kinds, {}, "pc-2", {"PC-2 User", "PC-2 Memory"}},
        {"timeline", 0, all_change_kinds, Mac{2, 0, 0, 0, 0, 2}, "", {"PC-2 User", "PC-2 Memory"}},
        {"timeline of a computer without events", 0, all_change_kinds, Mac{2, 0, 0, 0, 0, 9}, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.set_since(c.since);
        view.set_kinds(c.kinds);
        view.set_computer(c.computer);
        view.fill(history, store);
        view.set_find(c.find);
        EXPECT_EQ(whats(), c.expected);
        view.set_find("");
    }
}

TEST_F(ChangesViewTest, SortAndLiveAdditions) {
    view.set_computer(Mac{2, 0, 0, 0, 0, 1});
    view.fill(history, store);
    view.click_column(ChangeColumn::new_value);
    EXPECT_EQ(view.text(0, ChangeColumn::new_value), "");
    EXPECT_EQ(view.text(2, ChangeColumn::new_value), "1.1");
    view.sort_by(ChangeColumn::time, false);
    const std::size_t first = history.size();
    ASSERT_TRUE(history.append({event(2, ChangeKind::hardware, "Page File", "1 MB", "2 MB"),
                                event(1, ChangeKind::program_removed, "Viewer", "2.0", "")},
                               t0 + 10 * day));
    view.events_appended(history, store, first);
    ASSERT_EQ(view.size(), 4u) << "only this computer's new event joins";
    EXPECT_EQ(view.text(0, ChangeColumn::what), "Viewer");
    EXPECT_EQ(view.text(0, ChangeColumn::kind), "Program removed");
    EXPECT_EQ(view.text(0, ChangeColumn::time), change_time_text(t0 + 10 * day));
}

TEST_F(ChangesViewTest, SheetHoldsTheShownRows) {
    view.set_kinds(change_group_kinds(ChangeGroup::identity));
    view.fill(history, store);
    const std::string sheet = sheet_text([&](SheetWriter& w) { return write_changes_sheet(view, w); });
    EXPECT_EQ(sheet, "Time,Computer,Kind,What,Old Value,New Value\r\n" + change_time_text(t0 + 9 * day) +
                         ",PC-2,Identity,User,alice,bob\r\n" + change_time_text(t0) +
                         ",PC-1,First seen,First report,,\r\n");
}

// Times within and across quarter hours and hours, and a clock set back
// (an event older than the one before it): the rows since a time and their
// time texts.
TEST(ChangesViewTimes, RowsSinceATimeAndTheirTexts) {
    TempDir dir;
    RecordingNotifier notifier;
    Store store{notifier};
    History history;
    ASSERT_EQ(store.open_store(dir.path()), 0);
    ASSERT_EQ(history.open(dir.path()), 0);
    const std::vector<std::uint32_t> times = {t0 + 899, t0 + 900, t0 + 3599, t0 + 3600, t0 - 2 * day, t0 + 7 * day + 1};
    for (std::uint32_t t : times) ASSERT_TRUE(history.append({event(1, ChangeKind::hardware, "Memory", "1", "2")}, t));
    const struct {
        std::uint32_t since;
        std::vector<std::uint32_t> expected;  // newest first
    } cases[] = {
        {0, {t0 + 7 * day + 1, t0 - 2 * day, t0 + 3600, t0 + 3599, t0 + 900, t0 + 899}},
        {t0 - day, {t0 + 7 * day + 1, t0 + 3600, t0 + 3599, t0 + 900, t0 + 899}},
        {t0 + 3600, {t0 + 7 * day + 1, t0 + 3600}},
        {t0 + 8 * day, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.since);
        ChangesView view;
        view.set_since(c.since);
        view.fill(history, store);
        std::vector<std::string> shown, expected;
        for (std::size_t r = 0; r < view.size(); ++r) shown.push_back(view.text(r, ChangeColumn::time));
        for (std::uint32_t t : c.expected) expected.push_back(change_time_text(t));
        EXPECT_EQ(shown, expected);
    }
}

TEST(ChangeTexts, TimeFilterOfTheBoxes) {
    const std::uint32_t now = t0;
    EXPECT_EQ(changes_since("7", "", now), now - 7 * day);
    EXPECT_EQ(changes_since("", "", now), 0u);
    EXPECT_EQ(changes_since("0", "", now), 0u);
    EXPECT_EQ(changes_since("99999", "", now), 0u) << "before 1970: every event";
    EXPECT_EQ(changes_since("7", "2024-02-29", now), *parse_since_date("2024-02-29")) << "a date wins";
    EXPECT_EQ(changes_since("7", "not a date", now), now - 7 * day);
}

TEST(ChangeTexts, SinceDate) {
    EXPECT_EQ(change_time_text(*parse_since_date("2024-02-29")).substr(0, 19), "2024-02-29 00:00:00");
    for (const char* bad : {"", "2024-02-30", "2024-13-01", "yesterday", "2024-01-01x", "1969-12-31"})
        EXPECT_FALSE(parse_since_date(bad)) << bad;
}

}  // namespace
}  // namespace tally

namespace tally {
namespace {

TEST(RecentInstalls, ComputersThatInstalledAProgramOrVersionSince) {
    TempDir dir;
    RecordingNotifier notifier;
    Store store{notifier};
    ASSERT_EQ(store.open_store(dir.path()), 0);
    std::uint8_t record[hw_record::size] = {};
    for (std::uint8_t c = 1; c <= 3; ++c) {
        const Mac mac{2, 0, 0, 0, 0, c};
        std::copy(mac.begin(), mac.end(), record + hw_record::mac.offset);
        ASSERT_TRUE(store.add_record(record));
    }
    History history;
    ASSERT_EQ(history.open(dir.path()), 0);
    ASSERT_TRUE(history.append({event(1, ChangeKind::program_added, "Editor", "", "1.0")}, t0));
    ASSERT_TRUE(history.append({event(2, ChangeKind::program_updated, "Editor", "1.0", "1.1"),
                                event(3, ChangeKind::program_removed, "Editor", "1.1", ""),
                                event(9, ChangeKind::program_added, "Editor", "", "1.1")},
                               t0 + 5 * day));
    using R = std::vector<std::uint32_t>;
    EXPECT_EQ(recent_installs(history, store, "Editor", std::nullopt, 0), (R{0, 1})) << "no record for computer 9";
    EXPECT_EQ(recent_installs(history, store, "Editor", std::nullopt, t0 + day), (R{1}));
    EXPECT_EQ(recent_installs(history, store, "Editor", std::string("1.0"), 0), (R{0}));
    EXPECT_EQ(recent_installs(history, store, "Viewer", std::nullopt, 0), (R{}));
    EXPECT_EQ(installed_within_text(7), " installed in the last 7 days");
    EXPECT_EQ(installed_within_text(1), " installed in the last 1 day");
}

}  // namespace
}  // namespace tally
