// Remote requests: payloads, the port one above the server's in 16 bits,
// the failure boxes, and one request over a real loopback socket.
#include <gtest/gtest.h>

#include "reports_sample.h"
#include "server/intake/remote_request.h"

#include <cstring>

namespace tally {
namespace {

using test::RecordBuilder;
using test::StoreFixture;

struct FakeChannel : RequestChannel {
    bool socket_ok = true, lookup_ok = true, send_ok = true;
    std::vector<std::string> calls;
    std::string looked_up, payload;
    std::uint16_t port = 0;
    bool open_socket() override {
        calls.push_back("open");
        return socket_ok;
    }
    bool lookup(const std::string& host, Ipv4& address) override {
        calls.push_back("lookup");
        looked_up = host;
        address = Ipv4{10, 1, 2, 3};
        return lookup_ok;
    }
    bool send(const Ipv4&, std::uint16_t p, const std::string& data) override {
        calls.push_back("send");
        port = p;
        payload = data;
        return send_ok;
    }
    void close_socket() override { calls.push_back("close"); }
};

TEST(RemoteRequest, PayloadsAndPort) {
    EXPECT_EQ(remote_payload(RemoteRequest::update), "Update Please");
    EXPECT_EQ(remote_payload(RemoteRequest::update).size(), 13u);
    EXPECT_EQ(remote_payload(RemoteRequest::close), "Close Please");
    EXPECT_EQ(remote_payload(RemoteRequest::close).size(), 12u);
    EXPECT_EQ(remote_port(54333), 54334);
    EXPECT_EQ(remote_port(65535), 0);
}

TEST(RemoteRequest, SignedForAComputerThatSignsWhenTheServerHasAKey) {
    StoreFixture f = test::sample_store();
    SiteKey key;
    key.fill(9);
    KeyRing keys;
    keys.current = key;
    const RequestSigning signing{keys, 1800000000};
    const KeyRing no_keys;
    const RequestSigning without_key{no_keys, 1800000000};
    ExtensionRecord ext;
    std::copy_n(f.store().record(0).mac(), 6, ext.mac.begin());
    ext.flags = ext_record::flag_signs_reports;
    ASSERT_TRUE(f.store().store_extension(0, ext));

    EXPECT_EQ(request_datagram(f.store(), 2, RemoteRequest::close, &signing), "Close Please") << "does not sign";
    EXPECT_EQ(request_datagram(f.store(), 0, RemoteRequest::close, &without_key), "Close Please");
    EXPECT_EQ(request_datagram(f.store(), 0, RemoteRequest::update, nullptr), "Update Please");
    FakeChannel channel;
    send_remote_request(f.store(), 0, RemoteRequest::close, 54333, channel, f.notifier(), &signing);
    ASSERT_EQ(channel.payload.size(), 72u);
    const auto* p = reinterpret_cast<const std::uint8_t*>(channel.payload.data());
    EXPECT_EQ(p[0], 'Q');
    EXPECT_EQ(std::memcmp(p + 1, f.store().record(0).mac(), 6), 0);
    EXPECT_EQ(p[7], signed_request::close);
    EXPECT_EQ(check_signature(p, signed_request::signature.offset, keys, 1800000000), SignatureCheck::valid);
    // Each request its own nonce.
    EXPECT_NE(request_datagram(f.store(), 0, RemoteRequest::close, &signing).substr(12, 16),
              channel.payload.substr(12, 16));
}

TEST(RemoteRequest, SendsToTheLookedUpName) {
    StoreFixture f = test::sample_store();
    FakeChannel ok;
    send_remote_request(f.store(), 0, RemoteRequest::close, 65535, ok, f.notifier());
    EXPECT_EQ(ok.calls, (std::vector<std::string>{"open", "lookup", "send", "close"}));
    EXPECT_EQ(ok.looked_up, "PC-ALPHA");
    EXPECT_EQ(ok.port, 0);
    EXPECT_EQ(ok.payload, "Close Please");
    EXPECT_TRUE(f.notifier().notices.empty());
}

// Each failure: the channel's calls and the boxes shown (all owned by the
// main window), in order.
TEST(RemoteRequest, ReportsEachFailureWithItsBoxes) {
    using Calls = std::vector<std::string>;
    const std::string host = "Unable to find computer on the network|Host not found", beer = "Beer|Beer";
    const struct {
        const char* name;
        bool socket_ok, lookup_ok, send_ok;
        Calls calls;
        std::vector<std::string> boxes;  // text|caption
    } cases[] = {
        {"name not found", true, false, true, {"open", "lookup", "close"}, {host}},
        {"no socket: the box, the lookup, then the box again instead of a send", false, true, true,
         {"open", "lookup", "close"}, {beer, beer}},
        {"no socket and no name", false, false, true, {"open", "lookup", "close"}, {beer, host}},
        {"send fails", true, true, false, {"open", "lookup", "send", "close"}, {beer}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StoreFixture f = test::sample_store();
        FakeChannel channel;
        channel.socket_ok = c.socket_ok;
        channel.lookup_ok = c.lookup_ok;
        channel.send_ok = c.send_ok;
        send_remote_request(f.store(), 0, RemoteRequest::update, 54333, channel, f.notifier());
        EXPECT_EQ(channel.calls, c.calls);
        std::vector<std::string> boxes;
        for (const Notice& n : f.notifier().notices) {
            boxes.push_back(n.text + "|" + n.caption);
            EXPECT_EQ(n.owner, BoxOwner::main_window);
        }
        EXPECT_EQ(boxes, c.boxes);
    }
}

TEST(RemoteRequest, NoRecordOrNoNameSendsNothing) {
    StoreFixture f = test::sample_store();
    FakeChannel deleted, beyond;
    send_remote_request(f.store(), 1, RemoteRequest::update, 54333, deleted, f.notifier());
    send_remote_request(f.store(), 9, RemoteRequest::update, 54333, beyond, f.notifier());
    EXPECT_TRUE(deleted.calls.empty() && beyond.calls.empty());
    EXPECT_TRUE(f.notifier().notices.empty());

    RecordBuilder nameless(0x50);
    StoreFixture g({nameless}, {});
    FakeChannel channel;
    send_remote_request(g.store(), 0, RemoteRequest::update, 54333, channel, g.notifier());
    EXPECT_EQ(channel.calls, (std::vector<std::string>{"open", "close"}));
    ASSERT_EQ(g.notifier().notices.size(), 1u);
    EXPECT_EQ(g.notifier().notices[0].caption, "Host not found");
}

TEST(RemoteRequest, ArrivesOverLoopback) {
    ASSERT_TRUE(start_sockets());
    UdpSocket receiver;
    ASSERT_TRUE(receiver.open());
    const Ipv4 loopback{127, 0, 0, 1};
    ASSERT_TRUE(receiver.bind(0, &loopback));
    const std::uint16_t client_port = receiver.local_port();
    ASSERT_NE(client_port, 0);

    RecordBuilder r(0x60);
    r.text(hw_record::computer_name, "127.0.0.1");
    StoreFixture f({r}, {});
    UdpRequestChannel channel;
    send_remote_request(f.store(), 0, RemoteRequest::update, static_cast<std::uint16_t>(client_port - 1), channel,
                        f.notifier());
    EXPECT_TRUE(f.notifier().notices.empty());
    ASSERT_TRUE(receiver.wait_readable(5000));
    std::uint8_t buffer[64];
    const ReceiveResult got = receiver.receive(buffer, sizeof buffer);
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got.size), "Update Please");
    stop_sockets();
}

}  // namespace
}  // namespace tally
