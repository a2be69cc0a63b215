// The console's decisions: selection, list upkeep and what the pages show.
#include "server/console/console_core.h"

#include <ctime>

#include "server/model/systems_grid.h"

namespace tally {

namespace {
std::uint32_t now_seconds() { return static_cast<std::uint32_t>(std::time(nullptr)); }
constexpr std::uint32_t seconds_between_purges = 3600;
}  // namespace

void ConsoleCore::tick(std::uint32_t now, std::uint32_t history_days) {
    if (recorder_) recorder_->settle_quiet(now);
    show_history_writes();
    if (!history_ || !history_->is_open() || history_->purging()) return;
    if (last_purge_ != 0 && now >= last_purge_ && now - last_purge_ < seconds_between_purges) return;
    last_purge_ = now;
    if (history_->begin_purge_older_than_days(history_days, now) == History::PurgeStep::running) purge_slice(now);
}

bool ConsoleCore::purge_slice(std::uint32_t now) {
    // result not checked: a purge that failed leaves the file whole and is tried again next hour
    if (history_) history_->continue_purge(purge_slice_events, now);
    return purging();
}

void ConsoleCore::show_awaiting_write(std::size_t store_count) {
    const std::size_t history = history_ ? history_->unwritten() : 0;
    view_.show_counter(StatsCounter::unwritten, static_cast<std::uint32_t>(store_count + history));
}

void ConsoleCore::show_history_writes() {
    const std::size_t count = history_ ? history_->unwritten() : 0;
    const bool was_failing = history_unwritten_ != 0;
    history_unwritten_ = count;
    if ((count != 0) == was_failing) return;
    show_awaiting_write(store_.unwritten_count());
    view_.show_status(count != 0 ? "Unable to write the change history - the disk is full or failing"
                                 : "Every change is written to the history again");
}

void ConsoleCore::show_list() {
    view_.show_list(list_.size(), list_.position_of(selected_));
    view_.show_hits(hits_text(list_.hit_count()));
}

void ConsoleCore::show_selected_record() {
    view_.show_record(store_.holds_computer(selected_) ? record_texts(store_, selected_) : empty_record_texts());
}

void ConsoleCore::record_changed(std::uint32_t i, RecordChange change) {
    if (change == RecordChange::hardware) {
        // A software search depends on software lists that arrive after the
        // hardware packet: every record is evaluated again then. Otherwise
        // only the changed record can have moved.
        if (search_.software_on)
            list_.rebuild(store_, search_, order_);
        else
            list_.update_record(store_, search_, order_, i);
        show_list();
    }
    // A new computer that took the selected index appears at once.
    if (i == selected_) show_selected_record();
    view_.record_changed(i);
}

void ConsoleCore::datagram_dropped(DropReason reason) {
    view_.show_counter(StatsCounter::dropped, ++dropped_);
    view_.show_status(reason == DropReason::out_of_memory
                          ? "Unable to allocated enough memory"
                          : "Software listing too long - the rest of it was dropped");
}

void ConsoleCore::unwritten_changed(std::size_t count) {
    if (count == 0 && unwritten_ == 0) return;
    show_awaiting_write(count);
    view_.show_status(count != 0 ? "Unable to write the database files - the disk is full or failing"
                                 : "Every record is written to the database files again");
    unwritten_ = count;
}

void ConsoleCore::retry_writes() {
    if (history_) history_->flush();  // result not checked: what stays unwritten is shown below
    show_history_writes();
    if (store_.unwritten_count() == 0 && unwritten_ == 0) return;
    store_.flush();
    unwritten_changed(store_.unwritten_count());
}

void ConsoleCore::closing() {
    if (recorder_) recorder_->settle_all(now_seconds());
    const bool history_saved = !history_ || history_->flush();
    if (store_.flush() && history_saved) return;
    const UnsavedCounts unsaved{store_.unwritten_records(), store_.unwritten_entries(),
                                store_.unwritten_extension_records(), history_ ? history_->unwritten() : 0};
    store_.notifier().notify({unsaved_text(unsaved), "File Error", BoxOwner::none, true});
}

void ConsoleCore::select_row(std::size_t row) {
    if (row >= list_.size()) return;
    selected_ = list_.record_at(row);
    show_selected_record();
}

void ConsoleCore::select_record(std::uint32_t i) {
    selected_ = i;
    show_list();
    show_selected_record();
}

void ConsoleCore::set_list_order(ListOrder order) {
    order_ = order;
    rebuild_system_list();
}

void ConsoleCore::apply_search_page(const SearchPageTexts& texts) {
    search_tab_search(texts, search_);
    search_.record_set_on = false;
    search_.in_record_set.clear();
    rebuild_system_list();
}

void ConsoleCore::clear_search() {
    search_tab_clear(search_);
    rebuild_system_list();
}

void ConsoleCore::show_record_set(const std::vector<std::uint32_t>& records) {
    search_.record_set_on = true;
    search_.in_record_set.assign(store_.record_count(), 0);
    for (std::uint32_t i : records)
        if (i < search_.in_record_set.size()) search_.in_record_set[i] = 1;
    rebuild_system_list();
}

void ConsoleCore::leave_record_set(std::uint32_t i) {
    if (i < search_.in_record_set.size()) search_.in_record_set[i] = 0;
}

void ConsoleCore::rebuild_system_list() {
    list_.rebuild(store_, search_, order_);
    show_list();
    if (list_.position_of(selected_)) show_selected_record();
}

void ConsoleCore::tables_reloaded() {
    selected_ = 0;
    rebuild_system_list();
    view_.records_changed();
}

void ConsoleCore::update_custom_fields(const std::string& custom_1, const std::string& custom_2,
                                       const std::string& serial_number, const std::string& asset_tag) {
    if (!selected_record_exists()) return;
    std::uint8_t before[hw_record::size];
    std::copy_n(store_.record(selected_).bytes(), hw_record::size, before);
    if (store_.update_custom_fields(selected_, custom_1, custom_2, serial_number, asset_tag) != 0)
        store_.notifier().notify({"Seek Error", "Seek Error", BoxOwner::page, false});
    if (recorder_) recorder_->custom_fields_edited(before, selected_, now_seconds());
    unwritten_changed(store_.unwritten_count());
}

void ConsoleCore::delete_selected_record() {
    if (!selected_record_exists()) return;
    if (recorder_) recorder_->deleting(selected_, "Delete Record", now_seconds());
    store_.delete_record(selected_);
    leave_record_set(selected_);
    unwritten_changed(store_.unwritten_count());
    rebuild_system_list();
    view_.records_changed();
}

void ConsoleCore::delete_records(const std::vector<std::uint32_t>& records) {
    {
        Store::WriteBatch batch(store_);
        const std::string command = delete_listed_command_text(records.size());
        for (std::uint32_t i : records) {
            if (recorder_) recorder_->deleting(i, command, now_seconds());
            store_.delete_record(i);
            leave_record_set(i);
        }
    }
    unwritten_changed(store_.unwritten_count());
    rebuild_system_list();
    view_.records_changed();
}

}  // namespace tally
