// Loading, lookups, growth and write-through of the hardware and software tables.
#include "server/store/store.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tally {

namespace {

constexpr char open_error_text[] =
    "An error has occured while openning the database files.  Please ensure that you have the correct path "
    "specified in your settings\r\nFile = ";

Notice file_error(const std::string& path) { return {open_error_text + path, "File Error", BoxOwner::none, true}; }

}  // namespace

// Reads the first `items` items of a file into a table that holds them, a
// chunk at a time; what cannot be read is zero. The bytes read.
static std::size_t load_table(DbFile& file, ChunkedTable& table, std::size_t items) {
    std::size_t read = 0;
    bool reading = true;
    for (std::size_t first = 0; first < items; first += table.chunk_items()) {
        const std::size_t bytes = std::min(table.chunk_items(), items - first) * table.item_size();
        std::uint8_t* block = table.item(first);
        const std::size_t got = reading ? file.read_at(std::uint64_t(first) * table.item_size(), block, bytes) : 0;
        std::memset(block + got, 0, bytes - got);
        read += got;
        reading = got == bytes;
    }
    return read;
}

Store::Store(Notifier& notifier, StoreOptions options) : notifier_(notifier), options_(options) {}
Store::~Store() = default;

bool Store::is_open() const { return tables_.hardware_file.is_open() && tables_.software_file.is_open(); }

bool Store::within_limit(std::uint64_t bytes) const {
    return bytes <= SIZE_MAX && (options_.table_limit == 0 || bytes <= options_.table_limit);
}

bool Store::allot_item(ChunkedTable& table, std::size_t k) {
    if (k < table.allotted()) return true;
    if (table.allot(k + 1)) return true;
    ++failed_growths_;
    return false;
}

// Opens (or creates) both files; false, after the box, when one cannot be
// opened or measured. `lengths` gets their lengths in bytes.
bool Store::open_files(const std::string& working_directory, StoreTables& next, std::uint64_t (&lengths)[2]) {
    const std::string hardware_path = join_path(working_directory, hardware_file_name);
    const std::string software_path = join_path(working_directory, software_file_name);
    if (next.hardware_file.open_or_create(hardware_path) == DbFile::OpenResult::failed) {
        notifier_.notify(file_error(hardware_path));
        return false;
    }
    next.software_file.open_or_create(software_path);
    if (!next.software_file.is_open() || !next.hardware_file.is_open()) {
        notifier_.notify(file_error(next.software_file.is_open() ? hardware_path : software_path));
        return false;
    }
    const std::int64_t hardware_length = next.hardware_file.length();
    const std::int64_t software_length = next.software_file.length();
    if (hardware_length < 0 || software_length < 0) {
        notifier_.notify(file_error(hardware_length < 0 ? hardware_path : software_path));
        return false;
    }
    lengths[0] = static_cast<std::uint64_t>(hardware_length);
    lengths[1] = static_cast<std::uint64_t>(software_length);
    return true;
}

// Room for 10 records and 100 entries beyond the `records` and `entries` of
// the files, all of it taken before anything is read: when memory runs out,
// that is known at once. The room beyond the loaded items is zero.
bool Store::reserve_tables(StoreTables& next, std::uint64_t records, std::uint64_t entries) const {
    const std::uint64_t hardware_bytes = (records + hardware_growth_records) * hw_record::size;
    const std::uint64_t software_bytes = entries * sw_entry::size + software_growth_bytes;
    const std::uint64_t spare_entries = software_growth_bytes / sw_entry::size;
    return within_limit(hardware_bytes) && within_limit(software_bytes) &&
           records < UINT32_MAX - hardware_growth_records && entries < UINT32_MAX - spare_entries &&
           next.hardware.allot(std::size_t(records + hardware_growth_records), std::size_t(records)) &&
           next.software.allot(std::size_t(entries + spare_entries), std::size_t(entries));
}

