// Remote requests: payloads, the port one above the server's in 16 bits,
// the failure boxes, and one request over a real loopback socket.
#include <gtest/gtest.h>

#include "reports_sample.h"
#include "server/intake/remote_request.h"

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

TEST(RemoteRequest, SendsToTheLookedUpNameAndReportsEachFailure) {
    StoreFixture f = test::sample_store();
    FakeChannel ok;
    send_remote_request(f.store(), 0, RemoteRequest::close, 65535, ok, f.notifier());
    EXPECT_EQ(ok.calls, (std::vector<std::string>{"open", "lookup", "send", "close"}));
    EXPECT_EQ(ok.looked_up, "PC-ALPHA");
    EXPECT_EQ(ok.port, 0);
    EXPECT_EQ(ok.payload, "Close Please");
    EXPECT_TRUE(f.notifier().notices.empty());

    FakeChannel unknown;
    unknown.lookup_ok = false;
    send_remote_request(f.store(), 0, RemoteRequest::update, 54333, unknown, f.notifier());
    EXPECT_EQ(unknown.calls, (std::vector<std::string>{"open", "lookup", "close"}));
    ASSERT_EQ(f.notifier().notices.size(), 1u);
    EXPECT_EQ(f.notifier().notices[0].text, "Unable to find computer on the network");
    EXPECT_EQ(f.notifier().notices[0].caption, "Host not found");
    EXPECT_EQ(f.notifier().notices[0].owner, BoxOwner::main_window);

    // No socket: the box, the lookup, then the box again instead of a send.
    f.notifier().notices.clear();
    FakeChannel no_socket;
    no_socket.socket_ok = false;
    send_remote_request(f.store(), 0, RemoteRequest::update, 54333, no_socket, f.notifier());
    EXPECT_EQ(no_socket.calls, (std::vector<std::string>{"open", "lookup", "close"}));
    ASSERT_EQ(f.notifier().notices.size(), 2u);
    EXPECT_EQ(f.notifier().notices[1].text, "Beer");
    EXPECT_EQ(f.notifier().notices[1].caption, "Beer");

    f.notifier().notices.clear();
    FakeChannel send_fails;
    send_fails.send_ok = false;
    send_remote_request(f.store(), 0, RemoteRequest::update, 54333, send_fails, f.notifier());
    ASSERT_EQ(f.notifier().notices.size(), 1u);
    EXPECT_EQ(f.notifier().notices[0].caption, "Beer");
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
