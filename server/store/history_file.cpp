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
// A purge flushes its new file to disk as it goes, every 8 MB, so that the
// flush before the rename, in the last slice, is short too.
constexpr std::uint32_t records_per_purge_sync = (8u << 20) / history_record::size;
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
    if (purge_) abandon_purge();
    file_.close();
    index_ = Index{};
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

void History::Index::add(std::uint64_t key, std::uint32_t time, ChangeKind kind, std::uint32_t record) {
    auto found = computer_of_key.find(key);
    std::uint32_t c;
    if (found == computer_of_key.end()) {
        c = static_cast<std::uint32_t>(computers.size());
        computer_of_key.emplace(key, c);
        computers.emplace_back().key = key;
    } else {
        c = found->second;
    }
    Computer& computer = computers[c];
    computer.entries.push_back(static_cast<std::uint32_t>(entries.size()));
    if (kind == ChangeKind::first_seen && !computer.has_first_seen) {
        computer.first_seen = time;
        computer.has_first_seen = true;
    }
    if (!entries.empty() && time < entries.back().time) in_time_order = false;
    entries.push_back({time, record, c, kind});
}

std::size_t History::first_entry_from(std::uint32_t time) const {
    if (!index_.in_time_order) return 0;
    const auto& entries = index_.entries;
    const auto first = std::lower_bound(entries.begin(), entries.end(), time,
                                        [](const HistoryEntry& e, std::uint32_t t) { return e.time < t; });
    return static_cast<std::size_t>(first - entries.begin());
}

const History::Computer* History::Index::find(const std::uint8_t* mac) const {
    auto found = computer_of_key.find(mac_key(mac));
    return found == computer_of_key.end() ? nullptr : &computers[found->second];
}

void History::add_entry(const ChangeEvent& e, std::uint32_t record) {
    index_.add(mac_key(e.mac.data()), e.time, e.kind, record);
    if (e.sequence >= next_sequence_) next_sequence_ = e.sequence + 1;
}

// Indexes the whole records in sequence order; appending goes on after the
// last of them, over whatever follows it.
bool History::load() {
    const std::int64_t length = file_.length();
    if (length < 0) return false;
    const std::uint64_t records = std::uint64_t(length) / hr::size;
    std::vector<std::uint8_t> block(records_per_read * hr::size);
    // One entry per whole record: room for all at once, not grown by doubling (which copies the index and,
    // at its largest, holds it half again).
    index_.entries.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(records, 0xFFFFFFFFu)));
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
    const std::size_t first = index_.entries.size();
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
        const std::uint32_t first = index_.entries[which[k]].record;
        std::size_t n = 1;
        while (k + n < which.size() && n < records_per_read && index_.entries[which[k + n]].record == first + n) ++n;
        block.resize(n * hr::size);
        const std::size_t got = file_.read_at(std::uint64_t(first) * hr::size, block.data(), block.size());
        for (std::size_t j = 0; j < n; ++j)
            if ((j + 1) * hr::size > got || !decode_history_record(block.data() + j * hr::size, out[k + j])) ok = false;
        k += n;
    }
    return ok;
}

const std::vector<std::uint32_t>* History::entries_of(const std::uint8_t* mac) const {
    const Computer* c = index_.find(mac);
    return c ? &c->entries : nullptr;
}

std::optional<std::uint32_t> History::computer_of(const std::uint8_t* mac) const {
    auto found = index_.computer_of_key.find(mac_key(mac));
    if (found == index_.computer_of_key.end()) return std::nullopt;
    return found->second;
}

std::optional<std::uint32_t> History::first_seen(const std::uint8_t* mac) const {
    const Computer* c = index_.find(mac);
    if (!c || !c->has_first_seen) return std::nullopt;
    return c->first_seen;
}

// ---------------------------------------------------------------- purging

History::PurgeStep History::begin_purge_older_than_days(std::uint32_t days, std::uint32_t now) {
    const std::uint64_t span = std::uint64_t(days) * 86400u;
    if (days == 0 || span >= now) return PurgeStep::done;
    return begin_purge(static_cast<std::uint32_t>(now - span));
}

History::PurgeStep History::begin_purge(std::uint32_t cutoff) {
    if (purge_) return PurgeStep::running;
    if (!is_open()) return PurgeStep::failed;
    const auto old = [cutoff](const HistoryEntry& e) { return e.time < cutoff && e.kind != ChangeKind::first_seen; };
    if (std::none_of(index_.entries.begin(), index_.entries.end(), old)) return PurgeStep::done;
    purge_ = std::make_unique<Purge>();
    purge_->cutoff = cutoff;
    std::remove(new_path_.c_str());  // result not checked: usually there is none
    if (purge_->file.open_or_create(new_path_) != DbFile::OpenResult::created) return abandon_purge();
    return PurgeStep::running;
}

