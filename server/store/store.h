// The audit store: the hardware table and the software table, in-memory
// images of Hardware.Audit and Software.Audit, kept in step with the files
// by positioned whole-record writes.
//
// A computer's record is found by MAC, and free records and entries are
// reused lowest first, through indexes kept in step with the tables
// (store_index.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/store/db_file.h"
#include "server/store/extension_file.h"
#include "server/store/notify.h"
#include "server/store/records.h"
#include "server/store/store_index.h"
#include "server/store/table.h"

namespace tally {

constexpr char hardware_file_name[] = "Hardware.Audit";
constexpr char software_file_name[] = "Software.Audit";
// Room reserved beyond the loaded tables, and the least step of a growth.
constexpr std::uint32_t hardware_growth_records = 10;
constexpr std::size_t software_growth_bytes = 10200;

struct StoreOptions {
    // Largest table a growth or load may reserve, in bytes (0: no limit).
    // Lets tests see how a failed reservation is handled.
    std::size_t table_limit = 0;
    // Most programs one computer's list may hold. Real computers list a few
    // hundred; more is a hostile or broken client, which must not fill the
    // server's memory.
    std::uint32_t programs_per_computer = 5000;
};

// Whether a record or a program could be filed.
enum class AddResult { added, no_memory, list_full };

// Item numbers that await writing, in ascending order, each once. Kept in
// a vector whose room stays allocated, so noting the items of a datagram
// costs no allocation (a tree node per item did, dear under Wine's heap).
class PendingItems {
public:
    void insert(std::uint32_t k) {
        if (!items_.empty() && items_.back() >= k) {
            if (items_.back() == k) return;
            sorted_ = false;
        }
        items_.push_back(k);
    }
    bool contains(std::uint32_t k) const {
        normalize();
        return std::binary_search(items_.begin(), items_.end(), k);
    }
    std::size_t size() const {
        normalize();
        return items_.size();
    }
    void clear() {
        items_.clear();
        sorted_ = true;
    }
    const std::vector<std::uint32_t>& items() const {
        normalize();
        return items_;
    }
    // Forgets the first n items: they were written.
    void drop_front(std::size_t n) { items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(n)); }

private:
    void normalize() const {
        if (sorted_) return;
        std::sort(items_.begin(), items_.end());
        items_.erase(std::unique(items_.begin(), items_.end()), items_.end());
        sorted_ = true;
    }
    mutable std::vector<std::uint32_t> items_;
    mutable bool sorted_ = true;
};

// Told by the store of every change that moves software between computers:
// a MAC's software list, or which record carries a MAC, changed (after the
// tables hold the change); or a store was opened anew. The software
// catalogue follows the tables this way, a computer at a time. Listeners
// that follow every fact of a computer (the database publisher) are also
// told when its hardware or extension record changed in place.
class StoreListener {
public:
    virtual ~StoreListener() = default;
    virtual void mac_changed(const std::uint8_t* mac) = 0;
    virtual void store_reopened() = 0;
    virtual void record_changed(const std::uint8_t* /*mac*/) {}
};

// The database files of a working directory and the tables loaded from
// them: records of 808 bytes, 1,024 to a chunk; entries of 102 bytes, 8,192
// to a chunk. A store opens a new set whole before it replaces its own.
struct StoreTables {
    static constexpr unsigned hardware_chunk_shift = 10;
    static constexpr unsigned software_chunk_shift = 13;

    DbFile hardware_file;
    DbFile software_file;
    ChunkedTable hardware{hw_record::size, hardware_chunk_shift};
    std::uint32_t record_count = 0;
    std::uint32_t hardware_capacity = 0;
    ChunkedTable software{sw_entry::size, software_chunk_shift};
    std::size_t used_length = 0;
    std::size_t software_capacity = 0;
    StoreIndex index;
};

class Store {
public:
    explicit Store(Notifier& notifier, StoreOptions options = {});
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (or creates) both files in the working directory and loads both
    // tables. 0 on success; 1 on failure, after the failure box, with the
    // store that was open before (if any) left in force.
    int open_store(const std::string& working_directory);
    bool is_open() const;

