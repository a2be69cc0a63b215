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
    void record_changed(std::uint32_t i) override { paints.push_back("model " + std::to_string(i)); }
    void show_changed_rows() override { paints.push_back("rows"); }
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
    auto painted_since = [&](std::size_t from) {
        return std::vector<std::string>(window.paints.begin() + std::ptrdiff_t(from), window.paints.end());
    };

    view.hold();
    new_computer(view, 1);
    EXPECT_TRUE(window.paints.empty()) << "held while the intake runs";
    EXPECT_EQ(view.release(1000), 0u) << "after a quiet time, painted at once";
    EXPECT_EQ(window.paints, (std::vector<std::string>{"list 1", "hits Search Returned 1 hits", "counter 0 1",
                                                       "status Adding hardware record for 10.0.0.1"}));

    // The timer is asked for once while it is set: setting it is a server
    // round trip under Wine, as dear as a receive.
    for (int n = 2; n <= 40; ++n) {
        view.hold();
        new_computer(view, n);
        EXPECT_EQ(view.release(1000 + std::uint64_t(n)), n == 2 ? 98u : 0u) << "texts due 100 ms after their last paint";
    }
    EXPECT_EQ(window.paints.size(), 4u);
    EXPECT_EQ(view.timer_fired(1050), 50u) << "fired early: set again for the rest";
    EXPECT_EQ(view.timer_fired(1100), 400u) << "the texts painted; the list waits for its 500 ms";
    EXPECT_EQ(painted_since(4), (std::vector<std::string>{"hits Search Returned 40 hits", "counter 0 40",
                                                          "status Adding hardware record for 10.0.0.40"}));
    view.hold();
    new_computer(view, 41);
    EXPECT_EQ(view.release(1200), 0u) << "texts painted by the datagram, the timer still set for the list";
    EXPECT_EQ(window.paints.back(), "status Adding hardware record for 10.0.0.41");
    EXPECT_EQ(view.timer_fired(1500), 0u);
    EXPECT_EQ(window.paints.back(), "list 41") << "the latest rows";
    EXPECT_FALSE(view.holds_paints());
    EXPECT_EQ(view.release(1550), 0u) << "nothing held, no timer";

    // A timer that could not be set is asked for again.
    view.hold();
    new_computer(view, 42);
    EXPECT_EQ(view.release(1560), 440u) << "texts painted at once, the list held";
    EXPECT_EQ(window.paints.back(), "status Adding hardware record for 10.0.0.42");
    view.timer_not_set();
    EXPECT_EQ(view.release(1570), 430u);

    // A command of the user paints what is held first, then its own paint.
    view.show_record(RecordTexts{});
    EXPECT_EQ(painted_since(window.paints.size() - 2), (std::vector<std::string>{"list 42", "record"}));
    EXPECT_FALSE(view.holds_paints());
}

// The windows that follow the tables take the changes into their models and
// paint their rows with the system list's cadence, each record once.
TEST(HeldView, ChangedRowsPaintedWithTheList) {
    PaintLog window;
    HeldView view(window);
    view.hold();
    view.record_changed(7);
    EXPECT_EQ(view.release(1000), 0u);
    EXPECT_EQ(window.paints, (std::vector<std::string>{"model 7", "rows"})) << "after a quiet time, at once";
    view.hold();
    view.record_changed(8);
    view.record_changed(3);
    view.record_changed(8);
    view.show_list(2, std::nullopt);
    EXPECT_EQ(view.release(1100), 400u);
    EXPECT_EQ(window.paints.back(), "rows") << "the models wait with the rows";
    EXPECT_EQ(view.timer_fired(1500), 0u);
    EXPECT_EQ(std::vector<std::string>(window.paints.end() - 4, window.paints.end()),
              (std::vector<std::string>{"list 2", "model 3", "model 8", "rows"}));
    view.record_changed(9);  // not from the intake: painted at once
    EXPECT_EQ(window.paints.back(), "rows");
}

}  // namespace
}  // namespace tally
