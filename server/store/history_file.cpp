// History.Audit: record layout, loading the index, appending, reading and purging.
#include "server/store/history_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "server/store/file_replace.h"

namespace tally {

namespace hr = history_record;

namespace {
constexpr std::size_t records_per_read = 4096;
constexpr std::uint8_t record_version = 1;
}  // namespace

std::uint32_t history_check(const std::uint8_t* record) { return words_check(record, hr::check.offset); }

void encode_history_record(const ChangeEvent& e, std::uint8_t* out) {
    std::memset(out, 0, hr::size);
    put_u64(out + hr::sequence.offset, e.sequence);
    put_u64(out + hr::time.offset, e.time);
    std::memcpy(out + hr::mac.offset, e.mac.data(), 6);
    put_u8(out, hr::kind, static_cast<std::uint8_t>(e.kind));
    put_u8(out, hr::version, record_version);
    put_text(out, hr::computer_name, e.computer);
    put_text(out, hr::what, e.what);
    put_text(out, hr::old_value, e.old_value);
    put_text(out, hr::new_value, e.new_value);
    put_u32(out, hr::check, history_check(out));
}

bool decode_history_record(const std::uint8_t* b, ChangeEvent& e) {
    if (get_u32(b, hr::check) != history_check(b)) return false;
    const std::uint8_t kind = get_u8(b, hr::kind);
    e.sequence = get_u64(b, hr::sequence);
    if (e.sequence == 0 || kind == 0 || kind > change_kind_last) return false;
    e.time = static_cast<std::uint32_t>(get_u64(b, hr::time));
    std::memcpy(e.mac.data(), b + hr::mac.offset, 6);
    e.kind = static_cast<ChangeKind>(kind);
    e.computer = get_text(b, hr::computer_name);
    e.what = get_text(b, hr::what);
    e.old_value = get_text(b, hr::old_value);
    e.new_value = get_text(b, hr::new_value);
    return true;
}

std::string purge_marker_text(std::size_t purged) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu events", static_cast<unsigned long long>(purged));
    return text;
}

void History::close() {
    file_.close();
    entries_.clear();
    computers_.clear();
    computer_of_mac_.clear();
    unwritten_.clear();
    unwritten_events_.clear();
    records_in_file_ = 0;
    next_sequence_ = 1;
}

int History::open(const std::string& working_directory) {
    close();
    path_ = join_path(working_directory, history_file_name);
    new_path_ = join_path(working_directory, history_new_file_name);
    // A purge that did not get to replace the file leaves its new file: the
    // old one is whole and stays.
    std::remove(new_path_.c_str());  // result not checked: usually there is none
    if (file_.open_or_create(path_) == DbFile::OpenResult::failed || !file_.is_open()) return 1;
    if (!load()) {
        close();
        return 1;
    }
    return 0;
}

void History::add_entry(const ChangeEvent& e, std::uint32_t record) {
    const std::uint64_t key = mac_key(e.mac.data());
    auto found = computer_of_mac_.find(key);
    std::uint32_t c;
    if (found == computer_of_mac_.end()) {
        c = static_cast<std::uint32_t>(computers_.size());
        computer_of_mac_.emplace(key, c);
        computers_.emplace_back();
    } else {
        c = found->second;
    }
    Computer& computer = computers_[c];
    computer.entries.push_back(static_cast<std::uint32_t>(entries_.size()));
    if (e.kind == ChangeKind::first_seen && !computer.has_first_seen) {
        computer.first_seen = e.time;
        computer.has_first_seen = true;
    }
    entries_.push_back({e.time, record, c, e.kind});
    if (e.sequence >= next_sequence_) next_sequence_ = e.sequence + 1;
}

// Indexes the whole records in sequence order; appending goes on after the
// last of them, over whatever follows it.
bool History::load() {
    const std::int64_t length = file_.length();
    if (length < 0) return false;
    const std::uint64_t records = std::uint64_t(length) / hr::size;
    std::vector<std::uint8_t> block(records_per_read * hr::size);
    ChangeEvent e;
    std::uint32_t end = 0;
    for (std::uint64_t first = 0; first < records; first += records_per_read) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(records_per_read, records - first));
        const std::size_t got = file_.read_at(first * hr::size, block.data(), n * hr::size) / hr::size;
        for (std::size_t k = 0; k < got; ++k) {
            const std::uint8_t* b = block.data() + k * hr::size;
            // The index needs no texts: only the check and the head are read.
            if (get_u32(b, hr::check) != history_check(b)) continue;
            const std::uint8_t kind = get_u8(b, hr::kind);
            e.sequence = get_u64(b, hr::sequence);
            if (e.sequence == 0 || e.sequence < next_sequence_ || kind == 0 || kind > change_kind_last) continue;
            e.time = static_cast<std::uint32_t>(get_u64(b, hr::time));
            std::memcpy(e.mac.data(), b + hr::mac.offset, 6);
            e.kind = static_cast<ChangeKind>(kind);
            add_entry(e, static_cast<std::uint32_t>(first + k));
            end = static_cast<std::uint32_t>(first + k + 1);
        }
        if (got < n) break;
    }
    records_in_file_ = end;
    return true;
}

