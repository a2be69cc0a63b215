// The console core behind a recording view: what each datagram, selection,
// search and reload makes the main window paint, and how often; a disk that
// fails and recovers during intake; side files that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "console_fixture.h"
#include "server/console/console_core.h"

namespace tally {
namespace {

struct RecordingView : ConsoleView {
    std::vector<std::string> shown;  // computer name of each record shown
    int lists = 0;
    std::optional<std::size_t> selected_row;
    std::string hits;
    std::string status;
    std::uint32_t counters[stats_counter_count] = {};
    int statuses = 0;
    void show_status(const std::string& text) override {
        status = text;
        ++statuses;
    }
    void show_counter(StatsCounter c, std::uint32_t value) override { counters[static_cast<int>(c)] = value; }
    void show_list(std::size_t, std::optional<std::size_t> row) override {
        ++lists;
        selected_row = row;
    }
    void show_hits(const std::string& text) override { hits = text; }
    void show_record(const RecordTexts& t) override { shown.push_back(t.general.computer_name); }
    void records_changed() override { ++tables_changed; }
    int tables_changed = 0;
};

class ConsoleCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        tables.add_record(test::mac_of(1), "PC-B");
        tables.add_record(test::mac_of(2), "PC-A");
        ASSERT_TRUE(tables.load(store, dir));
        core.tables_reloaded();
        view = RecordingView{};
    }
    void hardware_packet(std::uint32_t computer, const std::string& name) {
        HardwareReport r;
        r.mac = test::mac_of(computer);
        r.computer_name = name;
        const HardwarePacket p = encode_hardware_packet(r);
        intake.handle_datagram(p.data(), p.size(), Ipv4{10, 0, 0, 1}, 1);
    }
    void software_packet(std::uint32_t computer, const std::string& program) {
        std::vector<std::uint8_t> d{packet_list_start};
        const auto mac = test::mac_of(computer);
        d.insert(d.end(), mac.begin(), mac.end());
        std::uint8_t item[128];
        d.insert(d.end(), item, item + encode_software_item(item, sizeof item, program, false, ""));
        intake.handle_datagram(d.data(), d.size(), Ipv4{10, 0, 0, 1}, 1);
    }
    std::vector<std::string> list_labels() const {
        std::vector<std::string> labels;
        for (std::size_t k = 0; k < core.list().size(); ++k) labels.push_back(core.list().label_at(k));
        return labels;
    }
    static SearchPageTexts software_search(const std::string& text) {
        SearchPageTexts t = cleared_page_texts();
        t.software_text[0] = text;
        return t;
    }

    test::TempDir dir;
    test::RecordingNotifier notifier;
    Store store{notifier};
    test::Tables tables;
    RecordingView view;
    ConsoleCore core{store, view};
    Intake intake{store, core};
};

TEST_F(ConsoleCoreTest, ADatagramOfTheSelectedComputerFillsThePagesOnce) {
    for (bool with_search : {false, true}) {
        if (with_search) core.apply_search_page(software_search("zzz-not-installed"));
        core.select_record(0);
        view = RecordingView{};
        hardware_packet(1, "PC-B2");
        software_packet(1, "Editor");
        hardware_packet(2, "PC-A2");  // another computer: the pages stay
        EXPECT_EQ(view.shown, (std::vector<std::string>{"PC-B2", "PC-B2"})) << with_search;
        EXPECT_EQ(view.lists, 2) << "the list follows each hardware packet once";
    }
}

