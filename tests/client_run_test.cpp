// scoutly's run over a scripted platform: exit codes, usage message, bind
// port, the datagrams of a pass, its receipts and resends, and the resident wait.
#include "client/client_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "protocol/manifest.h"

namespace tally::client {
namespace {

const Ipv4 server_ip{10, 0, 0, 5};
const Ipv4 other_ip{10, 0, 0, 6};

struct Sent {
    Ipv4 to;
    std::uint16_t port;
    std::vector<std::uint8_t> data;
};

// The server's side of receipts: answers each manifest with 'A' when every
// listed datagram came, else 'N' with the missing positions, and sends 'A'
// when the last missing datagram of a pass comes. Each direction
// loses datagrams at `loss` percent (a fixed pseudo-random sequence);
// `silent` answers nothing, as an earlier server.
struct ReceiptServer {
    int loss = 0;
    bool silent = false;
    std::uint32_t seed = 12345;
    std::vector<Manifest> held;
    std::vector<Digest> seen;
    int applied = 0;

    Receipt answer(const Manifest& m) {
        Receipt r;
        r.mac = m.mac;
        r.pass_id = m.pass_id;
        for (std::size_t k = 0; k < m.digests.size(); ++k)
            if (std::find(seen.begin(), seen.end(), m.digests[k]) == seen.end())
                r.missing.push_back(static_cast<std::uint8_t>(k));
        r.kind = r.missing.empty() ? receipt_applied : receipt_held;
        return r;
    }

    bool lost() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % 100) < loss;
    }
    // What the server sends back for one datagram that reached it.
    std::vector<std::vector<std::uint8_t>> take(const std::vector<std::uint8_t>& d) {
        if (silent || lost()) return {};
        Manifest m;
        std::vector<Receipt> out;
        if (decode_manifest(d.data(), d.size(), m)) {
            out.push_back(answer(m));
            if (out.back().kind == receipt_held) held.push_back(m);
        } else {
            seen.push_back(datagram_digest(d.data(), d.size()));
            for (auto it = held.begin(); it != held.end();) {
                if (answer(*it).kind != receipt_applied) {
                    ++it;
                    continue;
                }
                out.push_back(answer(*it));
                it = held.erase(it);
            }
        }
        std::vector<std::vector<std::uint8_t>> bytes;
        for (const Receipt& r : out) {
            if (r.kind == receipt_applied) ++applied;
            if (!lost()) bytes.push_back(encode_receipt(r));
        }
        return bytes;
    }
};

struct FakePlatform : ClientPlatform {
    bool sockets_start = true, socket_opens = true, bind_ok = true;
    ReceiptServer server;
    std::deque<std::vector<std::uint8_t>> replies;  // from the server, while a pass waits
    std::uint64_t clock = 0;
    std::vector<int> timeouts;  // of every receive
    int stops = 0;
    std::vector<std::string> usages;
    std::vector<std::uint16_t> binds;
    std::vector<Sent> sent;
    std::deque<ReceiveResult> incoming;
    int receives = 0;

    bool parse_dotted(const std::string& t, Ipv4& out) override {
        return parse_ipv4(t, out);
    }
    bool lookup_host(const std::string& t, Ipv4& out) override {
        if (t != "auditserver") return false;
        out = server_ip;
        return true;
    }
    bool start_sockets(std::uint16_t& v) override {
        v = 0x0202;
        return sockets_start;
    }
    void stop_sockets() override { ++stops; }
    void show_usage(const std::string& text, const char* caption) override {
        usages.push_back(std::string(caption) + "|" + text);
    }
    bool open_socket() override { return socket_opens; }
    bool bind_socket(std::uint16_t port) override {
        binds.push_back(port);
        return bind_ok;
    }
    void send(const Ipv4& to, std::uint16_t port, const std::uint8_t* d, std::size_t n) override {
        sent.push_back({to, port, std::vector<std::uint8_t>(d, d + n)});
        for (auto& reply : server.take(sent.back().data)) replies.push_back(reply);
    }
    ReceiveResult receive_within(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) override {
        EXPECT_GT(timeout_ms, 0);
        timeouts.push_back(timeout_ms);
        ++clock;
        if (capacity == receipt_buffer_size) {
            if (replies.empty()) {
                clock += static_cast<std::uint64_t>(timeout_ms);
                ReceiveResult none;
                none.would_block = true;
                return none;
            }
            ReceiveResult r = from(server_ip, replies.front().size());
            std::copy(replies.front().begin(), replies.front().end(), buffer);
            replies.pop_front();
            return r;
        }
        ++receives;
        EXPECT_EQ(capacity, key ? signed_request_buffer_size : request_buffer_size);
        // The script always ends with a close request from the server.
        if (incoming.empty()) return from(server_ip, 12);
        ReceiveResult r = incoming.front();
        incoming.pop_front();
        if (r.would_block) clock += static_cast<std::uint64_t>(timeout_ms);  // a scripted silence
        return r;
    }
    std::uint64_t milliseconds() override { return clock; }
    std::optional<SiteKey> key;
    std::optional<SiteKey> site_key() override { return key; }
    static ReceiveResult from(const Ipv4& a, std::size_t n) {
        ReceiveResult r;
        r.ok = true;
        r.size = n;
        r.sender = a;
        r.sender_port = 40000;
        return r;
    }
};

