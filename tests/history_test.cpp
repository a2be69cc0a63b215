// The change history: events of settled reports through the real intake,
// when a report is settled, the user's actions, placeholder serial numbers,
// and History.Audit across restarts, torn records and purges.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "protocol/manifest.h"
#include "server/intake/history_recorder.h"
#include "server/intake/intake.h"
#include "test_support.h"

namespace tally {
namespace {

using test::RecordingConsole;
using test::RecordingNotifier;
using test::TempDir;
using test::software_packet;
using Programs = std::vector<std::pair<std::string, std::string>>;

const Ipv4 sender{10, 0, 0, 5};
const Mac mac_a{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr std::uint32_t t0 = 1700000000;

HardwareReport base_report() { return test::desktop_report(mac_a, "PC-A"); }

const Programs base_programs{{"Editor", "1.0"}, {"Viewer", "2.0"}, {"Tool", ""}};

struct Text {
    ChangeKind kind;
    std::string what, old_value, new_value;
    bool operator==(const Text& o) const {
        return kind == o.kind && what == o.what && old_value == o.old_value && new_value == o.new_value;
    }
};
std::ostream& operator<<(std::ostream& os, const Text& t) {
    return os << change_kind_text(t.kind) << " " << t.what << ": '" << t.old_value << "' -> '" << t.new_value << "'";
}

class HistoryTest : public ::testing::Test, public test::ServerFiles {
public:
    void SetUp() override { ASSERT_TRUE(opened); }
    template <typename Bytes>
    void handle(const Bytes& d, std::uint32_t now, const Ipv4& from = sender) {
        intake.handle_datagram(d.data(), d.size(), from, now);
    }
    void report(const HardwareReport& r, const Programs& programs, std::uint32_t now, const Ipv4& from = sender) {
        handle(encode_hardware_packet(r), now, from);
        handle(software_packet(r.mac, programs), now, from);
    }
    std::vector<ChangeEvent> events() {
        std::vector<std::uint32_t> all(history.size());
        for (std::uint32_t k = 0; k < all.size(); ++k) all[k] = k;
        std::vector<ChangeEvent> out;
        EXPECT_TRUE(history.read(all, out));
        return out;
    }
    std::vector<Text> texts(std::size_t from = 0) {
        std::vector<Text> out;
        auto all = events();
        for (std::size_t k = from; k < all.size(); ++k)
            out.push_back({all[k].kind, all[k].what, all[k].old_value, all[k].new_value});
        return out;
    }
};

TEST_F(HistoryTest, FirstReportIsOneFirstSeenEvent) {
    report(base_report(), base_programs, t0);
    recorder.settle_quiet(t0 + 30);
    const auto all = events();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].kind, ChangeKind::first_seen);
    EXPECT_EQ(all[0].computer, "PC-A");
    EXPECT_EQ(all[0].mac, mac_a);
    EXPECT_EQ(all[0].time, t0 + 30);
    EXPECT_EQ(history.first_seen(mac_a.data()), t0 + 30);
}

struct ReportCase {
    const char* name;
    std::function<void(HardwareReport&, Programs&, Ipv4&)> change;
    std::vector<Text> expected;
};

TEST_F(HistoryTest, EventsOfTheSecondReport) {
    using K = ChangeKind;
    const std::vector<ReportCase> cases = {
        {"unchanged (up-time, clock, free space and display change every report)",
         [](HardwareReport& r, Programs&, Ipv4&) {
             r.up_time = 9999;
             r.speed_mhz = 1234.5f;
             r.free_disk_space[0] = 1ULL << 30;
             r.video_width = 1920;
         },
         {}},
        {"program added", [](HardwareReport&, Programs& p, Ipv4&) { p.push_back({"Player", "3.1"}); },
         {{K::program_added, "Player", "", "3.1"}}},
        {"program removed", [](HardwareReport&, Programs& p, Ipv4&) { p.erase(p.begin() + 1); },
         {{K::program_removed, "Viewer", "2.0", ""}}},
        {"version changed is one event", [](HardwareReport&, Programs& p, Ipv4&) { p[0].second = "1.1"; },
         {{K::program_updated, "Editor", "1.0", "1.1"}}},
        {"a program listed twice counts once",
         [](HardwareReport&, Programs& p, Ipv4&) { p.push_back({"Editor", "1.0"}); }, {}},
        {"a second version beside the first",
         [](HardwareReport&, Programs& p, Ipv4&) { p.push_back({"Editor", "2.0"}); },
         {{K::program_added, "Editor", "", "2.0"}}},
        {"memory", [](HardwareReport& r, Programs&, Ipv4&) { r.ram_bytes = 1073741824; },
         {{K::hardware, "Memory", "512 MB", "1024 MB"}}},
        {"page file", [](HardwareReport& r, Programs&, Ipv4&) { r.pagefile_bytes = 2097152; },
         {{K::hardware, "Page File", "1 MB", "2 MB"}}},
        {"processor", [](HardwareReport& r, Programs&, Ipv4&) { r.cpuid_code = 0x906EA; },
         {{K::hardware, "Processor", "GenuineIntel F29", "GenuineIntel 906EA"}}},
        {"disk size", [](HardwareReport& r, Programs&, Ipv4&) { r.total_disk_space[0] = 81920ULL << 20; },
         {{K::hardware, "Disk C:", "40960 MB", "81920 MB"}}},
        {"disk added", [](HardwareReport& r, Programs&, Ipv4&) { test::set_drive(r, 1, 'D', 3, 0, 100ULL << 20); },
         {{K::hardware, "Disk D:", "", "100 MB"}}},
        {"disk removed", [](HardwareReport& r, Programs&, Ipv4&) { r.drive_types[0] = 0; },
         {{K::hardware, "Disk C:", "40960 MB", ""}}},
        {"computer name", [](HardwareReport& r, Programs&, Ipv4&) { r.computer_name = "PC-B"; },
         {{K::identity, "Computer Name", "PC-A", "PC-B"}}},
        {"user", [](HardwareReport& r, Programs&, Ipv4&) { r.last_user = "bob"; },
         {{K::identity, "User", "alice", "bob"}}},
        {"nobody logged on is no change", [](HardwareReport& r, Programs&, Ipv4&) { r.last_user = ""; }, {}},
        {"IP address", [](HardwareReport&, Programs&, Ipv4& from) { from = Ipv4{10, 0, 0, 9}; },
         {{K::identity, "IP Address", "10.0.0.5", "10.0.0.9"}}},
        {"Windows version and build",
         [](HardwareReport& r, Programs&, Ipv4&) {
             r.windows_build = 3790;
             r.windows_minor = 2;
         },
         {{K::windows, "Windows Version", "5.1 (platform 2)", "5.2 (platform 2)"},
          {K::windows, "Windows Build", "2600", "3790"}}},
    };
    std::uint32_t now = t0;
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.name);
        report(base_report(), base_programs, now);
        recorder.settle_quiet(now += 60);
        const std::size_t from = history.size();
        HardwareReport r = base_report();
        Programs p = base_programs;
        Ipv4 ip = sender;
        c.change(r, p, ip);
        report(r, p, now, ip);
        recorder.settle_quiet(now += 60);
        EXPECT_EQ(texts(from), c.expected);
        // Back to the base for the next case.
        report(base_report(), base_programs, now);
        recorder.settle_quiet(now += 60);
    }
}

