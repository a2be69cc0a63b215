// scoutly's run over a scripted platform: exit codes, usage message, bind
// port, the datagrams of a pass and the resident wait.
#include "client/client_run.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace tally::client {
namespace {

const Ipv4 server_ip{10, 0, 0, 5};
const Ipv4 other_ip{10, 0, 0, 6};

struct Sent {
    Ipv4 to;
    std::uint16_t port;
    std::vector<std::uint8_t> data;
};

struct FakePlatform : ClientPlatform {
    bool sockets_start = true, socket_opens = true, bind_ok = true;
    int stops = 0;
    std::vector<std::string> usages;
    std::vector<std::uint16_t> binds;
    std::vector<Sent> sent;
    std::deque<ReceiveResult> incoming;
    int receives = 0;
    std::optional<SiteKey> key;
    std::uint64_t clock = 1800000000;
    std::optional<SiteKey> site_key() override { return key; }
    std::uint64_t now() override { return clock; }

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
    }
    // Bytes of the incoming datagrams, when the script gives them.
    std::deque<std::vector<std::uint8_t>> contents;
    ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity) override {
        ++receives;
        EXPECT_EQ(capacity, key ? signed_request_buffer_size : request_buffer_size);
        // The script always ends with a close request from the server.
        if (incoming.empty()) {
            if (!key) return from(server_ip, 12);
            Nonce nonce{};
            nonce[0] = static_cast<std::uint8_t>(receives);
            const SignedRequestPacket close = encode_signed_request(Mac{}, Request::close, nonce, *key, clock);
            std::copy(close.begin(), close.end(), buffer);
            return from(server_ip, close.size());
        }
        ReceiveResult r = incoming.front();
        incoming.pop_front();
        if (!contents.empty()) {
            EXPECT_LE(contents.front().size(), capacity);
            std::copy(contents.front().begin(), contents.front().end(), buffer);
            contents.pop_front();
        }
        return r;
    }
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

TEST(ClientRun, OnePassToTheDefaultPort) {
    ClientRunScript r;
    r.go("10.0.0.5");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.platform.binds, std::vector<std::uint16_t>{54334});
    // Hardware packet first, so that the ID and extension packets of a
    // computer's first report find its record.
    EXPECT_EQ(kinds(r.platform.sent), "T2ES");
    for (const Sent& s : r.platform.sent) {
        EXPECT_EQ(s.to, server_ip);
        EXPECT_EQ(s.port, 54333);
    }
    const std::vector<std::uint8_t>& hw = r.platform.sent[0].data;
    ASSERT_EQ(hw.size(), 704u);
    ASSERT_EQ(r.platform.sent[1].data.size(), 64u);
    EXPECT_EQ(r.platform.sent[1].data[37], 'S');
    const std::vector<std::uint8_t>& ext = r.platform.sent[2].data;
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
    EXPECT_EQ(r.platform.sent[3].data.size(), 13u);
    EXPECT_EQ(r.platform.receives, 0);
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
    EXPECT_EQ(r.platform.sent[0].port, 65535);
    EXPECT_EQ(r.platform.receives, 1);  // resident: waited for the close request
}

TEST(ClientRun, FailedUninstallKeyEndsWithOneAfterTheHardwarePacket) {
    ClientRunScript r;
    r.entries.opens = false;
    r.go("10.0.0.5 -R");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(kinds(r.platform.sent), "T2E");
    EXPECT_EQ(r.platform.receives, 0);
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
    EXPECT_EQ(kinds(r.platform.sent), "T2EST2ES");
    EXPECT_EQ(r.probes.passes, 2);
    EXPECT_EQ(r.platform.receives, 7);
    // The second pass builds its packets again and keeps the up time.
    EXPECT_EQ(r.platform.sent[4].data[12], 'P');
    EXPECT_EQ(r.platform.sent[4].data[14], '2');
    EXPECT_EQ(r.platform.sent[4].data[672], 2);
    EXPECT_EQ(r.platform.stops, 1);
}

TEST(ClientRun, FailedBindTurnsResidentModeOff) {
    ClientRunScript r;
    r.platform.bind_ok = false;
    r.go("10.0.0.5 -R");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(kinds(r.platform.sent), "T2ES");
    EXPECT_EQ(r.platform.receives, 0);
}

TEST(ClientRun, WithASiteKeyOnlySignedRequestsForThisComputerCount) {
    ClientRunScript r;
    SiteKey key;
    key.fill(7);
    r.platform.key = key;
    const Nonce nonce{1};
    const SignedRequestPacket update = encode_signed_request(Mac{2, 0, 0, 0, 0, 1}, Request::update, nonce, key,
                                                             r.platform.clock);
    const std::vector<std::uint8_t> signed_update(update.begin(), update.end());
    r.platform.incoming = {FakePlatform::from(server_ip, 12), FakePlatform::from(server_ip, 13),
                           FakePlatform::from(server_ip, 72), FakePlatform::from(server_ip, 72)};
    r.platform.contents = {std::vector<std::uint8_t>(12, 'c'), std::vector<std::uint8_t>(13, 'u'), signed_update,
                           signed_update};  // the last one a replay
    r.go("10.0.0.5 -R");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(kinds(r.platform.sent), "T2EST2ES");  // one more pass, for the signed update only
    EXPECT_EQ(r.platform.receives, 5);              // then the signed close
}

}  // namespace
}  // namespace tally::client