bool History::write_pending() {
    if (unwritten_.empty()) return true;
    if (!file_.write_at(std::uint64_t(records_in_file_) * hr::size, unwritten_.data(), unwritten_.size()))
        return false;
    const std::size_t first = entries_.size();
    for (const ChangeEvent& e : unwritten_events_) add_entry(e, records_in_file_++);
    unwritten_.clear();
    unwritten_events_.clear();
    if (on_append) on_append(first);
    return true;
}

bool History::append(std::vector<ChangeEvent> events, std::uint32_t now) {
    if (!is_open()) return false;
    std::uint64_t sequence = next_sequence_ + unwritten_events_.size();
    for (ChangeEvent& e : events) {
        e.sequence = sequence++;
        e.time = now;
        const std::size_t at = unwritten_.size();
        unwritten_.resize(at + hr::size);
        encode_history_record(e, unwritten_.data() + at);
        unwritten_events_.push_back(std::move(e));
    }
    return write_pending();
}

bool History::read(const std::vector<std::uint32_t>& which, std::vector<ChangeEvent>& out) {
    out.assign(which.size(), ChangeEvent{});
    bool ok = true;
    std::vector<std::uint8_t> block;
    for (std::size_t k = 0; k < which.size();) {
        // A run of neighbouring records in one read.
        const std::uint32_t first = entries_[which[k]].record;
        std::size_t n = 1;
        while (k + n < which.size() && n < records_per_read && entries_[which[k + n]].record == first + n) ++n;
        block.resize(n * hr::size);
        const std::size_t got = file_.read_at(std::uint64_t(first) * hr::size, block.data(), block.size());
        for (std::size_t j = 0; j < n; ++j)
            if ((j + 1) * hr::size > got || !decode_history_record(block.data() + j * hr::size, out[k + j])) ok = false;
        k += n;
    }
    return ok;
}

const std::vector<std::uint32_t>* History::entries_of(const std::uint8_t* mac) const {
    auto found = computer_of_mac_.find(mac_key(mac));
    return found == computer_of_mac_.end() ? nullptr : &computers_[found->second].entries;
}

std::optional<std::uint32_t> History::computer_of(const std::uint8_t* mac) const {
    auto found = computer_of_mac_.find(mac_key(mac));
    if (found == computer_of_mac_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::uint32_t> History::first_seen(const std::uint8_t* mac) const {
    auto found = computer_of_mac_.find(mac_key(mac));
    if (found == computer_of_mac_.end() || !computers_[found->second].has_first_seen) return std::nullopt;
    return computers_[found->second].first_seen;
}

bool History::purge_older_than_days(std::uint32_t days, std::uint32_t now) {
    const std::uint64_t span = std::uint64_t(days) * 86400u;
    if (days == 0 || span >= now) return true;
    return purge_before(static_cast<std::uint32_t>(now - span), now);
}

bool History::purge_before(std::uint32_t cutoff, std::uint32_t now) {
    if (!is_open() || !write_pending()) return false;
    std::vector<std::uint32_t> kept;
    for (std::uint32_t k = 0; k < entries_.size(); ++k)
        if (entries_[k].time >= cutoff || entries_[k].kind == ChangeKind::first_seen) kept.push_back(k);
    const std::size_t purged = entries_.size() - kept.size();
    if (purged == 0) return true;
    DbFile next;
    std::remove(new_path_.c_str());  // result not checked: usually there is none
    if (next.open_or_create(new_path_) != DbFile::OpenResult::created) return false;
    std::uint64_t at = 0;
    std::vector<std::uint8_t> block;
    std::vector<std::uint32_t> part;
    std::vector<ChangeEvent> events;
    bool ok = true;
    for (std::size_t k = 0; ok && k < kept.size(); k += records_per_read) {
        part.assign(kept.begin() + k, kept.begin() + std::min(kept.size(), k + records_per_read));
        ok = read(part, events);
        block.resize(events.size() * hr::size);
        for (std::size_t j = 0; j < events.size(); ++j) encode_history_record(events[j], block.data() + j * hr::size);
        ok = ok && next.write_at(at, block.data(), block.size());
        at += block.size();
    }
    // The marker: an emptied history is told apart from none.
    ChangeEvent marker;
    marker.sequence = next_sequence_;
    marker.time = now;
    marker.kind = ChangeKind::history_purged;
    marker.what = "History purged";
    marker.old_value = purge_marker_text(purged);
    std::uint8_t bytes[hr::size];
    encode_history_record(marker, bytes);
    ok = ok && next.write_at(at, bytes, sizeof bytes) && next.sync();
    next.close();
    if (!ok) {
        std::remove(new_path_.c_str());  // result not checked: the old file stays in force
        return false;
    }
    file_.close();
    const bool replaced = replace_file(new_path_, path_);
    const std::string directory = path_.substr(0, path_.size() - std::strlen(history_file_name));
    std::function<void(std::size_t)> told = on_append;
    const bool reopened = open(directory) == 0;
    on_append = told;
    if (reopened && on_append) on_append(0);
    return replaced && reopened;
}

}  // namespace tally
