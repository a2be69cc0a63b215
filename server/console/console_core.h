// The console's decisions, portable: the selected record, the system list
// under the active search and list order, and what the status line, the
// counters, the list and the record pages show. The main window implements
// ConsoleView and only paints what the core hands it; the intake tells the
// core, through ConsoleHooks, which record each datagram changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "server/console/view_texts.h"
#include "server/model/search.h"
#include "server/model/search_page.h"
#include "server/model/system_list.h"
#include "server/intake/history_recorder.h"
#include "server/intake/intake.h"
#include "server/store/store.h"

namespace tally {

// What the main window paints.
class ConsoleView {
public:
    virtual ~ConsoleView() = default;
    // The one-line status line.
    virtual void show_status(const std::string& text) = 0;
    // A packet counter on the Server Stats page.
    virtual void show_counter(StatsCounter counter, std::uint32_t value) = 0;
    // The system list has `rows` rows (their labels: ConsoleCore::list());
    // the selected record's row, if it is listed, is selected.
    virtual void show_list(std::size_t rows, std::optional<std::size_t> selected_row) = 0;
    // The Search page's hit line.
    virtual void show_hits(const std::string& text) = 0;
    // The General, Hardware and Software pages.
    virtual void show_record(const RecordTexts& texts) = 0;
    // For windows that follow the tables live: record i changed or was
    // added (their models follow at once, their rows are painted by
    // show_changed_rows); the tables changed as a whole (a reload or a
    // deletion: painted at once).
    virtual void record_changed(std::uint32_t) {}
    virtual void show_changed_rows() {}
    virtual void records_changed() {}
};

class ConsoleCore : public ConsoleHooks {
public:
    ConsoleCore(Store& store, ConsoleView& view) : store_(store), view_(view) {}

    // --- what the intake tells
    void set_status(const std::string& text) override { view_.show_status(text); }
    void show_counter(StatsCounter counter, std::uint32_t value) override { view_.show_counter(counter, value); }
    // A hardware change moves the record's entry in the list (or rebuilds
    // the list under a software search); the pages show the record again
    // when it is the selected one. Each happens once.
    void record_changed(std::uint32_t i, RecordChange change) override;
    // Failures during intake go to the status line and the Server Stats
    // page, never to a box: a box's message loop would hand the next
    // datagram to the intake inside it.
    void datagram_dropped(DropReason reason) override;
    void unwritten_changed(std::size_t count) override;

    // The change history that records the user's edits and deletions (none: not recorded).
    void set_history(HistoryRecorder* recorder, History* history) {
        recorder_ = recorder;
        history_ = history;
    }
    // Once a second or so: settles the reports that went quiet, says when
    // history events cannot be written (and when they are again), and once
    // an hour starts removing the events older than `history_days` days.
    void tick(std::uint32_t now, std::uint32_t history_days);
    // A purge of old history is under way: it goes on in slices, each short
    // enough not to hold the window, until purge_slice says it is over.
    bool purging() const { return history_ && history_->purging(); }
    // One slice of the purge; true while more remain.
    bool purge_slice(std::uint32_t now);

    // --- writing
    // The retry timer: what awaits writing (history events too) is tried again.
    void retry_writes();
    // A clean exit: a last try at writing, then a box saying how many
    // records, entries, extension records and history events could not be
    // saved, if any.
    void closing();

    // --- the selection
    std::uint32_t selected_record() const { return selected_; }
    // Whether the selected record holds a computer: the record commands act
    // on nothing otherwise.
    bool selected_record_exists() const { return store_.holds_computer(selected_); }
    // The user selected a row of the list: its record is shown.
    void select_row(std::size_t row);
    // Selects record i, shows it and selects its row if it is listed.
    void select_record(std::uint32_t i);

    // --- the list
    const SystemList& list() const { return list_; }
    ListOrder list_order() const { return order_; }
    const ActiveSearch& search() const { return search_; }
    // The sort selector chose an order.
    void set_list_order(ListOrder order);
    // "Search" with the Search page's texts, and "Clear": the selection stays.
    void apply_search_page(const SearchPageTexts& texts);
    void clear_search();
    // Lists exactly these records, as a search result, until the next
    // Search or Clear.
    void show_record_set(const std::vector<std::uint32_t>& records);
    // Rebuilds the list under the active search and order; the selected
    // record's row comes back selected, which shows the record.
    void rebuild_system_list();
    // The store was loaded afresh: record 0 is selected, the list rebuilt.
    void tables_reloaded();

    // --- commands on the selected record
    // "Update Custom Fields" with the General page's four texts; a failed
    // write shows "Seek Error".
    void update_custom_fields(const std::string& custom_1, const std::string& custom_2,
                              const std::string& serial_number, const std::string& asset_tag);
    // "Delete Record", after the user confirmed.
    void delete_selected_record();
    // The Systems window's bulk deletion, after the user confirmed: each
    // record as "Delete Record" does it, then one rebuild.
    void delete_records(const std::vector<std::uint32_t>& records);

private:
    void show_list();
    void show_selected_record();
    // A deleted record leaves a handed-over set: a computer that later takes
    // its free record is not part of it.
    void leave_record_set(std::uint32_t i);
    // "Awaiting Write": the store's records and entries with the history's events.
    void show_awaiting_write(std::size_t store_count);
    // The status line says once that history events cannot be written, and
    // once that they are written again.
    void show_history_writes();

    Store& store_;
    ConsoleView& view_;
    HistoryRecorder* recorder_ = nullptr;
    History* history_ = nullptr;
    std::uint32_t last_purge_ = 0;
    std::uint32_t selected_ = 0;
    std::uint32_t dropped_ = 0;  // datagrams of which a part was dropped
    std::size_t unwritten_ = 0;  // as last shown
    std::size_t history_unwritten_ = 0;  // as last shown
    SystemList list_;
    ListOrder order_ = ListOrder::system_name;
    ActiveSearch search_;
};

}  // namespace tally
