// The Systems window's rows: cell texts, sort keys, filters and the
// incremental move of one changed computer.
#include "server/model/systems_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "server/model/formats.h"
#include "server/model/windows_names.h"

namespace tally {

namespace {

constexpr GridColumnInfo column_infos[grid_column_count] = {
    {"Computer Name", false, 130}, {"User", false, 90},           {"IP Address", false, 100},
    {"MAC Address", false, 120},   {"Windows", false, 120},       {"Processor", false, 100},
    {"Speed in Mhz", true, 80},    {"RAM Size in MB", true, 90},  {"Disk Total MB", true, 90},
    {"Disk Free MB", true, 90},    {"Fullest Disk % Free", true, 110}, {"Last Report", false, 160},
    {"Days Since", true, 70},      {"Serial Number", false, 100}, {"Asset Tag", false, 90},
    {"Custom Field 1", false, 100}, {"Custom Field 2", false, 100},
    {"Processor Name", false, 160}, {"Manufacturer and Model", false, 160},
    {"BIOS Serial Number", false, 110}, {"Windows Edition", false, 130}, {"Signed", false, 60},
    {"First Seen", false, 160},
};

constexpr std::uint64_t no_number = ~std::uint64_t(0);  // sorts after every number

std::size_t col(GridColumn c) { return static_cast<std::size_t>(c); }

unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

std::string lower(const std::string& text) { return ascii_lower(text); }

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

void set_number(GridRow& row, GridColumn c, std::uint64_t value) {
    row.number[col(c)] = value;
    row.text[col(c)] = std::to_string(value);
}

}  // namespace

const GridColumnInfo& grid_column_info(GridColumn column) { return column_infos[col(column)]; }

std::string ascii_lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(fold(static_cast<unsigned char>(c)));
    return out;
}

std::uint32_t days_since(std::uint32_t last_update, std::uint32_t now) {
    return now > last_update ? (now - last_update) / seconds_per_day : 0;
}

int natural_compare(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (is_digit(ca) && is_digit(cb)) {
            // Compare the two digit runs by value: leading zeros skipped, then
            // the longer run is the larger number, then digit by digit.
            std::size_t ei = i, ej = j;
            while (ei < a.size() && is_digit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && is_digit(static_cast<unsigned char>(b[ej]))) ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            const int digits = a.compare(si, ei - si, b, sj, ej - sj);
            if (digits != 0) return digits < 0 ? -1 : 1;
            i = ei, j = ej;
            continue;
        }
        if (fold(ca) != fold(cb)) return fold(ca) < fold(cb) ? -1 : 1;
        ++i, ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    const int bytes = a.compare(b);
    return bytes < 0 ? -1 : (bytes > 0 ? 1 : 0);
}

