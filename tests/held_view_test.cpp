// The main window's paints during a storm of datagrams: the latest of each,
// at most every 100 ms, the status line last; a quiet server's datagram and
// the user's commands paint at once, after what was held.
#include <gtest/gtest.h>

#include "server/console/held_view.h"

namespace tally {
namespace {

// Records the paints in order, one line each.
struct PaintLog : ConsoleView {
    std::vector<std::string> paints;
    void show_status(const std::string& text) override { paints.push_back("status " + text); }
    void show_counter(StatsCounter c, std::uint32_t v) override {
        paints.push_back("counter " + std::to_string(int(c)) + " " + std::to_string(v));
    }
    void show_list(std::size_t rows, std::optional<std::size_t>) override {
        paints.push_back("list " + std::to_string(rows));
    }
    void show_hits(const std::string& text) override { paints.push_back("hits " + text); }
    void show_record(const RecordTexts&) override { paints.push_back("record"); }
};

// One datagram's paints, as the console core makes them for a new computer.
void new_computer(HeldView& view, int n) {
    view.show_counter(StatsCounter::hardware, std::uint32_t(n));
    view.show_status("Adding hardware record for 10.0.0." + std::to_string(n));
    view.show_list(std::size_t(n), std::nullopt);
    view.show_hits("Search Returned " + std::to_string(n) + " hits");
}

TEST(HeldView, StormPaintsTheLatestAtMostEveryIntervalStatusLast) {
    PaintLog window;
    HeldView view(window);
    const std::vector<std::string> first{"list 1", "hits Search Returned 1 hits", "counter 0 1",
                                         "status Adding hardware record for 10.0.0.1"};

    view.hold();
    new_computer(view, 1);
    EXPECT_TRUE(window.paints.empty()) << "held while the intake runs";
    EXPECT_EQ(view.release(1000), 0u) << "after a quiet time, painted at once";
    EXPECT_EQ(window.paints, first);

    // The timer is asked for once while it is set: setting it is a server
    // round trip under Wine, as dear as a receive.
    for (int n = 2; n <= 40; ++n) {
        view.hold();
        new_computer(view, n);
        EXPECT_EQ(view.release(1000 + std::uint64_t(n)), n == 2 ? 98u : 0u) << "due 100 ms after the last paint";
    }
    EXPECT_EQ(window.paints, first);
    EXPECT_EQ(view.timer_fired(1050), 50u) << "fired early: set again for the rest";
    EXPECT_EQ(window.paints, first);
    EXPECT_EQ(view.timer_fired(1100), 0u);
    EXPECT_EQ(window.paints.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(window.paints.begin() + 4, window.paints.end()),
              (std::vector<std::string>{"list 40", "hits Search Returned 40 hits", "counter 0 40",
                                        "status Adding hardware record for 10.0.0.40"}));
    EXPECT_FALSE(view.holds_paints());
    EXPECT_EQ(view.release(1150), 0u) << "nothing held, no timer";

    // A timer that could not be set is asked for again; one that fires
    // after the datagrams painted everything themselves paints nothing.
    view.hold();
    new_computer(view, 41);
    EXPECT_EQ(view.release(1160), 40u);
    view.timer_not_set();
    EXPECT_EQ(view.release(1170), 30u);
    view.hold();
    new_computer(view, 42);
    EXPECT_EQ(view.release(1200), 0u) << "due: painted by the datagram";
    EXPECT_EQ(window.paints.back(), "status Adding hardware record for 10.0.0.42");
    const std::size_t painted = window.paints.size();
    EXPECT_EQ(view.timer_fired(1210), 0u);
    EXPECT_EQ(window.paints.size(), painted);

    // A command of the user paints what is held first, then its own paint.
    view.hold();
    new_computer(view, 43);
    EXPECT_NE(view.release(1250), 0u);
    view.show_record(RecordTexts{});
    EXPECT_EQ(window.paints.back(), "record");
    EXPECT_EQ(window.paints[window.paints.size() - 2], "status Adding hardware record for 10.0.0.43");
    EXPECT_FALSE(view.holds_paints());
}

}  // namespace
}  // namespace tally