TEST_F(HistoryTest, SettleRule) {
    report(base_report(), base_programs, t0);
    recorder.settle_quiet(t0 + 30);
    Programs more = base_programs;
    more.push_back({"Player", "3.1"});
    struct Case {
        const char* name;
        std::function<void(HistoryRecorder&, HistoryTest&, std::uint32_t)> after_report;
        std::size_t events;
    };
    const std::vector<Case> cases = {
        {"29 s of quiet: still open", [](HistoryRecorder& h, HistoryTest&, std::uint32_t t) { h.settle_quiet(t + 29); }, 0},
        {"30 s of quiet", [](HistoryRecorder& h, HistoryTest&, std::uint32_t t) { h.settle_quiet(t + 30); }, 1},
        {"the clock put back by 30 s", [](HistoryRecorder& h, HistoryTest&, std::uint32_t t) { h.settle_quiet(t - 30); }, 1},
        {"the next hardware packet",
         [](HistoryRecorder&, HistoryTest& f, std::uint32_t t) { f.handle(encode_hardware_packet(base_report()), t + 1); }, 1},
        {"the pass applied", [](HistoryRecorder& h, HistoryTest&, std::uint32_t t) { h.pass_applied(mac_a.data(), t); }, 1},
    };
    std::uint32_t now = t0 + 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t from = history.size();
        report(base_report(), more, now);
        c.after_report(recorder, *this, now);
        EXPECT_EQ(history.size() - from, c.events);
        recorder.settle_all(now);
        report(base_report(), base_programs, now += 100);
        recorder.settle_all(now);
        now += 100;
    }
    EXPECT_EQ(recorder.open_reports(), 0u);
}