namespace {

// A date as the record views show it, without their line end.
std::string grid_date(std::uint32_t seconds_since_1970) {
    std::string date = date_text(seconds_since_1970);
    if (!date.empty() && date.back() == '\n') date.pop_back();
    return date;
}

// Fixed disks: totals in whole MB, and the smallest share of free space.
void fill_disks(GridRow& row, const RecordView& r) {
    const FixedDisks disks = fixed_disks(r);
    set_number(row, GridColumn::disk_total, disks.total_mb);
    set_number(row, GridColumn::disk_free, disks.free_mb);
    row.number[col(GridColumn::fullest_disk_free)] = disks.has_size ? disks.fullest_percent_free : no_number;
    if (disks.has_size) row.text[col(GridColumn::fullest_disk_free)] = std::to_string(disks.fullest_percent_free);
}

// The last report and days since, and the first report the history knows of.
void fill_dates(GridRow& row, const RecordView& r, std::uint32_t now, const History* history) {
    row.text[col(GridColumn::last_report)] = grid_date(r.last_update());
    row.number[col(GridColumn::last_report)] = r.last_update();
    row.days = days_since(r.last_update(), now);
    set_number(row, GridColumn::days_since, row.days);
    if (!history) return;
    if (const auto seen = history->first_seen(r.mac())) {
        row.text[col(GridColumn::first_seen)] = grid_date(*seen);
        row.number[col(GridColumn::first_seen)] = *seen;
    }
}

// The facts of the extension packet, and whether the last report was signed:
// a computer that has sent a signed pass has every later report refused
// unless it is signed.
void fill_extension(GridRow& row, const ExtensionRecord* ext) {
    auto& t = row.text;
    if (ext) {
        t[col(GridColumn::processor_name)] = ext->facts.processor_name;
        t[col(GridColumn::system_model)] = system_model_text(ext->facts);
        t[col(GridColumn::bios_serial)] = real_serial(ext->facts.bios_serial);
        t[col(GridColumn::windows_release)] = windows_release_text(ext->facts);
    }
    t[col(GridColumn::signed_report)] = ext && (ext->flags & ext_record::flag_signs_reports) ? "Yes" : "No";
}

// The searchable fields, separated by a byte no find text holds, so that a
// match never spans two fields.
void fill_find_text(GridRow& row) {
    for (GridColumn c : {GridColumn::computer_name, GridColumn::user, GridColumn::ip_address, GridColumn::mac_address,
                         GridColumn::serial_number, GridColumn::asset_tag, GridColumn::custom_field_1,
                         GridColumn::custom_field_2, GridColumn::bios_serial}) {
        row.find_text += lower(row.text[col(c)]);
        row.find_text += '\x1f';
    }
}

}  // namespace

GridRow make_grid_row(const Store& store, std::uint32_t i, std::uint32_t now, const History* history) {
    GridRow row;
    const RecordView r = store.record(i);
    if (r.is_free()) return row;
    ExtensionRecord ext;
    const bool have_ext = store.extension(i, ext);
    row.present = true;
    auto& t = row.text;
    t[col(GridColumn::computer_name)] = r.computer_name();
    t[col(GridColumn::user)] = r.last_user();
    const Ipv4 ip = r.ip_address();
    t[col(GridColumn::ip_address)] = format_ipv4(ip);
    row.number[col(GridColumn::ip_address)] =
        (std::uint64_t(ip[0]) << 24) | (std::uint64_t(ip[1]) << 16) | (std::uint64_t(ip[2]) << 8) | ip[3];
    t[col(GridColumn::mac_address)] = format_mac(r.mac());
    row.number[col(GridColumn::mac_address)] = mac_key(r.mac());
    t[col(GridColumn::windows)] = record_windows_text(r, have_ext ? ext.product_type : 0);
    t[col(GridColumn::processor)] = r.cpuid_response();
    const float mhz = r.speed_mhz();
    set_number(row, GridColumn::speed,
               (std::isfinite(mhz) && mhz > 0.0f && mhz < 4294967296.0f) ? std::uint64_t(mhz) : 0);
    set_number(row, GridColumn::ram, r.ram_mb());
    fill_disks(row, r);
    fill_dates(row, r, now, history);
    // Placeholder serial numbers of firmware show as none, and match nothing.
    t[col(GridColumn::serial_number)] = real_serial(r.serial_number());
    t[col(GridColumn::asset_tag)] = r.asset_tag();
    t[col(GridColumn::custom_field_1)] = r.custom_field_1();
    t[col(GridColumn::custom_field_2)] = r.custom_field_2();
    fill_extension(row, have_ext ? &ext : nullptr);
    fill_find_text(row);
    return row;
}

bool SystemsGrid::passes(std::uint32_t i) const {
    const GridRow& row = rows_[i];
    if (!row.present) return false;
    if (restricted_ && (i >= in_set_.size() || !in_set_[i])) return false;
    if (stale_days_ != 0 && row.days < stale_days_) return false;
    return find_.empty() || row.find_text.find(find_) != std::string::npos;
}