History::PurgeStep History::abandon_purge() {
    purge_->file.close();
    std::remove(new_path_.c_str());  // result not checked: the old file stays in force
    purge_.reset();
    return PurgeStep::failed;
}

// Copies the records of these entries (ascending) to the end of the new
// file, neighbours in one read, and indexes them there.
bool History::copy_kept(const std::vector<std::uint32_t>& kept) {
    Purge& p = *purge_;
    std::vector<std::uint8_t> block;
    for (std::size_t k = 0; k < kept.size();) {
        const std::uint32_t first = index_.entries[kept[k]].record;
        std::size_t n = 1;
        while (k + n < kept.size() && index_.entries[kept[k + n]].record == first + n) ++n;
        block.resize(n * hr::size);
        // The records were whole when they were indexed; they are copied as they are.
        if (file_.read_at(std::uint64_t(first) * hr::size, block.data(), block.size()) != block.size() ||
            !p.file.write_at(std::uint64_t(p.records) * hr::size, block.data(), block.size()))
            return false;
        for (std::size_t j = 0; j < n; ++j) {
            const HistoryEntry& e = index_.entries[kept[k + j]];
            p.index.add(index_.computers[e.computer].key, e.time, e.kind, p.records++);
        }
        k += n;
    }
    return true;
}

History::PurgeStep History::continue_purge(std::size_t entries, std::uint32_t now) {
    if (!purge_) return PurgeStep::done;
    Purge& p = *purge_;
    std::vector<std::uint32_t> kept;
    const std::size_t end = std::min(index_.entries.size(), p.next_entry + std::max<std::size_t>(entries, 1));
    for (; p.next_entry < end; ++p.next_entry) {
        const HistoryEntry& e = index_.entries[p.next_entry];
        if (e.time >= p.cutoff || e.kind == ChangeKind::first_seen)
            kept.push_back(static_cast<std::uint32_t>(p.next_entry));
        else
            ++p.purged;
    }
    if (!copy_kept(kept)) return abandon_purge();
    if (p.records - p.synced >= records_per_purge_sync) {
        if (!p.file.sync()) return abandon_purge();
        p.synced = p.records;
    }
    if (p.next_entry < index_.entries.size()) return PurgeStep::running;
    // Events that wait to be written go into the old file first, and are copied with the next slice.
    if (!write_pending()) return abandon_purge();
    if (p.next_entry < index_.entries.size()) return PurgeStep::running;
    return finish_purge(now);
}

// Every kept record is copied: the marker, the flush, the rename, and the
// new file's index takes over.
History::PurgeStep History::finish_purge(std::uint32_t now) {
    Purge& p = *purge_;
    ChangeEvent marker;
    marker.sequence = next_sequence_;
    marker.time = now;
    marker.kind = ChangeKind::history_purged;
    marker.what = "History purged";
    marker.old_value = purge_marker_text(p.purged);
    std::uint8_t bytes[hr::size];
    encode_history_record(marker, bytes);
    if (!p.file.write_at(std::uint64_t(p.records) * hr::size, bytes, sizeof bytes) || !p.file.sync())
        return abandon_purge();
    p.file.close();
    file_.close();
    const bool replaced = replace_file(new_path_, path_);
    if (file_.open_or_create(path_) == DbFile::OpenResult::failed || !file_.is_open()) {
        // Neither file can be opened again: the history is off.
        purge_.reset();
        close();
        return PurgeStep::failed;
    }
    if (!replaced) return abandon_purge();
    index_ = std::move(p.index);
    records_in_file_ = p.records;
    purge_.reset();
    add_entry(marker, records_in_file_++);
    if (on_append) on_append(0);
    return PurgeStep::done;
}

bool History::purge_older_than_days(std::uint32_t days, std::uint32_t now) {
    PurgeStep step = begin_purge_older_than_days(days, now);
    while (step == PurgeStep::running) step = continue_purge(records_per_read, now);
    return step == PurgeStep::done;
}

bool History::purge_before(std::uint32_t cutoff, std::uint32_t now) {
    PurgeStep step = begin_purge(cutoff);
    while (step == PurgeStep::running) step = continue_purge(records_per_read, now);
    return step == PurgeStep::done;
}

}  // namespace tally