TEST_F(HistoryTest, AnAppliedPassIsSettledAtOnce) {
    auto pass = [&](const Programs& programs, std::uint8_t id, std::uint32_t now) {
        const HardwarePacket hw = encode_hardware_packet(base_report());
        const std::vector<std::vector<std::uint8_t>> datagrams = {{hw.begin(), hw.end()}, software_packet(mac_a, programs)};
        Manifest m;
        m.mac = mac_a;
        m.pass_id.fill(id);
        for (const auto& d : datagrams) m.digests.push_back(datagram_digest(d.data(), d.size()));
        handle(encode_manifest(m), now);
        for (const auto& d : datagrams) handle(d, now);
    };
    pass(base_programs, 1, t0);
    EXPECT_EQ(texts(), (std::vector<Text>{{ChangeKind::first_seen, "First report", "", ""}}));
    Programs more = base_programs;
    more.push_back({"Player", "3.1"});
    pass(more, 2, t0 + 5);
    EXPECT_EQ(texts(1), (std::vector<Text>{{ChangeKind::program_added, "Player", "", "3.1"}}));
    EXPECT_EQ(recorder.open_reports(), 0u);
}

TEST_F(HistoryTest, UserActions) {
    report(base_report(), base_programs, t0);
    recorder.settle_all(t0);
    const std::uint32_t i = *store.find_record(mac_a.data());
    std::uint8_t before[hw_record::size];
    std::memcpy(before, store.record(i).bytes(), sizeof before);
    ASSERT_EQ(store.update_custom_fields(i, "Room 4", "", "To be filled by O.E.M.", "A-17"), 0);
    recorder.custom_fields_edited(before, i, t0 + 1);
    recorder.deleting(i, "Delete Record", t0 + 2);
    const std::vector<Text> expected = {{ChangeKind::user_action, "Custom Field 1", "", "Room 4"},
                                        {ChangeKind::user_action, "Asset Tag", "", "A-17"},
                                        {ChangeKind::user_action, "Computer deleted", "", "Delete Record"}};
    EXPECT_EQ(texts(1), expected);
}

TEST(RealSerial, PlaceholdersCountAsNone) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0", ""},           {"To be filled by O.E.M.", ""}, {"Default string", ""}, {"System Serial Number", ""},
        {"Not Specified", ""}, {"None", ""},                 {"   ", ""},             {"0000 00", ""},
        {"", ""},            {"NONE ", ""},                  {"SN-0001", "SN-0001"}, {"00A", "00A"},
    };
    for (const auto& [serial, real] : cases) EXPECT_EQ(real_serial(serial), real) << serial;
}

// --- the file

ChangeEvent event_of(std::uint8_t n, ChangeKind kind = ChangeKind::hardware) {
    ChangeEvent e;
    e.mac = Mac{1, 2, 3, 4, 5, n};
    e.kind = kind;
    e.computer = "PC-" + std::to_string(n);
    e.what = "Memory";
    e.old_value = "1 MB";
    e.new_value = "2 MB";
    return e;
}

