// The Systems window's grid: one row per computer of the hardware table with
// the facts an administrator compares side by side, filtered by a find text,
// by days without a report and by a handed-over set of computers, and sorted
// by any column (numbers as numbers, IP addresses by their four bytes).
// Every text a cell shows is made here; the window only paints rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/store/block_list.h"
#include "server/store/history_file.h"
#include "server/store/store.h"

namespace tally {

enum class GridColumn : std::uint8_t {
    computer_name,
    user,
    ip_address,
    mac_address,
    windows,
    processor,
    speed,
    ram,
    disk_total,
    disk_free,
    fullest_disk_free,
    last_report,
    days_since,
    serial_number,
    asset_tag,
    custom_field_1,
    custom_field_2,
    // Facts of current clients' extension packets; empty for earlier ones.
    processor_name,
    system_model,
    bios_serial,
    windows_release,
    // Whether the last report was signed with the site key.
    signed_report,
    // When the change history first saw the computer; empty when it does not know.
    first_seen,
};
constexpr std::size_t grid_column_count = 23;

struct GridColumnInfo {
    const char* title;
    bool numeric;  // sorted by number, right-aligned
    int width;     // initial width in pixels
};
const GridColumnInfo& grid_column_info(GridColumn column);

constexpr std::uint32_t seconds_per_day = 86400;
// Whole days from a report at `last_update` to `now`; 0 for a time ahead of now.
std::uint32_t days_since(std::uint32_t last_update, std::uint32_t now);

// The cells of one computer, with the number each numeric column sorts by.
struct GridRow {
    std::array<std::string, grid_column_count> text;
    std::array<std::uint64_t, grid_column_count> number{};
    std::string find_text;  // the searchable fields, ASCII lower case, separated
    std::uint32_t days = 0;
    bool present = false;  // the record holds a computer
};
// Row of record i of the store, with days counted to now, and the first
// report the history knows of (none: the column stays empty).
GridRow make_grid_row(const Store& store, std::uint32_t i, std::uint32_t now, const History* history = nullptr);

class SystemsGrid {
public:
    // The history the First Seen column is read from (none: empty).
    void set_history(const History* history) { history_ = history; }
    // Makes every row from the tables and shows those that pass the filters.
    void fill(const Store& store, std::uint32_t now);
    // Makes record i's row again (a report arrived, or it was deleted) and
    // moves it to its place among the shown rows.
    void update_record(const Store& store, std::uint32_t i, std::uint32_t now);

    // Substring over name, user, IP, MAC, serial number, asset tag, the
    // custom fields and the BIOS serial number, ASCII letters in either case; empty shows all.
    void set_find(const std::string& text);
    // Shows only computers without a report for at least `days` days (0: all).
    void set_not_reported_days(std::uint32_t days);
    // Shows only these records (the catalogue's choice), or all again.
    void set_record_set(const std::optional<std::vector<std::uint32_t>>& records);
    // Sorts by a column; ties keep table order.
    void sort_by(GridColumn column, bool ascending);
    // A click on a column header: the same column turns its direction,
    // another one sorts ascending.
    void click_column(GridColumn column);

    GridColumn sort_column() const { return sort_column_; }
    bool ascending() const { return ascending_; }
    const std::string& find_text() const { return find_; }
    bool has_record_set() const { return restricted_; }

    // The shown rows, in order.
    std::size_t size() const { return shown_.size(); }
    std::uint32_t record_at(std::size_t row) const { return shown_[row]; }
    const std::string& text(std::size_t row, GridColumn column) const {
        return rows_[shown_[row]].text[static_cast<std::size_t>(column)];
    }
    const std::vector<std::uint32_t>& shown_records() const { return shown_; }
    std::optional<std::size_t> row_of(std::uint32_t record) const;
    // Computers in the table (shown or not).
    std::size_t computer_count() const { return computers_; }

private:
    bool passes(std::uint32_t i) const;
    bool less(std::uint32_t a, std::uint32_t b) const;
    void refilter();
    void sort_shown();

    const History* history_ = nullptr;
    // By record index. In blocks: a computer new to the tables adds its row
    // without moving the others (at 100,000 rows a vector's growth moved
    // some 80 MB in one step and held the console for a tenth of a second).
    BlockList<GridRow, 8> rows_;
    std::vector<std::uint32_t> shown_;
    std::size_t computers_ = 0;
    std::string find_;  // lower case
    std::uint32_t stale_days_ = 0;
    bool restricted_ = false;
    std::vector<std::uint8_t> in_set_;  // by record index, when restricted
    GridColumn sort_column_ = GridColumn::computer_name;
    bool ascending_ = true;
};

// Compares texts as a person reads them: ASCII letters without regard to
// case, runs of digits by their value; -1, 0 or 1.
int natural_compare(const std::string& a, const std::string& b);

// ASCII letters in lower case, other bytes as they are: the find boxes' folding.
std::string ascii_lower(const std::string& text);

// The window's count line: "12 of 340 systems listed".
std::string systems_count_text(std::size_t shown, std::size_t total);
// The number of the "not reported for N days" box: its leading digits, 0
// (no filter) when it has none; at most 99999 days.
std::uint32_t parse_days(const std::string& text);

// The command and the question of the bulk deletion.
std::string delete_listed_command_text(std::size_t count);  // "Delete the N listed systems..."
std::string delete_listed_confirmation_text(std::size_t count);

}  // namespace tally