bool SystemsGrid::less(std::uint32_t a, std::uint32_t b) const {
    const std::size_t c = col(sort_column_);
    int order;
    if (column_infos[c].numeric || sort_column_ == GridColumn::ip_address || sort_column_ == GridColumn::mac_address ||
        sort_column_ == GridColumn::last_report || sort_column_ == GridColumn::first_seen) {
        const std::uint64_t x = rows_[a].number[c], y = rows_[b].number[c];
        order = x < y ? -1 : (x > y ? 1 : 0);
    } else {
        order = natural_compare(rows_[a].text[c], rows_[b].text[c]);
    }
    if (!ascending_) order = -order;
    return order != 0 ? order < 0 : a < b;
}

void SystemsGrid::sort_shown() {
    std::sort(shown_.begin(), shown_.end(), [this](std::uint32_t a, std::uint32_t b) { return less(a, b); });
}

void SystemsGrid::refilter() {
    shown_.clear();
    computers_ = 0;
    for (std::uint32_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].present) ++computers_;
        if (passes(i)) shown_.push_back(i);
    }
    sort_shown();
}

void SystemsGrid::fill(const Store& store, std::uint32_t now) {
    const std::uint32_t n = store.record_count();
    rows_.clear();
    for (std::uint32_t i = 0; i < n; ++i) rows_.push_back(make_grid_row(store, i, now, history_));
    refilter();
}

void SystemsGrid::update_record(const Store& store, std::uint32_t i, std::uint32_t now) {
    if (i >= store.record_count()) return;
    if (rows_.size() < store.record_count()) rows_.resize(store.record_count());
    const auto at = std::find(shown_.begin(), shown_.end(), i);
    if (at != shown_.end()) shown_.erase(at);
    if (rows_[i].present) --computers_;
    rows_[i] = make_grid_row(store, i, now, history_);
    if (rows_[i].present) ++computers_;
    if (!passes(i)) return;
    shown_.insert(std::lower_bound(shown_.begin(), shown_.end(), i,
                                   [this](std::uint32_t a, std::uint32_t b) { return less(a, b); }),
                  i);
}

void SystemsGrid::set_find(const std::string& text) {
    const std::string next = lower(text);
    const bool narrower = next.find(find_) != std::string::npos;
    find_ = next;
    if (narrower) {
        // A longer text only drops rows: keep the shown order, no new sort.
        shown_.erase(std::remove_if(shown_.begin(), shown_.end(), [this](std::uint32_t i) { return !passes(i); }),
                     shown_.end());
    } else {
        refilter();
    }
}

void SystemsGrid::set_not_reported_days(std::uint32_t days) {
    stale_days_ = days;
    refilter();
}

void SystemsGrid::set_record_set(const std::optional<std::vector<std::uint32_t>>& records) {
    restricted_ = records.has_value();
    in_set_.assign(rows_.size(), 0);
    if (records)
        for (std::uint32_t i : *records)
            if (i < in_set_.size()) in_set_[i] = 1;
    refilter();
}

void SystemsGrid::sort_by(GridColumn column, bool ascending) {
    sort_column_ = column;
    ascending_ = ascending;
    sort_shown();
}

void SystemsGrid::click_column(GridColumn column) { sort_by(column, column == sort_column_ ? !ascending_ : true); }

std::optional<std::size_t> SystemsGrid::row_of(std::uint32_t record) const {
    const auto at = std::find(shown_.begin(), shown_.end(), record);
    if (at == shown_.end()) return std::nullopt;
    return static_cast<std::size_t>(at - shown_.begin());
}

std::string systems_count_text(std::size_t shown, std::size_t total) {
    return std::to_string(shown) + " of " + std::to_string(total) + " systems listed";
}

std::uint32_t parse_days(const std::string& text) {
    std::uint32_t days = 0;
    for (std::size_t k = 0; k < text.size() && is_digit(static_cast<unsigned char>(text[k])); ++k)
        days = std::min<std::uint32_t>(days * 10 + std::uint32_t(text[k] - '0'), 99999);
    return days;
}

std::string delete_listed_command_text(std::size_t count) {
    return "Delete the " + std::to_string(count) + " listed systems...";
}

std::string delete_listed_confirmation_text(std::size_t count) {
    return "Are you sure you wish to delete the " + std::to_string(count) +
           " listed systems and their software from the database?";
}

}  // namespace tally