struct NtProbes : HardwareProbes {
    int passes = 0;
    void probe_mac(Mac& m) override { m = {2, 0, 0, 0, 0, 1}; }
    void probe_processor(HardwareReport&) override {}
    void probe_drives(HardwareReport&) override {}
    void probe_memory(HardwareReport&) override {}
    void probe_version(HardwareReport& r) override {
        r.windows_platform = 2;
        r.windows_major = 10;
    }
    void probe_enclosure(std::string&, std::string& serial, SystemFacts& f) override {
        serial = "SN-1";
        f.manufacturer = "Maker";
    }
    void probe_facts(SystemFacts& f) override { f.processor_name = "CPU"; }
    void probe_computer_name(HardwareReport& r) override { r.computer_name = "PC" + std::to_string(++passes); }
    void probe_user_name(HardwareReport&) override {}
    void probe_clock(HardwareReport&, std::uint32_t& up) override { ++up; }
    void probe_display(HardwareReport&) override {}
};

struct OneEntry : UninstallEntries {
    bool opens = true;
    bool given = false;
    bool open() override {
        given = false;
        return opens;
    }
    bool next(RegistryValue& n, RegistryValue& v) override {
        if (given) return false;
        given = true;
        n = RegistryValue{};
        n.present = true;
        n.size = 4;
        n.bytes = {'a', 'b', 'c', 0};
        v = RegistryValue{};
        return true;
    }
    void close() override {}
};

struct ClientRunScript {
    FakePlatform platform;
    NtProbes probes;
    OneEntry entries;
    int exit_code = -1;
    void go(const std::string& line) { exit_code = run_client(platform, probes, entries, line); }
};

// The packet types of everything sent, in order.
std::string kinds(const std::vector<Sent>& sent) {
    std::string k;
    for (const Sent& s : sent) k += s.data[0] == 0xA3 ? 'S' : static_cast<char>(s.data[0]);
    return k;
}

// The datagrams of a pass as the manifest at sent[first] lists them.
void expect_manifest_lists(const std::vector<Sent>& sent, std::size_t first, std::size_t n) {
    Manifest m;
    ASSERT_TRUE(decode_manifest(sent[first].data.data(), sent[first].data.size(), m));
    ASSERT_EQ(m.digests.size(), n);
    EXPECT_EQ(m.mac, (Mac{2, 0, 0, 0, 0, 1}));
    for (std::size_t k = 0; k < n; ++k) {
        const auto& d = sent[first + 1 + k].data;
        EXPECT_EQ(m.digests[k], datagram_digest(d.data(), d.size())) << k;
    }
}

