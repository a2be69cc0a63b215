// The audit store: the hardware table and the software table, in-memory
// images of Hardware.Audit and Software.Audit, kept in step with the files
// by positioned whole-record writes.
//
// Lookups give the results of plain scans from the start of each table (the
// first record with a MAC, else the first free record; the lowest free
// entry), but answer from indexes so that a store of 10,000 computers with
// 100 programs each takes a report in well under a millisecond. The indexes
// can be switched off to run the plain scans, which tests and benchmarks use
// as the reference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/store/db_file.h"
#include "server/store/notify.h"
#include "server/store/records.h"

namespace tally {

constexpr char hardware_file_name[] = "Hardware.Audit";
constexpr char software_file_name[] = "Software.Audit";
// Room reserved beyond the loaded tables, and the step of the plain growth.
constexpr std::uint32_t hardware_growth_records = 10;
constexpr std::size_t software_growth_bytes = 10200;

struct StoreOptions {
    // Indexed lookups and geometric growth; false runs the plain scans and
    // grows in fixed steps of 10 records / 10,200 bytes.
    bool indexed = true;
    // Largest table a growth or load may reserve, in bytes (0: no limit).
    // Lets tests see how a failed reservation is handled.
    std::size_t table_limit = 0;
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
    std::uint32_t record_count() const { return record_count_; }
    std::uint32_t hardware_capacity() const { return hardware_capacity_; }
    RecordView record(std::uint32_t i) const { return RecordView(hardware_.get() + std::size_t(i) * hw_record::size); }
    // First record with this MAC, else the first free record, else none.
    std::optional<std::uint32_t> find_record(const std::uint8_t* mac) const;
    // Replaces the bytes of record i (i below the record count, or equal to
    // it when there is room to append) without writing the file.
    void set_record(std::uint32_t i, const std::uint8_t* bytes);
    // Writes record i at i x 808 of Hardware.Audit.
    bool write_record(std::uint32_t i);
    // Writes record i, the one past the last, at its own position (i x 808),
    // which replaces any partial record left at the end of the file.
    bool append_record(std::uint32_t i) { return write_record(i); }
    // Room for one more record at index record_count()?
    bool can_append_record() const { return record_count_ < hardware_capacity_; }
    // Counts the record at index record_count() as part of the table.
    void count_appended_record();
    int grow_hardware_table();

    // --- software table (addressed by byte offset, a multiple of 102)
    std::size_t used_length() const { return used_length_; }
    std::size_t software_capacity() const { return software_capacity_; }
    std::uint32_t entry_count() const { return static_cast<std::uint32_t>(used_length_ / sw_entry::size); }
    EntryView entry(std::size_t offset) const { return EntryView(software_.get() + offset); }
    // Lowest free entry below the used length, else the used length.
    std::size_t find_free_entry();
    // Frees every entry of the MAC (MAC and first version byte set to 0)
    // and writes each back.
    void release_entries(const std::uint8_t* mac);
    // Fills the entry at offset (a free entry, or the used length when there
    // is room) with MAC, name (63 characters at most) and version (31), the
    // rest of each field zero.
    void set_entry(std::size_t offset, const std::uint8_t* mac, const std::string& name, const std::string& version);
    bool write_entry(std::size_t offset);
    // Offsets of the entries that carry the MAC, in table order: the
    // computer's software list.
    std::vector<std::size_t> entry_offsets_of(const std::uint8_t* mac) const;
    bool can_append_entry() const { return used_length_ + sw_entry::size <= software_capacity_; }
    void count_appended_entry();
    int grow_software_table();

    // Writes reach the operating system before write_record / write_entry
    // return, except inside a WriteBatch, which notes the records and entries
    // to write and writes each once, with its final bytes, when it ends:
    // neighbours together in one write. The intake batches each datagram.
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
    bool flush();

    // --- editing
    // Stores the four user texts (24 characters each) into record i and
    // writes it. 0 on success (a free record or an index beyond the table
    // is left alone), 1 when the record could not be written.
    int update_custom_fields(std::uint32_t i, const std::string& custom_1, const std::string& custom_2,
                             const std::string& serial_number, const std::string& asset_tag);
    // Frees record i and its software entries in both tables and files.
    // A free record or an index beyond the table changes nothing.
    void delete_record(std::uint32_t i);

    // The record the console shows and acts on; 0 after each load.
    std::uint32_t selected_record() const { return selected_record_; }
    void set_selected_record(std::uint32_t i) { selected_record_ = i; }

    Notifier& notifier() { return notifier_; }

private:
    struct Loaded;
    std::uint8_t* record_bytes(std::uint32_t i) { return hardware_.get() + std::size_t(i) * hw_record::size; }
    std::uint8_t* entry_bytes(std::size_t offset) { return software_.get() + offset; }
    // A table of `bytes` bytes whose bytes from `keep` on are zero; nullptr
    // when it cannot be had.
    std::unique_ptr<std::uint8_t[]> reserve(std::size_t bytes, std::size_t keep) const;
    void build_indexes();
    void index_record_mac(std::uint32_t i, std::uint64_t old_key, std::uint64_t new_key);
    void mark_entry(std::uint32_t k, std::uint64_t old_key, std::uint64_t new_key);
    void set_entry_free_bit(std::uint32_t k, bool free);
    static bool write_runs(DbFile& file, std::vector<std::uint32_t>& items, const std::uint8_t* table,
                           std::size_t item_size);

    Notifier& notifier_;
    StoreOptions options_;

    DbFile hardware_file_;
    DbFile software_file_;
    std::unique_ptr<std::uint8_t[]> hardware_;
    std::uint32_t record_count_ = 0;
    std::uint32_t hardware_capacity_ = 0;
    std::unique_ptr<std::uint8_t[]> software_;
    std::size_t used_length_ = 0;
    std::size_t software_capacity_ = 0;
    std::uint32_t selected_record_ = 0;
    int batch_depth_ = 0;
    std::vector<std::uint32_t> dirty_records_;  // inside a batch: records to write
    std::vector<std::uint32_t> dirty_entries_;  // inside a batch: entry numbers to write

    // Indexes (indexed mode only).
    std::unordered_map<std::uint64_t, std::uint32_t> record_by_mac_;  // lowest record of each non-zero MAC
    std::set<std::uint32_t> free_records_;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> entries_by_mac_;  // non-zero MACs
    std::vector<std::uint64_t> free_entry_bits_;  // bit k: entry k (below the used length) is free
    std::size_t free_entry_word_ = 0;             // no free entry lies below word free_entry_word_
};

}  // namespace tally