TEST(HistoryFile, RecordsSurviveARestartAndSequenceNumbersGoOn) {
    TempDir dir;
    {
        History h;
        ASSERT_EQ(h.open(dir.path()), 0);
        ASSERT_TRUE(h.append({event_of(1), event_of(2)}, t0));
    }
    History h;
    ASSERT_EQ(h.open(dir.path()), 0);
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.next_sequence(), 3u);
    ASSERT_TRUE(h.append({event_of(3)}, t0 + 1));
    std::vector<ChangeEvent> out;
    ASSERT_TRUE(h.read({0, 1, 2}, out));
    ChangeEvent expected = event_of(3);
    expected.sequence = 3;
    expected.time = t0 + 1;
    EXPECT_EQ(out[2], expected);
    EXPECT_EQ(test::read_file(dir.file(history_file_name)).size(), 3 * history_record::size);
}

TEST(HistoryFile, TornTailIsSkippedAndOverwritten) {
    struct Case {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> tear;
    };
    const std::vector<Case> cases = {
        {"a part of a record", [](std::vector<std::uint8_t>& f) { f.resize(f.size() - 100); }},
        {"a record of zeros", [](std::vector<std::uint8_t>& f) { std::fill(f.end() - 256, f.end(), 0); }},
        {"a changed byte", [](std::vector<std::uint8_t>& f) { f[f.size() - 200] ^= 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        {
            History h;
            ASSERT_EQ(h.open(dir.path()), 0);
            ASSERT_TRUE(h.append({event_of(1), event_of(2), event_of(3)}, t0));
        }
        auto bytes = test::read_file(dir.file(history_file_name));
        c.tear(bytes);
        test::write_file(dir.file(history_file_name), bytes);
        History h;
        ASSERT_EQ(h.open(dir.path()), 0);
        EXPECT_EQ(h.size(), 2u);
        EXPECT_EQ(h.next_sequence(), 3u);
        ASSERT_TRUE(h.append({event_of(4)}, t0 + 5));
        History again;
        ASSERT_EQ(again.open(dir.path()), 0);
        ASSERT_EQ(again.size(), 3u);
        std::vector<ChangeEvent> out;
        ASSERT_TRUE(again.read({2}, out));
        EXPECT_EQ(out[0].computer, "PC-4");
        EXPECT_EQ(out[0].sequence, 3u);
    }
}

TEST(HistoryFile, PurgeKeepsRecentAndFirstSeenEventsAndLeavesAMarker) {
    TempDir dir;
    History h;
    ASSERT_EQ(h.open(dir.path()), 0);
    ASSERT_TRUE(h.append({event_of(1, ChangeKind::first_seen), event_of(1), event_of(2)}, t0));
    ASSERT_TRUE(h.append({event_of(3)}, t0 + 10 * 86400));
    std::size_t told = 99;
    h.on_append = [&](std::size_t first) { told = first; };
    // A leftover new file of a purge that a crash ended is not taken.
    test::write_file(dir.file(history_new_file_name), {1, 2, 3});
    ASSERT_TRUE(h.purge_older_than_days(5, t0 + 11 * 86400));
    EXPECT_EQ(told, 0u);
    std::vector<ChangeEvent> out;
    ASSERT_EQ(h.size(), 3u);
    ASSERT_TRUE(h.read({0, 1, 2}, out));
    EXPECT_EQ(out[0].kind, ChangeKind::first_seen);
    EXPECT_EQ(out[1].computer, "PC-3");
    EXPECT_EQ(out[2].kind, ChangeKind::history_purged);
    EXPECT_EQ(out[2].old_value, "2 events");
    EXPECT_EQ(out[2].sequence, 5u);
    EXPECT_EQ(h.first_seen(event_of(1).mac.data()), t0);
    EXPECT_FALSE(test::read_file(dir.file(history_new_file_name)).size());
    // Nothing old enough: no purge, no second marker.
    ASSERT_TRUE(h.purge_older_than_days(5, t0 + 11 * 86400));
    EXPECT_EQ(h.size(), 3u);
    History again;
    ASSERT_EQ(again.open(dir.path()), 0);
    EXPECT_EQ(again.size(), 3u);
    EXPECT_EQ(again.next_sequence(), 6u);
}

// A purge in slices: until the last slice the old file stays in force and
// can be read; an event appended meanwhile is kept; a crash before the rename
// leaves the old file whole; and the file it leaves is the same whatever the
// slice size.
TEST(HistoryFile, PurgeInSlicesKeepsTheOldFileInForceUntilTheRename) {
    constexpr std::uint32_t events = 3000, now = t0 + 20 * 86400;
    const auto fill = [](History& h) {
        for (std::uint32_t k = 0; k < events; ++k) {
            const ChangeKind kind = k % 500 == 0 ? ChangeKind::first_seen : ChangeKind::hardware;
            ASSERT_TRUE(h.append({event_of(static_cast<std::uint8_t>(k), kind)}, t0 + (k % 3 == 0 ? 0 : 15 * 86400)));
        }
    };
    std::vector<std::uint8_t> first_result;
    for (std::size_t slice : {1000u, 7u, 2999u}) {
        SCOPED_TRACE(slice);
        TempDir dir;
        History h;
        ASSERT_EQ(h.open(dir.path()), 0);
        fill(h);
        const std::vector<std::uint8_t> before = test::read_file(dir.file(history_file_name));
        ASSERT_EQ(h.begin_purge_older_than_days(10, now), History::PurgeStep::running);
        int slices = 0;
        History::PurgeStep step = History::PurgeStep::running;
        for (; step == History::PurgeStep::running && slices < 1000; ++slices) {
            if (slices == 1) {
                ASSERT_TRUE(h.append({event_of(250)}, now));  // arrives during the purge
                EXPECT_EQ(test::read_file(dir.file(history_file_name)).size(), before.size() + history_record::size);
                std::vector<ChangeEvent> out;
                EXPECT_TRUE(h.read({0}, out)) << "the old file is read meanwhile";
                EXPECT_EQ(out[0].sequence, 1u);
                // What a crash now would leave: the old file whole, the new one removed at start-up.
                TempDir copy;
                for (const char* name : {history_file_name, history_new_file_name})
                    test::write_file(copy.file(name), test::read_file(dir.file(name)));
                EXPECT_FALSE(test::read_file(copy.file(history_new_file_name)).empty()) << "the copy so far";
                History crashed;
                ASSERT_EQ(crashed.open(copy.path()), 0);
                EXPECT_EQ(crashed.size(), events + 1u);
                EXPECT_TRUE(test::read_file(copy.file(history_new_file_name)).empty());
            }
            step = h.continue_purge(slice, now);
        }
        ASSERT_EQ(step, History::PurgeStep::done);
        EXPECT_GE(slices, static_cast<int>(events / slice) + 1) << "no slice looked at more than it was given";
        EXPECT_FALSE(h.purging());
        // 1000 of 3000 were old, 2 of those first seen and kept; the marker at the end.
        const std::size_t kept = events - 1000 + 2 + 1;
        ASSERT_EQ(h.size(), kept + 1);
        std::vector<ChangeEvent> out;
        ASSERT_TRUE(h.read({static_cast<std::uint32_t>(kept - 1), static_cast<std::uint32_t>(kept)}, out));
        EXPECT_EQ(out[0].computer, "PC-250");
        EXPECT_EQ(out[1].kind, ChangeKind::history_purged);
        EXPECT_EQ(out[1].old_value, "998 events");
        EXPECT_EQ(out[1].sequence, events + 2u);
        EXPECT_EQ(h.first_seen(event_of(0).mac.data()), t0);
        const std::vector<std::uint8_t> after = test::read_file(dir.file(history_file_name));
        EXPECT_EQ(after.size(), (kept + 1) * history_record::size);
        EXPECT_TRUE(test::read_file(dir.file(history_new_file_name)).empty());
        // Every slice size leaves the same file.
        if (first_result.empty()) first_result = after;
        EXPECT_EQ(after, first_result);
        History again;
        ASSERT_EQ(again.open(dir.path()), 0);
        EXPECT_EQ(again.size(), kept + 1);
        EXPECT_EQ(again.next_sequence(), events + 3u);
    }
}

}  // namespace
}  // namespace tally