TEST(ClientRun, OnePassToTheDefaultPort) {
    ClientRunScript r;
    r.go("10.0.0.5");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.platform.binds, std::vector<std::uint16_t>{54334});
    // Hardware packet first, so that the ID and extension packets of a
    // computer's first report find its record.
    // The manifest first, listing every datagram the pass then sends.
    EXPECT_EQ(kinds(r.platform.sent), "MT2ES");
    expect_manifest_lists(r.platform.sent, 0, 4);
    for (const Sent& s : r.platform.sent) {
        EXPECT_EQ(s.to, server_ip);
        EXPECT_EQ(s.port, 54333);
    }
    const std::vector<std::uint8_t>& hw = r.platform.sent[1].data;
    ASSERT_EQ(hw.size(), 704u);
    ASSERT_EQ(r.platform.sent[2].data.size(), 64u);
    EXPECT_EQ(r.platform.sent[2].data[37], 'S');
    const std::vector<std::uint8_t>& ext = r.platform.sent[3].data;
    Mac mac{};
    SystemFacts facts;
    ASSERT_TRUE(decode_extension_packet(ext.data(), ext.size(), mac, facts));
    EXPECT_EQ(mac, (Mac{2, 0, 0, 0, 0, 1}));
    EXPECT_EQ(facts.processor_name, "CPU");
    EXPECT_EQ(facts.manufacturer, "Maker");
    EXPECT_EQ(hw[1], 2);
    EXPECT_EQ(hw[62], 0x02);  // Winsock high version 2.2
    EXPECT_EQ(hw[63], 0x02);
    EXPECT_EQ(hw[672], 1);    // up time from the clock probe
    EXPECT_EQ(r.platform.sent[4].data.size(), 13u);
    EXPECT_EQ(r.platform.receives, 0);
    EXPECT_EQ(r.platform.server.applied, 1);
    EXPECT_EQ(r.platform.stops, 1);
}

TEST(ClientRun, UsageMessageAndStartFailures) {
    for (const char* line : {"", ":1234", "   ", "unknown-host", "0.0.0.0", "10.0.0.999"}) {
        ClientRunScript r;
        r.go(line);
        EXPECT_EQ(r.exit_code, 1) << line;
        ASSERT_EQ(r.platform.usages.size(), 1u) << line;
        EXPECT_EQ(r.platform.usages[0], "Error|" + usage_text());
        EXPECT_TRUE(r.platform.sent.empty());
    }
    ClientRunScript no_lib;
    no_lib.platform.sockets_start = false;
    no_lib.go("10.0.0.5");
    EXPECT_EQ(no_lib.exit_code, 1);
    EXPECT_TRUE(no_lib.platform.usages.empty());

    ClientRunScript no_socket;
    no_socket.platform.socket_opens = false;
    no_socket.go("10.0.0.5");
    EXPECT_EQ(no_socket.exit_code, 1);
    EXPECT_TRUE(no_socket.platform.usages.empty());
    EXPECT_TRUE(no_socket.platform.sent.empty());
}

TEST(ClientRun, PortSwitchAndHostName) {
    ClientRunScript r;
    r.go("auditserver:65535 -R");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.platform.binds, std::vector<std::uint16_t>{0});
    EXPECT_EQ(r.platform.sent[1].port, 65535);
    EXPECT_EQ(r.platform.receives, 1);  // resident: waited for the close request
}

// A resident run whose uninstall key does not open ends with 1 after the
// hardware, ID and extension packets; one whose bind fails runs one pass
// and is not resident.
TEST(ClientRun, FailedUninstallKeyOrBindEndsTheResidentRun) {
    const struct {
        const char* name;
        void (*fail)(ClientRunScript&);
        int exit_code;
        const char* kinds;
    } cases[] = {
        {"uninstall key", [](ClientRunScript& r) { r.entries.opens = false; }, 1, "T2E"},
        {"bind", [](ClientRunScript& r) { r.platform.bind_ok = false; }, 0, "MT2ES"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientRunScript r;
        c.fail(r);
        r.go("10.0.0.5 -R");
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_EQ(kinds(r.platform.sent), c.kinds);
        EXPECT_EQ(r.platform.receives, 0);
    }
}

TEST(ClientRun, ResidentWaitOnlyAnswersTheServer) {
    ClientRunScript r;
    ReceiveResult failed;
    failed.ok = false;
    failed.error = error_message_too_long;
    r.platform.incoming = {
        FakePlatform::from(other_ip, 13),   // another sender: ignored
        FakePlatform::from(server_ip, 14),  // another length: ignored
        failed,                             // a datagram too long: ignored
        FakePlatform::from(other_ip, 12),   // a close from elsewhere: ignored
        FakePlatform::from(server_ip, 13),  // update: second pass
        FakePlatform::from(server_ip, 20),
    };
    r.go("10.0.0.5:1234 -R");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.platform.binds, std::vector<std::uint16_t>{1235});
    EXPECT_EQ(kinds(r.platform.sent), "MT2ESMT2ES");
    EXPECT_EQ(r.probes.passes, 2);
    EXPECT_EQ(r.platform.receives, 7);
    // The second pass builds its packets again and keeps the up time.
    EXPECT_EQ(r.platform.sent[6].data[12], 'P');
    EXPECT_EQ(r.platform.sent[6].data[14], '2');
    EXPECT_EQ(r.platform.sent[6].data[672], 2);
    EXPECT_EQ(r.platform.stops, 1);
}


