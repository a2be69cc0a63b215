// The Changes window's and the timeline's rows: filters, find, order, sheet.
#include "server/model/changes_view.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <utility>

#include "server/model/formats.h"
#include "server/model/local_time.h"
#include "server/model/systems_grid.h"

namespace tally {

const GridColumnInfo& change_column_info(ChangeColumn column) {
    static const GridColumnInfo infos[change_column_count] = {
        {"Time", false, 130}, {"Computer", false, 110}, {"Kind", false, 100},
        {"What", false, 180}, {"Old Value", false, 130}, {"New Value", false, 130},
    };
    return infos[static_cast<std::size_t>(column)];
}

const char* change_group_text(ChangeGroup group) {
    static const char* const texts[change_group_count] = {"Programs added", "Programs removed", "Programs updated",
                                                          "Hardware",       "Windows",          "Identity",
                                                          "User actions"};
    return texts[static_cast<std::size_t>(group)];
}

std::uint32_t change_group_kinds(ChangeGroup group) {
    auto bit = [](ChangeKind k) { return 1u << static_cast<unsigned>(k); };
    switch (group) {
        case ChangeGroup::programs_added: return bit(ChangeKind::program_added);
        case ChangeGroup::programs_removed: return bit(ChangeKind::program_removed);
        case ChangeGroup::programs_updated: return bit(ChangeKind::program_updated);
        case ChangeGroup::hardware: return bit(ChangeKind::hardware);
        case ChangeGroup::windows: return bit(ChangeKind::windows);
        case ChangeGroup::identity: return bit(ChangeKind::identity) | bit(ChangeKind::first_seen);
        case ChangeGroup::user_actions: return bit(ChangeKind::user_action) | bit(ChangeKind::history_purged);
    }
    return 0;
}

std::string change_time_text(std::uint32_t seconds_since_1970) {
    const std::time_t t = static_cast<std::time_t>(seconds_since_1970);
    std::tm local{};
    if (!local_time(t, local)) return std::string();
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::optional<std::uint32_t> parse_since_date(const std::string& text) {
    int y = 0, m = 0, d = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), " %4d-%2d-%2d %c", &y, &m, &d, &rest) != 3) return std::nullopt;
    if (y < 1970 || y > 2105 || m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
    std::tm local{};
    local.tm_year = y - 1900;
    local.tm_mon = m - 1;
    local.tm_mday = d;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    if (t == static_cast<std::time_t>(-1) || local.tm_mday != d) return std::nullopt;
    return t < 0 ? 0u : static_cast<std::uint32_t>(t);
}

std::uint32_t changes_since(const std::string& days_box, const std::string& since_box, std::uint32_t now) {
    if (const auto date = parse_since_date(since_box)) return *date;
    const std::uint64_t span = std::uint64_t(parse_days(days_box)) * seconds_per_day;
    return span == 0 || span >= now ? 0u : static_cast<std::uint32_t>(now - span);
}

std::uint32_t changes_kinds(const bool (&ticked)[change_group_count]) {
    std::uint32_t kinds = 0;
    for (std::size_t g = 0; g < change_group_count; ++g)
        if (ticked[g]) kinds |= change_group_kinds(ChangeGroup(g));
    return kinds;
}

std::string timeline_title(const std::string& computer, const std::uint8_t* mac) {
    return "Changes of " + computer + " (" + format_mac(mac) + ")";
}

bool ChangesView::passes(const HistoryEntry& e) const {
    return e.time >= since_ && (kinds_ & (1u << static_cast<unsigned>(e.kind))) != 0;
}