TEST_F(ConsoleCoreTest, SoftwareSearchRebuildsTheListOtherwiseOneEntryMoves) {
    // A change the core was not told of shows which records were evaluated again.
    auto rename_behind_the_core = [this](std::uint32_t i, const std::string& name) {
        std::uint8_t bytes[hw_record::size];
        std::copy(store.record(i).bytes(), store.record(i).bytes() + hw_record::size, bytes);
        put_text(bytes, hw_record::computer_name, name);
        store.replace_record(i, bytes);
    };
    rename_behind_the_core(1, "PC-C");
    hardware_packet(1, "PC-B");
    EXPECT_EQ(list_labels(), (std::vector<std::string>{"PC-A", "PC-B"})) << "only record 0 moved";

    software_packet(2, "Editor");
    core.apply_search_page(software_search("edit"));
    EXPECT_EQ(list_labels(), std::vector<std::string>{"PC-C"});
    software_packet(1, "Editor");
    EXPECT_EQ(list_labels(), std::vector<std::string>{"PC-C"}) << "a software list alone does not move the list";
    hardware_packet(2, "PC-A");
    EXPECT_EQ(list_labels(), (std::vector<std::string>{"PC-A", "PC-B"})) << "every record evaluated again";
}

TEST_F(ConsoleCoreTest, SearchAndClearKeepTheSelection) {
    core.select_row(1);  // PC-B, record 0
    ASSERT_EQ(core.selected_record(), 0u);
    software_packet(2, "Editor");
    core.apply_search_page(software_search("edit"));
    EXPECT_EQ(core.selected_record(), 0u);
    EXPECT_EQ(view.selected_row, std::nullopt) << "the selected record is not listed";
    EXPECT_EQ(view.hits, "Search Returned 1 hits");
    view.shown.clear();
    core.clear_search();
    EXPECT_EQ(core.selected_record(), 0u);
    EXPECT_EQ(view.selected_row, 1u);
    EXPECT_EQ(view.shown, std::vector<std::string>{"PC-B"});
}

TEST_F(ConsoleCoreTest, AReloadSelectsRecordZeroAndDeletionActsOnTheSelection) {
    core.select_row(0);  // PC-A, record 1
    ASSERT_EQ(core.selected_record(), 1u);
    core.tables_reloaded();
    EXPECT_EQ(core.selected_record(), 0u);
    EXPECT_EQ(view.selected_row, 1u);
    EXPECT_EQ(view.shown.back(), "PC-B");

    core.delete_selected_record();
    EXPECT_FALSE(core.selected_record_exists());
    EXPECT_EQ(list_labels(), std::vector<std::string>{"PC-A"});
    core.delete_selected_record();  // nothing selected: nothing happens
    EXPECT_EQ(store.record_count(), 2u);
}

TEST_F(ConsoleCoreTest, AHandedOverSetIsListedUntilClearAndBulkDeletionFreesInPlace) {
    core.show_record_set({1, 7});
    EXPECT_EQ(list_labels(), std::vector<std::string>{"PC-A"});
    EXPECT_EQ(view.hits, "Search Returned 1 hits");
    hardware_packet(3, "PC-C");  // record 2, a new computer: not in the set
    software_packet(3, "Editor");
    EXPECT_EQ(list_labels(), std::vector<std::string>{"PC-A"});

    core.delete_records({1, 2});
    EXPECT_EQ(view.tables_changed, 1);
    EXPECT_TRUE(list_labels().empty());
    const std::vector<std::uint8_t> hw = test::read_file(dir.file(hardware_file_name));
    ASSERT_EQ(hw.size(), 3 * hw_record::size) << "freed in place, never cut";
    EXPECT_TRUE(std::all_of(hw.begin() + hw_record::size, hw.end(), [](std::uint8_t b) { return b == 0; }));
    const std::vector<std::uint8_t> sw = test::read_file(dir.file(software_file_name));
    ASSERT_EQ(sw.size(), sw_entry::size);
    EXPECT_TRUE(mac_is_zero(sw.data())) << "the deleted computer's programs are freed";

    hardware_packet(4, "PC-D");  // takes free record 1, which left the set
    EXPECT_TRUE(list_labels().empty());
    core.clear_search();
    EXPECT_EQ(list_labels(), (std::vector<std::string>{"PC-B", "PC-D"}));
}