// Loss both ways: resends until the pass is acknowledged, within the wait.
TEST(ClientRun, LossyServerGetsEveryPassWhole) {
    struct Case {
        int loss;
        std::uint32_t seed;
    };
    for (const Case c : {Case{20, 1}, Case{20, 2}, Case{20, 3}, Case{20, 4}, Case{30, 5}, Case{5, 6}}) {
        ClientRunScript r;
        r.platform.server.loss = c.loss;
        r.platform.server.seed = c.seed;
        r.go("10.0.0.5");
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_GE(r.platform.server.applied, 1) << "seed " << c.seed;
        // Acknowledged before the wait was over.
        EXPECT_LT(r.platform.clock, receipt_wait_ms) << "seed " << c.seed;
    }
}

// An earlier server never answers: the manifest is sent again after each
// silence, and the run ends with 0 once the bounded wait is over.
TEST(ClientRun, SilentServerCostsTheBoundedWait) {
    ClientRunScript r;
    r.platform.server.silent = true;
    r.go("10.0.0.5");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_GE(r.platform.clock, receipt_wait_ms);
    EXPECT_LT(r.platform.clock, receipt_wait_ms + 100);
    // After 250 ms of silence, then every 500 ms; then the wait is over.
    EXPECT_EQ(kinds(r.platform.sent), "MT2ESMMMMMMMMMM");
    for (std::size_t k = 0; k + 1 < r.platform.timeouts.size(); ++k) EXPECT_LE(r.platform.timeouts[k], 500);
}

// A resident client whose pass went unacknowledged runs a fresh pass after
// a minute, and answers requests as before while it waits.
TEST(ClientRun, ResidentRetriesAnUnacknowledgedPass) {
    ClientRunScript r;
    r.platform.server.silent = true;
    ReceiveResult timed_out;
    timed_out.would_block = true;
    ReceiveResult other = FakePlatform::from(other_ip, 13);
    // A minute of silence (an update from elsewhere between): the second
    // pass; then two minutes until the third; then the close request.
    r.platform.incoming = {timed_out, other, timed_out, timed_out, timed_out};
    r.go("10.0.0.5 -R");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.probes.passes, 3);
    EXPECT_EQ(r.platform.timeouts.back(), 60000);  // the wait after the third pass, as long as the second's
    for (int t : r.platform.timeouts) EXPECT_LE(t, 60000);
}

TEST(ClientRun, RequestWhilePassWaitsIsKept) {
    ClientRunScript r;
    r.platform.server.silent = true;
    r.platform.replies.push_back(std::vector<std::uint8_t>(12, 'C'));  // close, during the receipt wait
    r.go("10.0.0.5 -R");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.platform.receives, 0);  // no resident wait: the close request was taken already
}

// With a site key the manifest is signed over the digests, and a receipt
// that is not signed with the key acknowledges nothing.
TEST(ClientRun, WithASiteKeyTheManifestIsSignedAndUnsignedReceiptsDoNotCount) {
    ClientRunScript r;
    SiteKey key;
    key.fill(7);
    r.platform.key = key;
    r.go("10.0.0.5");
    EXPECT_EQ(r.exit_code, 0);
    ASSERT_FALSE(r.platform.sent.empty());
    const std::vector<std::uint8_t>& m = r.platform.sent[0].data;
    ASSERT_EQ(m[0], 'M');
    const std::size_t signed_part = 32 + 16 * std::size_t(m[28]);
    ASSERT_EQ(m.size(), signed_part + sig_block::size);
    EXPECT_EQ(m[7] & 1, 1);
    EXPECT_EQ(get_u32(m.data() + 8), m.size());
    EXPECT_TRUE(signature_verifies(m.data(), signed_part, key));
    EXPECT_GE(r.platform.server.applied, 1);
    EXPECT_GE(r.platform.clock, receipt_wait_ms) << "the fake server's receipts are unsigned";
}

}  // namespace
}  // namespace tally::client