    // --- hardware table
    std::uint32_t record_count() const { return tables_.record_count; }
    std::uint32_t hardware_capacity() const { return tables_.hardware_capacity; }
    // Record i (below record_count()); the view stays valid while the table grows.
    RecordView record(std::uint32_t i) const { return RecordView(tables_.hardware.item(i)); }
    // Whether record i is in the table and holds a computer (is not free).
    bool holds_computer(std::uint32_t i) const { return i < tables_.record_count && !record(i).is_free(); }
    // First record with this MAC, else the first free record, else none.
    std::optional<std::uint32_t> find_record(const std::uint8_t* mac) const;
    // Replaces record i of the table with `bytes` and writes it at i x 808
    // of Hardware.Audit. False when i is beyond the table or the write failed.
    bool replace_record(std::uint32_t i, const std::uint8_t* bytes);
    // Appends a record after the last, growing the table when it is full,
    // and writes it at its own position (which replaces any partial record
    // left at the end of the file). Its index; none when the table could not
    // grow.
    std::optional<std::uint32_t> add_record(const std::uint8_t* bytes);

    // --- extension records (Extension.Audit, beside the two database files)
    // The facts of record i from its extension record, when the record holds
    // a computer and the extension record is that computer's.
    bool extension(std::uint32_t i, ExtensionRecord& out) const;
    // The flags byte of that extension record (0 when there is none).
    std::uint8_t extension_flags(std::uint32_t i) const;
    // Stores and writes the extension record of record i (the caller sets
    // its MAC to the record's), inside a WriteBatch when it ends. False when
    // the side file is not writable (the facts then stay as they were) or
    // the write failed (then it awaits writing, as records do).
    bool store_extension(std::uint32_t i, const ExtensionRecord& r);
    // Whether new facts can be kept: the side file is open for writing.
    bool extension_writable() const { return extension_file_.is_writable(); }
    ExtensionFile::State extension_state() const { return extension_file_.state(); }

    // --- software table (addressed by byte offset, a multiple of 102)
    std::size_t used_length() const { return tables_.used_length; }
    std::size_t software_capacity() const { return tables_.software_capacity; }
    std::uint32_t entry_count() const { return static_cast<std::uint32_t>(tables_.used_length / sw_entry::size); }
    // The entry at `offset` (below used_length()); the view stays valid while the table grows.
    EntryView entry(std::size_t offset) const { return EntryView(tables_.software.item(offset / sw_entry::size)); }
    // Lowest free entry below the used length, else the used length.
    std::size_t find_free_entry();
    // Frees every entry of the MAC (MAC and first version byte set to 0)
    // and writes each back.
    void release_entries(const std::uint8_t* mac);
    // Files one program of the computer: into the lowest free entry, else
    // after the last one, growing the table when it is full. MAC, name (63
    // characters at most) and version (31), the rest of each field zero;
    // written at once. The program is dropped when the table could not grow
    // or the computer's list is full.
    AddResult add_entry(const std::uint8_t* mac, const std::string& name, const std::string& version);
    // Offsets of the entries that carry the MAC, in table order: the
    // computer's software list.
    std::vector<std::size_t> entry_offsets_of(const std::uint8_t* mac) const;
    // The same offsets handed to visit(offset) one by one, for a MAC that
    // is not all zero, without making a list.
    template <typename Visit>
    void for_each_entry_offset(const std::uint8_t* mac, Visit visit) const {
        tables_.index.for_each_entry(mac_key(mac), [&](std::uint32_t k) {
            if (std::size_t(k) * sw_entry::size < tables_.used_length) visit(std::size_t(k) * sw_entry::size);
        });
    }

