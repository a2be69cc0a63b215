// The publisher against a real PostgreSQL over ODBC: reports through the
// real intake and history, published by the real worker into a private
// cluster (tests/pg_cluster.sh; CTest starts it as a fixture, run alone the
// test starts and removes its own). Native only: it needs the PostgreSQL
// binaries and unixODBC with the PostgreSQL driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

#include "server/intake/history_recorder.h"
#include "server/intake/intake.h"
#include "server/model/formats.h"
#include "server/publish/database.h"
#include "server/publish/publisher.h"
#include "server/publish/sql_text.h"
#include "server/publish/watermark.h"
#include "test_support.h"

namespace tally {
namespace {

using test::TempDir;
using Programs = std::vector<std::pair<std::string, std::string>>;
using Rows = std::vector<DatabaseRow>;

const char pg_binaries[] = "/usr/lib/postgresql/15/bin/initdb";

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

std::uint32_t wall_now() { return static_cast<std::uint32_t>(std::time(nullptr)); }

// The command that removes the test's own cluster, also when the test
// crashes or is ended (the fixture's cluster is stopped by the fixture).
std::string removal;
void remove_and_end(int signal) {
    // not async-signal-safe, but the process ends right after
    if (!removal.empty()) std::system(removal.c_str());
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The cluster of the CTest fixture (TALLY_PG_DIR), or one of the test's own.
class Cluster {
public:
    Cluster() : script_(env_or("TALLY_PG_CLUSTER", TALLY_PG_CLUSTER_SCRIPT)), dir_(env_or("TALLY_PG_DIR", "")) {
        own_ = dir_.empty();
        if (own_) {
            dir_ = scratch_.path() + "/pg";
            removal = command("remove");
            for (int s : {SIGSEGV, SIGABRT, SIGTERM, SIGINT}) std::signal(s, remove_and_end);
        }
        started_ = run("start");
        setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    }
    ~Cluster() {
        if (!own_) return;
        run("remove");
        removal.clear();
    }
    std::string command(const std::string& what) const {
        return "bash " + script_ + " " + what + " " + dir_ + " >/dev/null";
    }
    bool started() const { return started_; }
    bool run(const std::string& what) const { return std::system(command(what).c_str()) == 0; }
    std::string port() const {
        const auto bytes = test::read_file(dir_ + "/port");
        std::string p(bytes.begin(), bytes.end());
        while (!p.empty() && (p.back() == '\n' || p.back() == '\r')) p.pop_back();
        return p;
    }

private:
    TempDir scratch_;
    std::string script_, dir_;
    bool own_ = false, started_ = false;
};

// One tallyhall's working directory: store, history, intake, and the
// publisher for its site.
struct Site : test::ServerFiles {
    explicit Site(std::string site_name) : name(std::move(site_name)) { EXPECT_TRUE(opened); }
    static Mac mac_of(int c) { return {0x00, 0x16, 0x3E, 0x00, static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)}; }
    void report(int c, const std::string& computer, const Programs& programs, std::uint32_t memory_mb = 4096) {
        HardwareReport r = test::desktop_report(mac_of(c), computer);
        r.ram_mb = memory_mb;
        test::set_windows(r, 10, 0, 19045);
        r.total_disk_space[0] = 256ULL << 30;
        r.free_disk_space[0] = std::uint64_t(c % 200) << 30;
        r.last_user = "user" + std::to_string(c);
        const std::uint32_t now = wall_now();
        const auto hw = encode_hardware_packet(r);
        intake.handle_datagram(hw.data(), hw.size(), {10, 0, 0, 7}, now);
        SystemFacts facts;
        facts.manufacturer = "Maker \xC9" + std::to_string(c % 3);
        facts.model = "Model's \"" + std::to_string(c % 5) + "\"";
        const auto ext = encode_extension_packet(r.mac, facts);
        intake.handle_datagram(ext.data(), ext.size(), {10, 0, 0, 7}, now);
        const auto sw = test::software_packet(r.mac, programs);
        intake.handle_datagram(sw.data(), sw.size(), {10, 0, 0, 7}, now);
        recorder.settle_all(now);
    }
    std::uint32_t record_of(int c) const { return *store.find_record(mac_of(c).data()); }
    void edit(int c, const std::string& custom_1) {
        const std::uint32_t i = record_of(c);
        std::uint8_t before[hw_record::size];
        std::memcpy(before, store.record(i).bytes(), sizeof before);
        const RecordView r = store.record(i);
        ASSERT_EQ(store.update_custom_fields(i, custom_1, r.custom_field_2(), r.serial_number(), r.asset_tag()), 0);
        recorder.custom_fields_edited(before, i, wall_now());
    }
    void remove(int c) {
        const std::uint32_t i = record_of(c);
        recorder.deleting(i, "Delete Record", wall_now());
        store.delete_record(i);
    }
    void configure(const std::string& connection_string) {
        publisher.configure({true, connection_string, name}, dir.path());
    }
    // Ticks as the window's timer does until nothing awaits publishing.
    bool publish(int seconds = 60) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            publisher.tick(wall_now());
            const PublishStatus s = publisher.status();
            if (s.connected && s.awaiting == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string name;
    Publisher publisher{store, history, &make_odbc_database};
};

// Program names that would break a statement built carelessly, and texts
// beyond ASCII (Windows-1252: e acute, euro sign, an undefined byte).
Programs programs_of(int c) {
    Programs p = {{"Editor", "1." + std::to_string(c % 4)},
                  {"O'Brien's \"Tool\"", "2"},
                  {"C:\\Program Files\\x\\", "\\"},
                  {"x'); DROP TABLE programs; --", "?"},
                  {"{fn CURDATE()} $1 $$ ?", "{d '2020-01-01'}"},
                  {"Caf\xE9 \x80 \x81 Suite", "7\x96" "1"},
                  {"Editor", "1." + std::to_string(c % 4)}};  // listed twice: one row
    for (int k = 0; k < 10 + c % 7; ++k) p.push_back({"Program " + std::to_string(k), std::to_string(c + k)});
    return p;
}

class PublishDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(pg_binaries)) GTEST_SKIP() << "no PostgreSQL binaries (" << pg_binaries << ")";
        cluster = std::make_unique<Cluster>();
        ASSERT_TRUE(cluster->started()) << "the private PostgreSQL cluster did not start";
        ASSERT_TRUE(db->connect("tally_test")) << db->last_error();
        for (const char* table : {"sites", "computers", "programs", "change_events"})
            ASSERT_TRUE(db->execute(std::string("DROP TABLE IF EXISTS ") + table)) << db->last_error();
    }
    // The query's rows; once more on a new connection when the database
    // was restarted under the old one.
    Rows rows(const std::string& sql) {
        Rows out;
        if (db->query(sql, out)) return out;
        EXPECT_TRUE(db->connect("tally_test") && db->query(sql, out)) << sql << ": " << db->last_error();
        return out;
    }
    std::string cell(const std::string& sql) {
        const Rows r = rows(sql);
        return r.empty() || r[0].empty() ? "(none)" : r[0][0];
    }
    // The site's computers and programs as the store holds them, in the
    // database's order and texts.
    static Rows store_computers(const Site& s) {
        Rows out;
        for (std::uint32_t i = 0; i < s.store.record_count(); ++i) {
            if (!s.store.holds_computer(i)) continue;
            const RecordView r = s.store.record(i);
            ExtensionRecord ext;
            EXPECT_TRUE(s.store.extension(i, ext));
            out.push_back({format_mac(r.mac()), cp1252_to_utf8(r.computer_name()), r.last_user(),
                           std::to_string(r.ram_mb()), cp1252_to_utf8(r.custom_field_1()),
                           cp1252_to_utf8(ext.facts.manufacturer), cp1252_to_utf8(ext.facts.model),
                           std::to_string(*s.history.first_seen(r.mac()))});
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    Rows database_computers(const Site& s) {
        return rows("SELECT mac, computer_name, user_name, memory_mb, custom_field_1, manufacturer, model, "
                    "extract(epoch FROM first_seen)::bigint FROM computers WHERE site = '" + s.name + "' ORDER BY 1");
    }
    static Rows store_programs(const Site& s) {
        Rows out;
        for (std::uint32_t i = 0; i < s.store.record_count(); ++i) {
            if (!s.store.holds_computer(i)) continue;
            const std::uint8_t* mac = s.store.record(i).mac();
            for (std::size_t o : s.store.entry_offsets_of(mac)) {
                const EntryView e = s.store.entry(o);
                out.push_back({format_mac(mac), cp1252_to_utf8(e.display_name()), cp1252_to_utf8(e.display_version())});
            }
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }
    Rows database_programs(const Site& s) {
        return rows("SELECT mac, program, version FROM programs WHERE site = '" + s.name + "' ORDER BY 1, 2, 3");
    }
    void expect_database_equals_store(const Site& s) {
        EXPECT_EQ(database_computers(s), store_computers(s));
        EXPECT_EQ(database_programs(s), store_programs(s));
        const std::string events = "FROM change_events WHERE site = '" + s.name + "'";
        EXPECT_EQ(cell("SELECT count(*) " + events), std::to_string(s.history.size()));
        EXPECT_EQ(cell("SELECT max(sequence) " + events), std::to_string(s.history.next_sequence() - 1));
    }
    // The row versions of a site's rows: unchanged when nothing was written.
    std::string row_versions(const std::string& site) {
        std::string out;
        for (const char* table : {"computers", "programs", "change_events"})
            out += cell(std::string("SELECT coalesce(string_agg(xmin::text, ',' ORDER BY xmin::text), '') FROM ") +
                        table + " WHERE site = '" + site + "'") + ";";
        return out;
    }

    std::unique_ptr<Cluster> cluster;
    std::unique_ptr<Database> db = make_odbc_database();
};

TEST_F(PublishDatabaseTest, SitesArriveWholeOnceAndIncrementallyThroughOutagesAndRestarts) {
    auto north = std::make_unique<Site>("North");  // restarted below
    for (int c = 0; c < 40; ++c) north->report(c, "PC-" + std::to_string(c) + (c % 9 == 0 ? "-\xE9t\xE9" : ""), programs_of(c));

    // A first connection publishes everything.
    north->configure("tally_test");
    ASSERT_TRUE(north->publish()) << north->publisher.take_status_text();
    expect_database_equals_store(*north);

    // A report, a custom-field edit and a deletion each arrive.
    Programs changed = programs_of(3);
    changed.erase(changed.begin() + 1);
    changed.push_back({"New Program", "9"});
    north->report(3, "PC-3", changed, 8192);
    north->edit(5, "Room 1'2\xB0");
    north->remove(7);
    ASSERT_TRUE(north->publish());
    expect_database_equals_store(*north);
    EXPECT_TRUE(rows("SELECT 1 FROM computers WHERE mac = '" + format_mac(Site::mac_of(7).data()) + "'").empty());

    // A repeated publish (a full sync: the watermark is gone) changes no row.
    north->publisher.tick(wall_now());
    const std::string before = row_versions("North");
    remove_watermark(north->dir.path());
    north->configure("tally_test");
    ASSERT_TRUE(north->publish());
    EXPECT_EQ(row_versions("North"), before);

    // A restart goes on from the watermark (no full sync: the site keeps its
    // token): what changed while the server was down arrives, nothing else
    // is written.
    north->publisher.configure({}, north->dir.path());
    north->report(11, "PC-11", programs_of(12));
    const std::string others = "SELECT mac, xmin::text FROM computers WHERE site = 'North' AND mac <> '" +
                               format_mac(Site::mac_of(11).data()) + "' ORDER BY 1";
    const Rows others_before = rows(others);
    const std::string token = "SELECT sync_token FROM sites WHERE site = 'North'";
    const std::string token_before = cell(token);
    north->configure("tally_test");
    ASSERT_TRUE(north->publish());
    expect_database_equals_store(*north);
    EXPECT_EQ(rows(others), others_before);
    EXPECT_EQ(cell(token), token_before);

    // The database stopped during a stream of reports, started again:
    // every change arrives, each event once.
    ASSERT_TRUE(cluster->run("stop"));
    for (int c = 20; c < 30; ++c) {
        north->report(c, "PC-" + std::to_string(c), programs_of(c + 1));
        north->publisher.tick(wall_now());
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    north->remove(21);
    north->publish(3);
    const PublishStatus away = north->publisher.status();
    EXPECT_FALSE(away.connected);
    EXPECT_GE(away.awaiting, 11u);
    const std::string outage = north->publisher.take_status_text();
    EXPECT_EQ(outage.rfind("Cannot publish to the database: ", 0), 0u) << outage;
    EXPECT_GT(outage.size(), std::string("Cannot publish to the database: ").size() + 5);
    ASSERT_TRUE(cluster->run("start"));
    ASSERT_TRUE(north->publish(90));
    EXPECT_EQ(north->publisher.take_status_text(), "Publishing to the database again");
    expect_database_equals_store(*north);

    // A second site in the same database (another MAC numbering overlaps
    // the first's) leaves the first site's rows alone.
    const std::string north_rows = row_versions("North");
    Site south("South");
    for (int c = 0; c < 15; ++c) south.report(c, "SOUTH-" + std::to_string(c), programs_of(c * 2));
    south.configure("DRIVER={PostgreSQL Unicode};SERVER=127.0.0.1;PORT=" + cluster->port() +
                    ";DATABASE=inventory;UID=postgres;");
    ASSERT_TRUE(south.publish()) << south.publisher.take_status_text();
    expect_database_equals_store(south);
    EXPECT_EQ(row_versions("North"), north_rows);
    EXPECT_TRUE(north->publish());
    expect_database_equals_store(*north);

    // One query over both sites: which computers have Editor 1.2?
    const Rows editors = rows(
        "SELECT c.site, c.computer_name FROM computers c JOIN programs p ON p.site = c.site AND p.mac = c.mac "
        "WHERE p.program = 'Editor' AND p.version = '1.2' ORDER BY 1, 2");
    Rows expected;
    for (const Site* s : {north.get(), &south})
        for (std::uint32_t i = 0; i < s->store.record_count(); ++i) {
            if (!s->store.holds_computer(i)) continue;
            for (std::size_t o : s->store.entry_offsets_of(s->store.record(i).mac()))
                if (s->store.entry(o).display_name() == "Editor" && s->store.entry(o).display_version() == "1.2") {
                    expected.push_back({s->name, cp1252_to_utf8(s->store.record(i).computer_name())});
                    break;
                }
        }
    std::sort(expected.begin(), expected.end());
    EXPECT_GE(expected.size(), 10u);
    EXPECT_EQ(editors, expected);
}

}  // namespace
}  // namespace tally