namespace {

// Writes the value as `width` digits (leading zeros) at `out`.
char* put_digits(char* out, int value, int width) {
    for (int k = width - 1; k >= 0; --k, value /= 10) out[k] = static_cast<char>('0' + value % 10);
    return out + width;
}

// The time texts of many events close in time. The local time of a quarter
// hour is looked up once (and its end checked to lie the same distance
// ahead, so a change of the offset from UTC inside it is seen) and the
// seconds within it are added; a quarter whose check fails, or that would
// carry into the next hour, is looked up event by event.
class TimeTexts {
public:
    std::string text(std::uint32_t t) {
        const std::uint32_t quarter = t / quarter_seconds;
        if (quarter != quarter_) look_up(quarter);
        if (!usable_) return change_time_text(t);
        const int s = base_seconds_ + static_cast<int>(t % quarter_seconds);
        char out[19];
        char* p = put_digits(out, base_.tm_year + 1900, 4);
        *p++ = '-';
        p = put_digits(p, base_.tm_mon + 1, 2);
        *p++ = '-';
        p = put_digits(p, base_.tm_mday, 2);
        *p++ = ' ';
        p = put_digits(p, base_.tm_hour, 2);
        *p++ = ':';
        p = put_digits(p, s / 60, 2);
        *p++ = ':';
        put_digits(p, s % 60, 2);
        return std::string(out, sizeof out);
    }

private:
    static constexpr std::uint32_t quarter_seconds = 900;
    void look_up(std::uint32_t quarter) {
        quarter_ = quarter;
        const std::time_t start = static_cast<std::time_t>(quarter) * quarter_seconds;
        std::tm end{};
        usable_ = local_time(start, base_) && local_time(start + (quarter_seconds - 1), end) &&
                  base_.tm_year >= 0 && base_.tm_year + 1900 <= 9999;
        base_seconds_ = base_.tm_min * 60 + base_.tm_sec;
        usable_ = usable_ && base_seconds_ + int(quarter_seconds) - 1 < 3600 && end.tm_hour == base_.tm_hour &&
                  end.tm_mday == base_.tm_mday && end.tm_min * 60 + end.tm_sec == base_seconds_ + int(quarter_seconds) - 1;
    }
    std::uint32_t quarter_ = 0xFFFFFFFFu;
    bool usable_ = false;
    std::tm base_{};
    int base_seconds_ = 0;
};

void lower_in_place(std::string& text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
}

}  // namespace

void ChangesView::add_rows(History& history, const Store& store, const std::vector<std::uint32_t>& entries) {
    std::vector<ChangeEvent> events;
    // result not checked: a record that cannot be read shows empty
    history.read(entries, events);
    rows_.reserve(rows_.size() + events.size());
    TimeTexts times;
    std::string user;
    for (ChangeEvent& e : events) {
        Row& row = rows_.emplace_back();
        row.sequence = e.sequence;
        row.mac = e.mac;
        row.text[0] = times.text(e.time);
        row.text[1] = std::move(e.computer);
        row.text[2] = change_kind_text(e.kind);
        row.text[3] = std::move(e.what);
        row.text[4] = std::move(e.old_value);
        row.text[5] = std::move(e.new_value);
        user.clear();
        const auto i = store.find_record(e.mac.data());
        if (i && store.holds_computer(*i)) user = store.record(*i).last_user();
        // The find text: the computer, its user, what and both values, one line each, in lower case.
        std::string& find = row.find_text;
        find.reserve(row.text[1].size() + user.size() + row.text[3].size() + row.text[4].size() +
                     row.text[5].size() + 4);
        find.append(row.text[1]).append(1, '\n').append(user).append(1, '\n').append(row.text[3]);
        find.append(1, '\n').append(row.text[4]).append(1, '\n').append(row.text[5]);
        lower_in_place(find);
    }
}

void ChangesView::fill(History& history, const Store& store) {
    rows_.clear();
    std::vector<std::uint32_t> entries;
    if (computer_) {
        if (const auto* mine = history.entries_of(computer_->data()))
            for (std::uint32_t k : *mine)
                if (passes(history.entry(k))) entries.push_back(k);
    } else {
        for (std::size_t k = history.first_entry_from(since_); k < history.size(); ++k)
            if (passes(history.entry(k))) entries.push_back(static_cast<std::uint32_t>(k));
    }
    add_rows(history, store, entries);
    sort_rows();
}