    // --- writing
    // Every changed record and entry is noted and written at once, or inside
    // a WriteBatch when the outermost batch ends: each once, with its final
    // bytes, neighbours together in one write. The intake batches each
    // datagram. What cannot be written (a full or failing disk) stays noted,
    // in memory, and is written by the next flush; a failed write leaves no
    // partial record or entry at the end of a file.
    class WriteBatch {
    public:
        explicit WriteBatch(Store& store) : store_(store) { ++store_.batch_depth_; }
        ~WriteBatch() {
            if (--store_.batch_depth_ == 0) store_.flush();
        }
        WriteBatch(const WriteBatch&) = delete;
        WriteBatch& operator=(const WriteBatch&) = delete;

    private:
        Store& store_;
    };
    // Writes what is noted; true when nothing awaits writing.
    bool flush();
    // Records, entries and extension records that await writing.
    std::size_t unwritten_count() const {
        return pending_records_.size() + pending_entries_.size() + extension_file_.unwritten_count();
    }
    std::size_t unwritten_records() const { return pending_records_.size(); }
    std::size_t unwritten_entries() const { return pending_entries_.size(); }
    std::size_t unwritten_extension_records() const { return extension_file_.unwritten_count(); }
    // Growths of either table that failed since the store was made.
    std::uint32_t failed_growths() const { return failed_growths_; }

    // --- editing
    // Stores the four user texts (24 characters each) into record i and
    // writes it. 0 on success (a free record or an index beyond the table
    // is left alone), 1 when the record could not be written.
    int update_custom_fields(std::uint32_t i, const std::string& custom_1, const std::string& custom_2,
                             const std::string& serial_number, const std::string& asset_tag);
    // Frees record i and its software entries in both tables and files.
    // A free record or an index beyond the table changes nothing.
    void delete_record(std::uint32_t i);

    Notifier& notifier() { return notifier_; }
    // The listeners to the tables, told in the order they were added.
    void add_listener(StoreListener* listener);
    void remove_listener(StoreListener* listener);
    bool has_listener(const StoreListener* listener) const;

private:
    void tell_mac_changed(const std::uint8_t* mac) {
        if (mac_is_zero(mac)) return;
        for (StoreListener* l : listeners_) l->mac_changed(mac);
    }
    void tell_record_changed(const std::uint8_t* mac) {
        if (mac_is_zero(mac)) return;
        for (StoreListener* l : listeners_) l->record_changed(mac);
    }
    std::uint8_t* record_bytes(std::uint32_t i) { return tables_.hardware.item(i); }
    std::uint8_t* entry_bytes(std::size_t offset) { return tables_.software.item(offset / sw_entry::size); }
    // Whether a table of `bytes` bytes is within the limit of the options.
    bool within_limit(std::uint64_t bytes) const;
    // The steps of open_store.
    bool open_files(const std::string& working_directory, StoreTables& next, std::uint64_t (&lengths)[2]);
    bool reserve_tables(StoreTables& next, std::uint64_t records, std::uint64_t entries) const;
    void load_tables(StoreTables& next, std::uint64_t records, std::uint64_t entries);
    void take_over(StoreTables& next, ExtensionFile& next_extension);
    // Makes room for item k in a table: its chunk is allotted when first
    // needed. False (a failed growth) when memory runs out.
    bool allot_item(ChunkedTable& table, std::size_t k);
    void set_record(std::uint32_t i, const std::uint8_t* bytes);
    bool write_record(std::uint32_t i);
    bool grow_hardware_table();
    void set_entry(std::size_t offset, const std::uint8_t* mac, const std::string& name, const std::string& version);
    bool write_entry(std::size_t offset);
    bool grow_software_table();
    static bool write_runs(DbFile& file, PendingItems& pending, const ChunkedTable& table);

    Notifier& notifier_;
    StoreOptions options_;

    StoreTables tables_;
    ExtensionFile extension_file_;
    int batch_depth_ = 0;
    PendingItems pending_records_;  // records to write
    PendingItems pending_entries_;  // entry numbers to write
    std::uint32_t failed_growths_ = 0;

    std::vector<StoreListener*> listeners_;
};

}  // namespace tally
