// The intake pump over a real loopback socket: one round a notification
// while the server keeps up, posted rounds with the notifications off while
// a backlog drains, and the way back to notifications when the socket is
// empty, when they cannot be turned off, or when a round cannot be posted.
#include <gtest/gtest.h>

#include <string>

#include "protocol/udp.h"
#include "server/intake/intake_pump.h"
#include "test_support.h"

namespace tally {
namespace {

struct SwitchLog : IntakeNotifications {
    bool pause_notifications() override {
        log += "off ";
        return pause_works;
    }
    void resume_notifications() override { log += "on "; }
    bool pause_works = true;
    std::string log;
};

// One scenario: datagrams waiting, then the window's events in turn:
// n = the socket's notification, p = a posted round, c = a posted round
// after the socket was closed, f = the next round could not be posted.
struct PumpCase {
    const char* name;
    std::size_t waiting;
    bool pause_works;
    const char* events;
    const char* answers;  // per event: w = wait, p = post the next round, - = none asked
    std::size_t taken;
    const char* switches;
    bool draining;
};

const PumpCase pump_cases[] = {
    {"one datagram: one round, notifications stay on", 1, true, "n", "w", 1, "", false},
    {"a backlog drains in posted rounds, then notifications", 40, true, "np", "pw", 40, "off on ", false},
    {"a notification during a drain is left to it", 40, true, "nnp", "pww", 40, "off on ", false},
    {"a full round that emptied the socket: one posted round finds it so", 32, true, "np", "pw", 32, "off on ", false},
    {"notifications that cannot be turned off: round by round", 40, false, "nn", "ww", 40, "off ", false},
    {"a round that cannot be posted: back to notifications", 40, true, "nfn", "p-w", 40, "off on ", false},
    {"a round for a closed socket is dropped", 40, true, "nc", "pw", 32, "off ", true},
    {"a posted round without a drain takes nothing", 3, true, "p", "w", 0, "", false},
};

TEST(IntakePump, RoundsDrainsAndNotifications) {
    ASSERT_TRUE(start_sockets());
    const Ipv4 loopback{127, 0, 0, 1};
    for (const PumpCase& c : pump_cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::RecordingNotifier notifier;
        test::RecordingConsole console;
        Store store(notifier);
        ASSERT_EQ(store.open_store(dir.path()), 0);
        Intake intake(store, console);
        UdpSocket server, client;
        ASSERT_TRUE(server.open() && server.bind(0, &loopback) && server.set_non_blocking() && client.open());
        const std::uint8_t datagram[1] = {'X'};
        for (std::size_t k = 0; k < c.waiting; ++k)
            ASSERT_TRUE(client.send_to(loopback, server.local_port(), datagram, sizeof datagram));
        ASSERT_TRUE(server.wait_readable(5000));

        SwitchLog switches;
        switches.pause_works = c.pause_works;
        std::size_t taken = 0;
        IntakePump pump(switches, [&] {
            const IntakeRound round = intake.take_waiting(server);
            taken += round.taken;
            return round;
        });
        std::string answers;
        for (const char* e = c.events; *e; ++e) {
            switch (*e) {
                case 'n': answers += pump.notified() == PumpNext::post_round ? 'p' : 'w'; break;
                case 'p': answers += pump.round_posted(true) == PumpNext::post_round ? 'p' : 'w'; break;
                case 'c': answers += pump.round_posted(false) == PumpNext::post_round ? 'p' : 'w'; break;
                default: pump.round_not_posted(); answers += '-'; break;
            }
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(switches.log, c.switches);
        EXPECT_EQ(pump.draining(), c.draining);
    }
    stop_sockets();
}

}  // namespace
}  // namespace tally