// Loads the whole records and entries: a partial record at the end of a file
// is left out, and the next record written goes to its own position (index x
// size), over that partial tail. What could not be read is zero, that is
// free, and said in a box.
void Store::load_tables(StoreTables& next, std::uint64_t records, std::uint64_t entries) {
    const std::size_t hardware_whole = static_cast<std::size_t>(records * hw_record::size);
    const std::size_t software_whole = static_cast<std::size_t>(entries * sw_entry::size);
    const std::size_t hardware_read = load_table(next.hardware_file, next.hardware, std::size_t(records));
    const std::size_t software_read = load_table(next.software_file, next.software, std::size_t(entries));
    if (hardware_read < hardware_whole || software_read < software_whole)
        notifier_.notify({"Error reading database files", "File Error", BoxOwner::none, true});
    next.record_count = static_cast<std::uint32_t>(records);
    next.hardware_capacity = next.record_count + hardware_growth_records;
    next.used_length = software_read / sw_entry::size * sw_entry::size;
    if (software_read > next.used_length)  // a partial entry, within one chunk
        std::memset(next.software.item(next.used_length / sw_entry::size), 0, software_read - next.used_length);
    next.software_capacity = next.used_length + software_growth_bytes;
}

// The new store replaces the old one; the old files close here, after a
// last try at writing what awaits writing in them.
void Store::take_over(StoreTables& next, ExtensionFile& next_extension) {
    flush();
    pending_records_.clear();
    pending_entries_.clear();
    extension_file_ = std::move(next_extension);
    tables_ = std::move(next);
    for (StoreListener* l : listeners_) l->store_reopened();
}

int Store::open_store(const std::string& working_directory) {
    StoreTables next;
    std::uint64_t lengths[2] = {};
    if (!open_files(working_directory, next, lengths)) return 1;
    const std::uint64_t records = lengths[0] / hw_record::size;
    const std::uint64_t entries = lengths[1] / sw_entry::size;
    const Notice no_memory{"Insufficient memory to open database files", "Memory Error", BoxOwner::none, true};
    if (!reserve_tables(next, records, entries)) {
        notifier_.notify(no_memory);
        return 1;
    }
    load_tables(next, records, entries);
    try {
        next.index.build(next.hardware, next.record_count, next.software,
                         static_cast<std::uint32_t>(next.used_length / sw_entry::size));
    } catch (const std::bad_alloc&) {
        notifier_.notify(no_memory);
        return 1;
    }
    // The side file is no condition of the store: without it the facts of
    // the extension packets are not kept.
    ExtensionFile next_extension;
    next_extension.open(working_directory);  // result not checked: see above
    take_over(next, next_extension);
    return 0;
}

void Store::add_listener(StoreListener* listener) {
    if (!has_listener(listener)) listeners_.push_back(listener);
}

