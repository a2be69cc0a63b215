// The Changes window's rows and a computer's timeline: events of the
// history filtered by time (the last N days or since a date), by kind and by
// a find text, sorted by any column. Every text a cell shows is made here;
// the windows only paint rows. New events join the rows as they are stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/model/systems_grid.h"
#include "server/store/history_file.h"
#include "server/store/store.h"

namespace tally {

enum class ChangeColumn : std::uint8_t { time, computer, kind, what, old_value, new_value };
constexpr std::size_t change_column_count = 6;
const GridColumnInfo& change_column_info(ChangeColumn column);

// The kind filter's boxes, each a set of kinds.
enum class ChangeGroup : std::uint8_t {
    programs_added,
    programs_removed,
    programs_updated,
    hardware,
    windows,
    identity,
    user_actions,
};
constexpr std::size_t change_group_count = 7;
const char* change_group_text(ChangeGroup group);
// The kinds of a group, one bit per kind (bit k: ChangeKind k).
std::uint32_t change_group_kinds(ChangeGroup group);
constexpr std::uint32_t all_change_kinds = 0x3FE;

// "2026-12-09 05:54:48", local time.
std::string change_time_text(std::uint32_t seconds_since_1970);
// "YYYY-MM-DD" (blanks around allowed) as the local midnight it begins; none for other texts.
std::optional<std::uint32_t> parse_since_date(const std::string& text);

// The Changes window's time filter: the "since" box's date when it holds
// one, else the last N days of the days box (0 or none: every event).
std::uint32_t changes_since(const std::string& days_box, const std::string& since_box, std::uint32_t now);
// The kinds of the ticked group boxes (by ChangeGroup).
std::uint32_t changes_kinds(const bool (&ticked)[change_group_count]);
constexpr char default_changes_days[] = "7";
// The timeline window's title line: "Changes of PC-A (00:1A:2B:3C:4D:5E)".
std::string timeline_title(const std::string& computer, const std::uint8_t* mac);

class ChangesView {
public:
    // Filters read at the next fill: events at or after `since`, of these kinds.
    void set_since(std::uint32_t since) { since_ = since; }
    void set_kinds(std::uint32_t kinds) { kinds_ = kinds; }
    // Only this computer's events (a timeline), or every computer's.
    void set_computer(const std::optional<Mac>& mac) { computer_ = mac; }
    std::uint32_t since() const { return since_; }
    std::uint32_t kinds() const { return kinds_; }

    // Reads the events that pass the filters from the history.
    void fill(History& history, const Store& store);
    // The history stored events from entry `first` on (or was rewritten,
    // first 0): they join the rows that pass the filters.
    void events_appended(History& history, const Store& store, std::size_t first);

    // Substring over the computer's name and its user, the program or field
    // and both values, ASCII letters in either case; empty shows all.
    void set_find(const std::string& text);
    void sort_by(ChangeColumn column, bool ascending);
    // A click on a header: the same column turns its direction, another sorts ascending.
    void click_column(ChangeColumn column);
    ChangeColumn sort_column() const { return sort_column_; }
    bool ascending() const { return ascending_; }

    std::size_t size() const { return shown_.size(); }
    const std::string& text(std::size_t row, ChangeColumn column) const {
        return rows_[shown_[row]].text[static_cast<std::size_t>(column)];
    }
    const Mac& mac_at(std::size_t row) const { return rows_[shown_[row]].mac; }
    // Rows read (before the find text).
    std::size_t event_count() const { return rows_.size(); }

private:
    struct Row {
        std::uint64_t sequence;
        Mac mac;
        std::string text[change_column_count];
        std::string find_text;
    };
    bool passes(const HistoryEntry& e) const;
    void add_rows(History& history, const Store& store, const std::vector<std::uint32_t>& entries);
    bool less(std::uint32_t a, std::uint32_t b) const;
    void sort_rows();
    void refilter();

    std::uint32_t since_ = 0;
    std::uint32_t kinds_ = all_change_kinds;
    std::optional<Mac> computer_;
    std::string find_;
    std::vector<Row> rows_;
    std::vector<std::uint32_t> order_;  // every row, sorted
    std::vector<std::uint32_t> shown_;
    ChangeColumn sort_column_ = ChangeColumn::time;
    bool ascending_ = false;  // newest first
};

// The records of the computers that installed the program (only this
// version, when given) at or after `since`: an "added" or "updated" event
// to it, while the computer still has its record. In table order.
std::vector<std::uint32_t> recent_installs(History& history, const Store& store, const std::string& program,
                                           const std::optional<std::string>& version, std::uint32_t since);

// What the catalogue's computer set caption adds while the days box holds N: " installed in the last N days".
std::string installed_within_text(std::uint32_t days);

// The count line: "12 of 340 changes listed".
std::string changes_count_text(std::size_t shown, std::size_t total);

}  // namespace tally
