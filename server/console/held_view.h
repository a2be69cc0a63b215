// The main window's paints while the intake takes a storm of datagrams:
// held back, the latest of each kept, and painted at most every 100 ms, the
// status line last; the system list and the rows of the windows that follow
// the tables (their models' updates too, so that the intake comes first),
// whose every new row redraws a scroll bar (a dozen milliseconds under
// Wine), at most every 500 ms. The first
// datagram after a quiet time is painted at once,
// and every paint that does not come from the intake (the user's commands)
// paints what is held first, then itself, so nothing older is painted later.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/console/console_core.h"

namespace tally {

class HeldView : public ConsoleView {
public:
    static constexpr std::uint32_t interval_ms = 100;
    static constexpr std::uint32_t list_interval_ms = 500;

    explicit HeldView(ConsoleView& window) : window_(window) {}

    // The intake starts taking datagrams: paints are held from now on.
    void hold() { holding_ = true; }
    // The intake is done for now (at now_ms): what it held is painted when
    // the last paint of its kind lies an interval back. The rest waits for a
    // timer: the milliseconds until it is due are returned when the caller
    // must set that timer, and 0 while one is already set (setting a timer
    // costs as much as a receive) or when nothing is held.
    std::uint32_t release(std::uint64_t now_ms);
    // The caller's timer fired (and was killed): paints what is held when it
    // is due; otherwise, as release, the milliseconds to set the timer again.
    std::uint32_t timer_fired(std::uint64_t now_ms);
    // The caller could not set the timer that release asked for: the next
    // release asks again.
    void timer_not_set() { timer_set_ = false; }
    bool holds_paints() const;

    void show_status(const std::string& text) override;
    void show_counter(StatsCounter counter, std::uint32_t value) override;
    void show_list(std::size_t rows, std::optional<std::size_t> selected_row) override;
    void show_hits(const std::string& text) override;
    void show_record(const RecordTexts& texts) override;
    void record_changed(std::uint32_t i) override;
    void records_changed() override;

private:
    // Paints what is held; with `due_only`, only what is due at now_ms.
    void paint(bool due_only, std::uint64_t now_ms);
    void paint_now() { paint(false, 0); }
    // While holding, `hold` keeps what is asked for; else what is held is
    // painted first and `show` passes it on.
    template <typename Hold, typename Show>
    void hold_or_show(Hold hold, Show show);
    bool list_due(std::uint64_t now_ms) const;
    bool texts_due(std::uint64_t now_ms) const;
    bool holds_texts() const;

    ConsoleView& window_;
    bool holding_ = false;
    bool timer_set_ = false;
    std::optional<std::uint64_t> last_paint_, last_list_paint_;
    std::optional<std::string> status_;
    std::optional<std::uint32_t> counters_[stats_counter_count];  // by StatsCounter
    std::optional<std::pair<std::size_t, std::optional<std::size_t>>> list_;
    bool changed_rows_ = false;
    std::vector<std::uint32_t> held_records_;  // records changed since the rows were painted
    std::optional<std::string> hits_;
    std::optional<RecordTexts> record_;
};

}  // namespace tally