void Store::remove_listener(StoreListener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

bool Store::has_listener(const StoreListener* listener) const {
    return std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end();
}

// ---------------------------------------------------------------- hardware

bool Store::extension(std::uint32_t i, ExtensionRecord& out) const {
    return holds_computer(i) && extension_file_.find(i, record(i).mac(), out);
}

std::uint8_t Store::extension_flags(std::uint32_t i) const {
    return holds_computer(i) ? extension_file_.flags_of(i, record(i).mac()) : 0;
}

bool Store::store_extension(std::uint32_t i, const ExtensionRecord& r) {
    if (!holds_computer(i)) return false;
    const bool stored = extension_file_.put(i, r, batch_depth_ > 0);
    tell_record_changed(record(i).mac());
    return stored;
}

std::optional<std::uint32_t> Store::find_record(const std::uint8_t* mac) const {
    return tables_.index.find_record(mac_key(mac));
}

void Store::set_record(std::uint32_t i, const std::uint8_t* bytes) {
    std::uint8_t* dst = record_bytes(i);
    const std::uint64_t old_key = mac_key(dst + hw_record::mac.offset);
    Mac old_mac{};
    std::copy_n(dst + hw_record::mac.offset, 6, old_mac.begin());
    std::memmove(dst, bytes, hw_record::size);
    const std::uint64_t new_key = mac_key(dst + hw_record::mac.offset);
    tables_.index.record_changed(i, old_key, new_key, tables_.hardware, tables_.record_count);
    if (old_key != new_key) {
        tell_mac_changed(old_mac.data());
        tell_mac_changed(dst + hw_record::mac.offset);
    }
    tell_record_changed(dst + hw_record::mac.offset);
}

bool Store::write_record(std::uint32_t i) {
    pending_records_.insert(i);
    if (batch_depth_ > 0) return true;
    flush();
    return !pending_records_.contains(i);
}

bool Store::replace_record(std::uint32_t i, const std::uint8_t* bytes) {
    if (i >= tables_.record_count) return false;
    set_record(i, bytes);
    return write_record(i);
}

std::optional<std::uint32_t> Store::add_record(const std::uint8_t* bytes) {
    // When the table cannot grow there is no room, and nothing may be
    // written beyond the table.
    if (tables_.record_count >= tables_.hardware_capacity && !grow_hardware_table()) return std::nullopt;
    if (!allot_item(tables_.hardware, tables_.record_count)) return std::nullopt;
    const std::uint32_t i = tables_.record_count++;
    std::memmove(record_bytes(i), bytes, hw_record::size);
    tables_.index.record_added(i, mac_key(record_bytes(i) + hw_record::mac.offset));
    tell_mac_changed(record_bytes(i) + hw_record::mac.offset);
    write_record(i);
    return i;
}

bool Store::grow_hardware_table() {
    const std::uint64_t next = std::max<std::uint64_t>(std::uint64_t(tables_.record_count) + hardware_growth_records,
                                                       std::uint64_t(tables_.record_count) * 3 / 2);
    // The chunks for the new room are allotted as records reach them.
    if (next >= UINT32_MAX || !within_limit(next * hw_record::size)) {
        ++failed_growths_;
        return false;
    }
    tables_.hardware_capacity = static_cast<std::uint32_t>(next);
    return true;
}

// ---------------------------------------------------------------- software

std::size_t Store::find_free_entry() {
    const std::optional<std::uint32_t> k = tables_.index.first_free_entry();
    return k && std::size_t(*k) * sw_entry::size < tables_.used_length ? std::size_t(*k) * sw_entry::size : tables_.used_length;
}

void Store::release_entries(const std::uint8_t* mac) {
    const std::vector<std::uint32_t> released = tables_.index.release(mac_key(mac));
    if (!released.empty()) tell_mac_changed(mac);
    for (std::uint32_t k : released) {
        const std::size_t o = std::size_t(k) * sw_entry::size;
        std::uint8_t* e = entry_bytes(o);
        std::memset(e + sw_entry::mac.offset, 0, 6);
        e[sw_entry::display_version.offset] = 0;
        write_entry(o);
    }
}

void Store::set_entry(std::size_t offset, const std::uint8_t* mac, const std::string& name,
                      const std::string& version) {
    std::uint8_t* e = entry_bytes(offset);
    std::memcpy(e + sw_entry::mac.offset, mac, 6);
    put_text(e, sw_entry::display_name, name);
    put_text(e, sw_entry::display_version, version);
}

bool Store::write_entry(std::size_t offset) {
    const std::uint32_t k = static_cast<std::uint32_t>(offset / sw_entry::size);
    pending_entries_.insert(k);
    if (batch_depth_ > 0) return true;
    flush();
    return !pending_entries_.contains(k);
}

AddResult Store::add_entry(const std::uint8_t* mac, const std::string& name, const std::string& version) {
    const std::uint64_t key = mac_key(mac);
    if (key != 0 && tables_.index.count_of(key) >= options_.programs_per_computer) return AddResult::list_full;
    const std::size_t o = find_free_entry();
    const std::uint32_t k = static_cast<std::uint32_t>(o / sw_entry::size);
    if (o < tables_.used_length) {
        const std::uint64_t old_key = mac_key(entry_bytes(o));
        set_entry(o, mac, name, version);
        tables_.index.entry_changed(k, old_key, key);
        tell_mac_changed(mac);
        write_entry(o);
        return AddResult::added;
    }
    // When the table cannot grow it is full: the program is dropped rather
    // than written beyond the reserved space.
    if (tables_.used_length + sw_entry::size > tables_.software_capacity && !grow_software_table()) return AddResult::no_memory;
    if (!allot_item(tables_.software, k)) return AddResult::no_memory;
    if (!tables_.index.room_for_entry(k)) {
        ++failed_growths_;
        return AddResult::no_memory;
    }
    set_entry(o, mac, name, version);
    tables_.used_length += sw_entry::size;
    tables_.index.entry_added(k, key);
    tell_mac_changed(mac);
    write_entry(o);
    return AddResult::added;
}

std::vector<std::size_t> Store::entry_offsets_of(const std::uint8_t* mac) const {
    std::vector<std::size_t> offsets;
    for (std::uint32_t k : tables_.index.entries_of(mac_key(mac)))
        if (std::size_t(k) * sw_entry::size < tables_.used_length) offsets.push_back(std::size_t(k) * sw_entry::size);
    return offsets;
}

bool Store::grow_software_table() {
    const std::size_t next =
        std::max(tables_.software_capacity + software_growth_bytes,
                 tables_.software_capacity + tables_.software_capacity / 2 / sw_entry::size * sw_entry::size);
    // The chunks for the new room are allotted as entries reach them.
    if (next <= tables_.software_capacity || next / sw_entry::size >= UINT32_MAX || !within_limit(next)) {
        ++failed_growths_;
        return false;
    }
    tables_.software_capacity = next;
    return true;
}

bool Store::write_runs(DbFile& file, PendingItems& pending, const ChunkedTable& table) {
    const std::vector<std::uint32_t>& items = pending.items();
    const std::size_t item_size = table.item_size();
    std::size_t a = 0;
    bool written = true;
    while (a < items.size()) {
        // A run of neighbours, within one chunk of the table.
        std::size_t b = a + 1;
        while (b < items.size() && items[b] == items[b - 1] + 1 && !table.starts_chunk(items[b])) ++b;
        const std::uint64_t offset = std::uint64_t(items[a]) * item_size;
        if (!file.write_at(offset, table.item(items[a]), (b - a) * item_size)) {
            // A write cut short at the end of the file leaves part of a
            // record there: the file goes back to whole records. This run and
            // the ones after it stay noted; the disk is full or failing.
            const std::int64_t length = file.length();
            if (length > 0 && length % static_cast<std::int64_t>(item_size) != 0)
                file.truncate(std::uint64_t(length) / item_size * item_size);
            written = false;
            break;
        }
        a = b;
    }
    pending.drop_front(a);
    return written;
}

bool Store::flush() {
    if (is_open()) {
        write_runs(tables_.hardware_file, pending_records_, tables_.hardware);
        write_runs(tables_.software_file, pending_entries_, tables_.software);
    }
    extension_file_.flush();
    return unwritten_count() == 0;
}

// ---------------------------------------------------------------- editing

int Store::update_custom_fields(std::uint32_t i, const std::string& custom_1, const std::string& custom_2,
                                const std::string& serial_number, const std::string& asset_tag) {
    if (!holds_computer(i)) return 0;
    std::uint8_t* r = record_bytes(i);
    put_text(r, hw_record::custom_field_1, custom_1, hw_record::user_field_chars);
    put_text(r, hw_record::custom_field_2, custom_2, hw_record::user_field_chars);
    put_text(r, hw_record::serial_number, serial_number, hw_record::user_field_chars);
    put_text(r, hw_record::asset_tag, asset_tag, hw_record::user_field_chars);
    tell_record_changed(r + hw_record::mac.offset);
    return write_record(i) ? 0 : 1;
}

void Store::delete_record(std::uint32_t i) {
    if (!holds_computer(i)) return;
    WriteBatch batch(*this);
    release_entries(record(i).mac());
    const std::uint8_t zero[hw_record::size] = {};
    set_record(i, zero);
    write_record(i);
    extension_file_.free_record(i, true);
}

}  // namespace tally
