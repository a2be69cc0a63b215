// History.Audit: the change events of every computer, beside the database
// files (which stay as they are): fixed-size records appended in sequence
// order, each with a check, so a torn record from a crash is skipped at load
// and overwritten by the next one. The file is never held in memory; a small
// index (time, kind, computer and record number of each event) is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/bytes.h"
#include "server/store/change_events.h"
#include "server/store/db_file.h"
#include "server/store/mac_hash.h"

namespace tally {

constexpr char history_file_name[] = "History.Audit";
// The purge writes the kept events here, then puts it in place of the file.
constexpr char history_new_file_name[] = "History.Audit.new";
constexpr std::uint32_t default_history_days = 400;
// Events a slice of a purge looks at: about a megabyte of the file.
constexpr std::size_t purge_slice_events = 4096;

namespace history_record {
constexpr std::size_t size = 256;
constexpr Field sequence{0, 8};
constexpr Field time{8, 8};
constexpr Field mac{16, 6};
constexpr Field kind{22, 1};
constexpr Field version{23, 1};  // 1
constexpr Field computer_name{24, 52};
constexpr Field what{76, 64};
constexpr Field old_value{140, 56};
constexpr Field new_value{196, 56};
constexpr Field check{252, 4};
constexpr Field fields[] = {sequence, time, mac, kind, version, computer_name, what, old_value, new_value, check};
}  // namespace history_record
static_assert(layout_is_sound(history_record::fields, history_record::size) &&
                  history_record::check.end() == history_record::size,
              "history record layout");

// The check of a record: over the 63 little-endian 32-bit words of bytes 0
// to 251, h = 2166136261, then h = (h xor word) x 16777619 (mod 2^32) each.
std::uint32_t history_check(const std::uint8_t* record);
void encode_history_record(const ChangeEvent& e, std::uint8_t* out);
// False when the record is not whole: its check fails, or its sequence or kind is 0.
bool decode_history_record(const std::uint8_t* bytes, ChangeEvent& out);

// One event in the index.
struct HistoryEntry {
    std::uint32_t time;
    std::uint32_t record;    // record number in the file
    std::uint32_t computer;  // index of the computer (History::computer_mac)
    ChangeKind kind;
};

class History {
public:
    // Opens or creates the file in the working directory and indexes it; a
    // purge's new file left by a crash before it replaced the file is
    // removed. 0 on success, 1 when the file cannot be opened (the history
    // is then off: nothing is recorded).
    int open(const std::string& working_directory);
    void close();
    bool is_open() const { return file_.is_open(); }

    // Stores the events with the next sequence numbers and time `now` (the
    // events get both). False when the file could not take them: they are
    // tried again with the next events.
    bool append(std::vector<ChangeEvent> events, std::uint32_t now);
    // Told after events were appended to the index, with the first new entry.
    std::function<void(std::size_t first_entry)> on_append;

    std::size_t size() const { return index_.entries.size(); }
    const HistoryEntry& entry(std::size_t k) const { return index_.entries[k]; }
    // The first entry whose time is at or after `time` when no entry is
    // older than the one before it (as long as the server's clock was not
    // set back); 0 otherwise. Entries before it are all older than `time`.
    std::size_t first_entry_from(std::uint32_t time) const;
    // Reads the events of these entries (ascending), neighbours in one read.
    // False when a record could not be read (its event is left empty).
    bool read(const std::vector<std::uint32_t>& entries, std::vector<ChangeEvent>& out);
    // The entries of one computer, oldest first; none for a computer without events.
    const std::vector<std::uint32_t>* entries_of(const std::uint8_t* mac) const;
    // The computer's index (HistoryEntry::computer), if it has events.
    std::optional<std::uint32_t> computer_of(const std::uint8_t* mac) const;
    // When the computer was first seen, if the history knows it.
    std::optional<std::uint32_t> first_seen(const std::uint8_t* mac) const;
    std::uint64_t next_sequence() const { return next_sequence_; }
    // Events that could not be written yet.
    std::size_t unwritten() const { return unwritten_events_.size(); }

    // Writes the events that could not be written before; true when none waits.
    bool flush() { return write_pending(); }

    // The purge removes every event older than a cutoff but the "first seen"
    // ones: the kept records are copied into a new file a slice at a time
    // (a large file never holds the caller for long), and once every record
    // is copied, one "History purged" event saying what went is stored, the
    // new file is flushed to disk and replaces the old one in one rename.
    // Until then the old file and its index stay in force, and events
    // appended meanwhile are copied too.
    enum class PurgeStep { running, done, failed };
    // Starts a purge of the events older than `cutoff`: `running` (also when
    // one is under way already), `done` when no event is that old, `failed`
    // when the history is off or the new file cannot be made.
    PurgeStep begin_purge(std::uint32_t cutoff);
    // The same for a retention of `days` days at `now`.
    PurgeStep begin_purge_older_than_days(std::uint32_t days, std::uint32_t now);
    bool purging() const { return purge_ != nullptr; }
    // Looks at up to `entries` more events of the purge under way and copies
    // the kept ones; when all are copied, stores the marker (time `now`) and
    // puts the new file in place. `done` also when no purge is under way;
    // `failed` when the new file could not be written or put in place (the
    // old one stays in force; the purge can be started again later).
    PurgeStep continue_purge(std::size_t entries, std::uint32_t now);
    // A whole purge at once; false when it failed.
    bool purge_before(std::uint32_t cutoff, std::uint32_t now);
    bool purge_older_than_days(std::uint32_t days, std::uint32_t now);

private:
    struct Computer {
        std::uint64_t key = 0;  // mac_key() of the computer
        std::vector<std::uint32_t> entries;
        std::uint32_t first_seen = 0;
        bool has_first_seen = false;
    };
    // The index of the events: one entry per record that counts, and each
    // computer's entries.
    struct Index {
        std::vector<HistoryEntry> entries;
        std::vector<Computer> computers;
        std::unordered_map<std::uint64_t, std::uint32_t, MacHash> computer_of_key;
        bool in_time_order = true;  // no entry older than the one before it
        void add(std::uint64_t key, std::uint32_t time, ChangeKind kind, std::uint32_t record);
        const Computer* find(const std::uint8_t* mac) const;
    };
    // A purge under way: the new file, how far the old index was looked at,
    // and the index of the new file.
    struct Purge {
        DbFile file;
        std::uint32_t cutoff = 0;
        std::size_t next_entry = 0;
        std::size_t purged = 0;
        std::uint32_t records = 0;  // records written into the new file
        std::uint32_t synced = 0;   // of which flushed to disk
        Index index;
    };
    void add_entry(const ChangeEvent& e, std::uint32_t record);
    bool load();
    bool write_pending();
    bool copy_kept(const std::vector<std::uint32_t>& kept);
    PurgeStep finish_purge(std::uint32_t now);
    PurgeStep abandon_purge();

    std::string path_, new_path_;
    DbFile file_;
    std::uint32_t records_in_file_ = 0;  // the next record number
    std::uint64_t next_sequence_ = 1;
    Index index_;
    std::vector<std::uint8_t> unwritten_;  // encoded records awaiting writing
    std::vector<ChangeEvent> unwritten_events_;
    std::unique_ptr<Purge> purge_;
};

// Text of the purge marker: "1234 events before Www Mmm DD hh:mm:ss YYYY".
std::string purge_marker_text(std::size_t purged);

}  // namespace tally