void ChangesView::events_appended(History& history, const Store& store, std::size_t first) {
    if (first == 0) {
        fill(history, store);
        return;
    }
    std::vector<std::uint32_t> entries;
    const std::optional<std::uint32_t> mine = computer_ ? history.computer_of(computer_->data()) : std::nullopt;
    for (std::size_t k = first; k < history.size(); ++k) {
        const HistoryEntry& e = history.entry(k);
        if (!passes(e)) continue;
        if (computer_ && mine != e.computer) continue;
        entries.push_back(static_cast<std::uint32_t>(k));
    }
    add_rows(history, store, entries);
    sort_rows();
}

void ChangesView::set_find(const std::string& text) {
    find_ = ascii_lower(text);
    refilter();
}

bool ChangesView::less(std::uint32_t a, std::uint32_t b) const {
    const Row& ra = rows_[a];
    const Row& rb = rows_[b];
    int c = 0;
    if (sort_column_ != ChangeColumn::time) {
        const std::size_t k = static_cast<std::size_t>(sort_column_);
        c = natural_compare(ra.text[k], rb.text[k]);
    }
    if (c == 0) c = ra.sequence < rb.sequence ? -1 : (ra.sequence > rb.sequence ? 1 : 0);
    return ascending_ ? c < 0 : c > 0;
}

void ChangesView::sort_rows() {
    order_.resize(rows_.size());
    if (sort_column_ == ChangeColumn::time) {
        // By sequence alone (the time column's order): the numbers side by side, no row touched while sorting.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keys(rows_.size());
        for (std::uint32_t k = 0; k < rows_.size(); ++k) keys[k] = {rows_[k].sequence, k};
        if (ascending_)
            std::sort(keys.begin(), keys.end());
        else
            std::sort(keys.begin(), keys.end(), std::greater<>());
        for (std::size_t k = 0; k < keys.size(); ++k) order_[k] = keys[k].second;
    } else {
        for (std::uint32_t k = 0; k < rows_.size(); ++k) order_[k] = k;
        std::sort(order_.begin(), order_.end(), [this](std::uint32_t a, std::uint32_t b) { return less(a, b); });
    }
    refilter();
}

void ChangesView::refilter() {
    shown_.clear();
    for (std::uint32_t k : order_)
        if (find_.empty() || rows_[k].find_text.find(find_) != std::string::npos) shown_.push_back(k);
}

void ChangesView::sort_by(ChangeColumn column, bool ascending) {
    sort_column_ = column;
    ascending_ = ascending;
    sort_rows();
}

void ChangesView::click_column(ChangeColumn column) { sort_by(column, column == sort_column_ ? !ascending_ : true); }

std::vector<std::uint32_t> recent_installs(History& history, const Store& store, const std::string& program,
                                           const std::optional<std::string>& version, std::uint32_t since) {
    std::vector<std::uint32_t> entries;
    for (std::uint32_t k = 0; k < history.size(); ++k) {
        const HistoryEntry& e = history.entry(k);
        if (e.time >= since && (e.kind == ChangeKind::program_added || e.kind == ChangeKind::program_updated))
            entries.push_back(k);
    }
    std::vector<ChangeEvent> events;
    // result not checked: a record that cannot be read names no program
    history.read(entries, events);
    std::vector<std::uint32_t> records;
    for (const ChangeEvent& e : events) {
        if (e.what != program || (version && e.new_value != *version)) continue;
        const auto i = store.find_record(e.mac.data());
        if (i && store.holds_computer(*i)) records.push_back(*i);
    }
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    return records;
}

std::string installed_within_text(std::uint32_t days) {
    return " installed in the last " + std::to_string(days) + (days == 1 ? " day" : " days");
}

std::string changes_count_text(std::size_t shown, std::size_t total) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu of %llu changes listed", static_cast<unsigned long long>(shown),
                  static_cast<unsigned long long>(total));
    return text;
}

}  // namespace tally
