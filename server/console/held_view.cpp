// Paints held back during a storm of datagrams.
#include "server/console/held_view.h"

#include <algorithm>

namespace tally {

std::uint32_t HeldView::release(std::uint64_t now_ms) {
    holding_ = false;
    paint(true, now_ms);
    if (!holds_paints() || timer_set_) return 0;
    timer_set_ = true;
    std::uint64_t due = UINT64_MAX;
    if (holds_texts()) due = *last_paint_ + interval_ms;
    if (list_ || changed_rows_) due = std::min(due, *last_list_paint_ + list_interval_ms);
    return static_cast<std::uint32_t>(due - now_ms);
}

std::uint32_t HeldView::timer_fired(std::uint64_t now_ms) {
    timer_set_ = false;
    return release(now_ms);
}

bool HeldView::holds_texts() const {
    for (const auto& c : counters_)
        if (c) return true;
    return status_ || hits_ || record_;
}

bool HeldView::holds_paints() const { return list_ || changed_rows_ || holds_texts(); }

bool HeldView::texts_due(std::uint64_t now_ms) const { return !last_paint_ || now_ms >= *last_paint_ + interval_ms; }

bool HeldView::list_due(std::uint64_t now_ms) const {
    return !last_list_paint_ || now_ms >= *last_list_paint_ + list_interval_ms;
}

void HeldView::paint(bool due_only, std::uint64_t now_ms) {
    if ((list_ || changed_rows_) && (!due_only || list_due(now_ms))) {
        if (due_only) last_list_paint_ = now_ms;
        if (list_) window_.show_list(list_->first, list_->second);
        // The windows' models take the changed records now, each once.
        std::sort(held_records_.begin(), held_records_.end());
        held_records_.erase(std::unique(held_records_.begin(), held_records_.end()), held_records_.end());
        for (const std::uint32_t i : held_records_) window_.record_changed(i);
        held_records_.clear();
        if (changed_rows_) window_.show_changed_rows();
        list_.reset();
        changed_rows_ = false;
    }
    if (!holds_texts() || (due_only && !texts_due(now_ms))) return;
    if (due_only) last_paint_ = now_ms;
    if (hits_) window_.show_hits(*hits_);
    if (record_) window_.show_record(*record_);
    for (std::size_t k = 0; k < stats_counter_count; ++k)
        if (counters_[k]) window_.show_counter(static_cast<StatsCounter>(k), *counters_[k]);
    if (status_) window_.show_status(*status_);
    hits_.reset();
    record_.reset();
    for (auto& c : counters_) c.reset();
    status_.reset();
}

template <typename Hold, typename Show>
void HeldView::hold_or_show(Hold hold, Show show) {
    if (holding_) {
        hold();
        return;
    }
    paint_now();
    show();
}

void HeldView::record_changed(std::uint32_t i) {
    hold_or_show(
        [&] {
            held_records_.push_back(i);
            changed_rows_ = true;
        },
        [&] {
            window_.record_changed(i);
            window_.show_changed_rows();
        });
}

void HeldView::records_changed() {
    held_records_.clear();  // the windows take every record anew
    window_.records_changed();
}

void HeldView::show_status(const std::string& text) {
    hold_or_show([&] { status_ = text; }, [&] { window_.show_status(text); });
}

void HeldView::show_counter(StatsCounter counter, std::uint32_t value) {
    hold_or_show([&] { counters_[static_cast<int>(counter)] = value; }, [&] { window_.show_counter(counter, value); });
}

void HeldView::show_list(std::size_t rows, std::optional<std::size_t> selected_row) {
    hold_or_show([&] { list_.emplace(rows, selected_row); }, [&] { window_.show_list(rows, selected_row); });
}

void HeldView::show_hits(const std::string& text) {
    hold_or_show([&] { hits_ = text; }, [&] { window_.show_hits(text); });
}

void HeldView::show_record(const RecordTexts& texts) {
    hold_or_show([&] { record_ = texts; }, [&] { window_.show_record(texts); });
}

}  // namespace tally