#ifndef _WIN32
// A file size limit stands in for a full disk: a write past it stops part way.
TEST_F(ConsoleCoreTest, AFullDiskLosesNothingAndLeavesWholeRecords) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit full = saved;
    full.rlim_cur = 3 * hw_record::size + 300;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    hardware_packet(3, "PC-3");
    hardware_packet(4, "PC-4");
    software_packet(3, std::string(40, 'P'));
    EXPECT_EQ(test::read_file(dir.file(hardware_file_name)).size(), 3 * hw_record::size) << "no partial record";
    EXPECT_EQ(store.record_count(), 4u);
    EXPECT_EQ(view.counters[static_cast<int>(StatsCounter::unwritten)], 1u);
    EXPECT_EQ(view.status, "Unable to write the database files - the disk is full or failing");
    core.closing();
    ASSERT_EQ(notifier.notices.size(), 1u);
    EXPECT_EQ(notifier.notices[0].text,
              "1 hardware records and 0 software entries could not be saved: the disk is full or failing.");

    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    core.retry_writes();
    EXPECT_EQ(view.counters[static_cast<int>(StatsCounter::unwritten)], 0u);
    const auto hardware = test::read_file(dir.file(hardware_file_name));
    ASSERT_EQ(hardware.size(), 4 * hw_record::size);
    EXPECT_EQ(std::memcmp(hardware.data(), store.record(0).bytes(), hardware.size()), 0);
    EXPECT_EQ(test::read_file(dir.file(software_file_name)).size(), store.used_length());
    core.closing();
    EXPECT_EQ(notifier.notices.size(), 1u) << "nothing left unsaved";
}
#endif

// History events and extension records that cannot be written: the status
// line says so once (and once when they are written again), "Awaiting
// Write" counts them, the retry timer writes them, and the box at close
// names what stays unsaved.
TEST_F(ConsoleCoreTest, UnwritableSideFilesAreSaidOnceRetriedAndNamedAtClose) {
    History history;
    ASSERT_EQ(history.open(dir.path()), 0);
    core.set_history(nullptr, &history);
    ChangeEvent e;
    e.mac = test::mac_of(1);
    e.kind = ChangeKind::user_action;
    e.what = "Custom Field 1";
    {
        test::Unchangeable locked(dir.file(history_file_name));
        test::Unchangeable locked_side(dir.file(extension_file_name));
        if (!locked.made() || !locked_side.made()) GTEST_SKIP() << "no chattr here";
        EXPECT_FALSE(history.append({e, e}, 1000));
        SystemFacts facts;
        facts.manufacturer = "Maker";
        const ExtensionPacket ext = encode_extension_packet(test::mac_of(1), facts);
        intake.handle_datagram(ext.data(), ext.size(), Ipv4{10, 0, 0, 1}, 1);
        ASSERT_EQ(store.unwritten_extension_records(), 1u);
        view.statuses = 0;
        core.tick(1001, default_history_days);
        EXPECT_EQ(view.status, "Unable to write the change history - the disk is full or failing");
        EXPECT_EQ(view.counters[static_cast<int>(StatsCounter::unwritten)], 3u);
        core.retry_writes();
        core.tick(1002, default_history_days);
        EXPECT_EQ(view.statuses, 2) << "said once, beside the database files' line";
        EXPECT_EQ(history.unwritten(), 2u) << "kept to retry";
        core.closing();
        ASSERT_EQ(notifier.notices.size(), 1u);
        EXPECT_EQ(notifier.notices[0].text,
                  "0 hardware records, 0 software entries, 1 extension records and 2 history events could not be "
                  "saved: the disk is full or failing.");
    }
    core.retry_writes();
    EXPECT_EQ(view.status, "Every record is written to the database files again");
    EXPECT_EQ(view.counters[static_cast<int>(StatsCounter::unwritten)], 0u);
    EXPECT_EQ(test::read_file(dir.file(history_file_name)).size(), 2 * history_record::size);
    EXPECT_EQ(history.size(), 2u);
    core.closing();
    EXPECT_EQ(notifier.notices.size(), 1u) << "nothing left unsaved";
}

}  // namespace
}  // namespace tally
