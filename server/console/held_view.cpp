// Paints held back during a storm of datagrams.
#include "server/console/held_view.h"

namespace tally {

std::uint32_t HeldView::release(std::uint64_t now_ms) {
    holding_ = false;
    if (!holds_paints()) return 0;
    if (!last_paint_ || now_ms >= *last_paint_ + interval_ms) {
        last_paint_ = now_ms;
        paint_now();
        return 0;
    }
    if (timer_set_) return 0;
    timer_set_ = true;
    return static_cast<std::uint32_t>(*last_paint_ + interval_ms - now_ms);
}

std::uint32_t HeldView::timer_fired(std::uint64_t now_ms) {
    timer_set_ = false;
    return release(now_ms);
}

bool HeldView::holds_paints() const {
    for (const auto& c : counters_)
        if (c) return true;
    return status_ || list_ || hits_ || record_;
}

void HeldView::paint_now() {
    if (list_) window_.show_list(list_->first, list_->second);
    if (hits_) window_.show_hits(*hits_);
    if (record_) window_.show_record(*record_);
    for (int k = 0; k < 5; ++k)
        if (counters_[k]) window_.show_counter(static_cast<StatsCounter>(k), *counters_[k]);
    if (status_) window_.show_status(*status_);
    list_.reset();
    hits_.reset();
    record_.reset();
    for (auto& c : counters_) c.reset();
    status_.reset();
}

void HeldView::show_status(const std::string& text) {
    if (holding_) {
        status_ = text;
        return;
    }
    paint_now();
    window_.show_status(text);
}

void HeldView::show_counter(StatsCounter counter, std::uint32_t value) {
    if (holding_) {
        counters_[static_cast<int>(counter)] = value;
        return;
    }
    paint_now();
    window_.show_counter(counter, value);
}

void HeldView::show_list(std::size_t rows, std::optional<std::size_t> selected_row) {
    if (holding_) {
        list_.emplace(rows, selected_row);
        return;
    }
    paint_now();
    window_.show_list(rows, selected_row);
}

void HeldView::show_hits(const std::string& text) {
    if (holding_) {
        hits_ = text;
        return;
    }
    paint_now();
    window_.show_hits(text);
}

void HeldView::show_record(const RecordTexts& texts) {
    if (holding_) {
        record_ = texts;
        return;
    }
    paint_now();
    window_.show_record(texts);
}

}  // namespace tally
