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

// A freshly opened and loaded store, swapped in only when complete.
struct Store::Loaded {
    DbFile hardware_file;
    DbFile software_file;
    std::unique_ptr<std::uint8_t[]> hardware;
    std::uint32_t record_count = 0;
    std::uint32_t hardware_capacity = 0;
    std::unique_ptr<std::uint8_t[]> software;
    std::size_t used_length = 0;
    std::size_t software_capacity = 0;
};

Store::Store(Notifier& notifier, StoreOptions options) : notifier_(notifier), options_(options) {}
Store::~Store() = default;

bool Store::is_open() const { return hardware_file_.is_open() && software_file_.is_open(); }

std::unique_ptr<std::uint8_t[]> Store::reserve(std::size_t bytes, std::size_t keep) const {
    if (options_.table_limit != 0 && bytes > options_.table_limit) return nullptr;
    std::unique_ptr<std::uint8_t[]> table(new (std::nothrow) std::uint8_t[bytes]);
    // The first `keep` bytes are about to be filled by the caller.
    if (table) std::memset(table.get() + keep, 0, bytes - keep);
    return table;
}

int Store::open_store(const std::string& working_directory) {
    const std::string hardware_path = join_path(working_directory, hardware_file_name);
    const std::string software_path = join_path(working_directory, software_file_name);
    Loaded next;

    if (next.hardware_file.open_or_create(hardware_path) == DbFile::OpenResult::failed) {
        notifier_.notify(file_error(hardware_path));
        return 1;
    }
    next.software_file.open_or_create(software_path);
    if (!next.software_file.is_open() || !next.hardware_file.is_open()) {
        notifier_.notify(file_error(next.software_file.is_open() ? hardware_path : software_path));
        return 1;
    }

    const std::int64_t hardware_length = next.hardware_file.length();
    const std::int64_t software_length = next.software_file.length();
    if (hardware_length < 0 || software_length < 0) {
        notifier_.notify(file_error(hardware_length < 0 ? hardware_path : software_path));
        return 1;
    }

    // Room for 10 records and 100 entries beyond those in the files; the
    // reservations are zero-filled.
    const std::uint64_t records = static_cast<std::uint64_t>(hardware_length) / hw_record::size;
    const std::uint64_t entries = static_cast<std::uint64_t>(software_length) / sw_entry::size;
    const std::uint64_t hardware_bytes = (records + hardware_growth_records) * hw_record::size;
    const std::uint64_t software_bytes = entries * sw_entry::size + software_growth_bytes;
    if (hardware_bytes <= SIZE_MAX && software_bytes <= SIZE_MAX && records < UINT32_MAX - hardware_growth_records) {
        next.hardware = reserve(static_cast<std::size_t>(hardware_bytes), static_cast<std::size_t>(records * hw_record::size));
        next.software = reserve(static_cast<std::size_t>(software_bytes), static_cast<std::size_t>(entries * sw_entry::size));
    }
    if (!next.hardware || !next.software) {
        notifier_.notify({"Insufficient memory to open database files", "Memory Error", BoxOwner::none, true});
        return 1;
    }

    // Only whole records and entries are loaded: a partial record at the end
    // of a file is left out, and the next record written goes to its own
    // position (index x size), over that partial tail.
    const std::size_t hardware_whole = static_cast<std::size_t>(records * hw_record::size);
    const std::size_t software_whole = static_cast<std::size_t>(entries * sw_entry::size);
    const std::size_t hardware_read = next.hardware_file.read_from_start(next.hardware.get(), hardware_whole);
    const std::size_t software_read = next.software_file.read_from_start(next.software.get(), software_whole);
    // Records and entries that could not be read are zero, that is free.
    std::memset(next.hardware.get() + hardware_read, 0, hardware_whole - hardware_read);
    std::memset(next.software.get() + software_read, 0, software_whole - software_read);
    if (hardware_read < hardware_whole || software_read < software_whole)
        notifier_.notify({"Error reading database files", "File Error", BoxOwner::none, true});
    next.record_count = static_cast<std::uint32_t>(records);
    next.hardware_capacity = next.record_count + hardware_growth_records;
    next.used_length = software_read / sw_entry::size * sw_entry::size;
    std::memset(next.software.get() + next.used_length, 0, software_read - next.used_length);
    next.software_capacity = next.used_length + software_growth_bytes;

    // The new store replaces the old one; the old files close here.
    hardware_file_ = std::move(next.hardware_file);
    software_file_ = std::move(next.software_file);
    hardware_ = std::move(next.hardware);
    record_count_ = next.record_count;
    hardware_capacity_ = next.hardware_capacity;
    software_ = std::move(next.software);
    used_length_ = next.used_length;
    software_capacity_ = next.software_capacity;
    selected_record_ = 0;
    build_indexes();
    return 0;
}

void Store::build_indexes() {
    record_by_mac_.clear();
    free_records_.clear();
    entries_by_mac_.clear();
    free_entry_bits_.clear();
    free_entry_word_ = 0;
    if (!options_.indexed) return;
    for (std::uint32_t i = 0; i < record_count_; ++i) {
        std::uint64_t key = mac_key(record(i).mac());
        if (key == 0)
            free_records_.insert(free_records_.end(), i);
        else
            record_by_mac_.emplace(key, i);
    }
    const std::uint32_t n = entry_count();
    free_entry_bits_.assign(n / 64 + 1, 0);
    // A computer's entries mostly lie side by side: look its list up once per run.
    std::uint64_t last_key = 0;
    std::vector<std::uint32_t>* list = nullptr;
    for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint64_t key = mac_key(entry_bytes(std::size_t(k) * sw_entry::size));
        if (key == 0) {
            free_entry_bits_[k / 64] |= std::uint64_t(1) << (k % 64);
            continue;
        }
        if (key != last_key || !list) {
            list = &entries_by_mac_[key];
            last_key = key;
        }
        list->push_back(k);
    }
}

// ---------------------------------------------------------------- hardware

std::optional<std::uint32_t> Store::find_record(const std::uint8_t* mac) const {
    const std::uint64_t key = mac_key(mac);
    if (options_.indexed) {
        if (key != 0) {
            auto it = record_by_mac_.find(key);
            if (it != record_by_mac_.end()) return it->second;
        }
        if (free_records_.empty()) return std::nullopt;
        return *free_records_.begin();
    }
    for (std::uint32_t i = 0; i < record_count_; ++i)
        if (std::memcmp(record(i).mac(), mac, 6) == 0) return i;
    for (std::uint32_t i = 0; i < record_count_; ++i)
        if (record(i).is_free()) return i;
    return std::nullopt;
}

void Store::index_record_mac(std::uint32_t i, std::uint64_t old_key, std::uint64_t new_key) {
    if (!options_.indexed || old_key == new_key) return;
    if (old_key == 0) {
        free_records_.erase(i);
    } else {
        auto it = record_by_mac_.find(old_key);
        if (it != record_by_mac_.end() && it->second == i) {
            record_by_mac_.erase(it);
            // Another record may carry the same MAC (a file written elsewhere).
            for (std::uint32_t j = i + 1; j < record_count_; ++j)
                if (mac_key(record(j).mac()) == old_key) {
                    record_by_mac_.emplace(old_key, j);
                    break;
                }
        }
    }
    if (new_key == 0) {
        free_records_.insert(i);
    } else {
        auto it = record_by_mac_.find(new_key);
        if (it == record_by_mac_.end())
            record_by_mac_.emplace(new_key, i);
        else if (it->second > i)
            it->second = i;
    }
}

void Store::set_record(std::uint32_t i, const std::uint8_t* bytes) {
    if (i > record_count_ || i >= hardware_capacity_) return;
    std::uint8_t* dst = record_bytes(i);
    const std::uint64_t old_key = mac_key(dst + hw_record::mac.offset);
    std::memmove(dst, bytes, hw_record::size);
    // The slot past the last record joins the indexes when it is counted.
    if (i < record_count_) index_record_mac(i, old_key, mac_key(dst + hw_record::mac.offset));
}

bool Store::write_record(std::uint32_t i) {
    if (i >= hardware_capacity_) return false;
    if (batch_depth_ > 0) {
        dirty_records_.push_back(i);
        return true;
    }
    return hardware_file_.write_at(std::uint64_t(i) * hw_record::size, record_bytes(i), hw_record::size);
}

void Store::count_appended_record() {
    if (record_count_ >= hardware_capacity_) return;
    const std::uint32_t i = record_count_++;
    if (!options_.indexed) return;
    const std::uint64_t key = mac_key(record(i).mac());
    if (key == 0)
        free_records_.insert(i);
    else
        record_by_mac_.emplace(key, i);
}

int Store::grow_hardware_table() {
    std::uint64_t next = std::uint64_t(record_count_) + hardware_growth_records;
    if (options_.indexed) next = std::max<std::uint64_t>(next, std::uint64_t(record_count_) * 3 / 2);
    std::unique_ptr<std::uint8_t[]> table;
    if (next * hw_record::size <= SIZE_MAX && next < UINT32_MAX)
        table = reserve(std::size_t(next * hw_record::size), std::size_t(record_count_) * hw_record::size);
    if (!table) {
        notifier_.notify({"Unable to allocated enough memory", "Memory Error", BoxOwner::main_window, true});
        return 1;
    }
    std::memcpy(table.get(), hardware_.get(), std::size_t(record_count_) * hw_record::size);
    hardware_ = std::move(table);
    hardware_capacity_ = static_cast<std::uint32_t>(next);
    return 0;
}

// ---------------------------------------------------------------- software

void Store::set_entry_free_bit(std::uint32_t k, bool free) {
    const std::size_t word = k / 64;
    if (word >= free_entry_bits_.size()) free_entry_bits_.resize(word + 1, 0);
    const std::uint64_t bit = std::uint64_t(1) << (k % 64);
    if (free) {
        free_entry_bits_[word] |= bit;
        free_entry_word_ = std::min(free_entry_word_, word);
    } else {
        free_entry_bits_[word] &= ~bit;
    }
}

void Store::mark_entry(std::uint32_t k, std::uint64_t old_key, std::uint64_t new_key) {
    if (!options_.indexed || old_key == new_key) return;
    if (old_key != 0) {
        auto it = entries_by_mac_.find(old_key);
        if (it != entries_by_mac_.end()) {
            auto& list = it->second;
            auto pos = std::find(list.begin(), list.end(), k);
            if (pos != list.end()) {
                *pos = list.back();
                list.pop_back();
            }
        }
    }
    if (new_key != 0) entries_by_mac_[new_key].push_back(k);
    set_entry_free_bit(k, new_key == 0);
}

std::size_t Store::find_free_entry() {
    if (options_.indexed) {
        for (std::size_t w = free_entry_word_; w < free_entry_bits_.size(); ++w) {
            if (free_entry_bits_[w] == 0) continue;
            free_entry_word_ = w;
            const std::size_t k = w * 64 + static_cast<std::size_t>(__builtin_ctzll(free_entry_bits_[w]));
            return k * sw_entry::size;
        }
        free_entry_word_ = free_entry_bits_.size();
        return used_length_;
    }
    for (std::size_t o = 0; o < used_length_; o += sw_entry::size)
        if (entry(o).is_free()) return o;
    return used_length_;
}

void Store::release_entries(const std::uint8_t* mac_in) {
    std::uint8_t mac[6];
    std::memcpy(mac, mac_in, 6);
    const std::uint64_t key = mac_key(mac);
    auto release = [this](std::size_t o) {
        std::uint8_t* e = entry_bytes(o);
        std::memset(e + sw_entry::mac.offset, 0, 6);
        e[sw_entry::display_version.offset] = 0;
        write_entry(o);
    };
    if (!options_.indexed) {
        for (std::size_t o = 0; o < used_length_; o += sw_entry::size)
            if (std::memcmp(entry(o).mac(), mac, 6) == 0) release(o);
        return;
    }
    if (key == 0) {
        // A zero MAC is the mark of a free entry: every free entry matches.
        for (std::size_t w = 0; w < free_entry_bits_.size(); ++w)
            for (std::uint64_t bits = free_entry_bits_[w]; bits != 0; bits &= bits - 1)
                release((w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))) * sw_entry::size);
        return;
    }
    auto it = entries_by_mac_.find(key);
    if (it == entries_by_mac_.end()) return;
    std::vector<std::uint32_t> list = std::move(it->second);
    entries_by_mac_.erase(it);
    std::sort(list.begin(), list.end());
    for (std::uint32_t k : list) {
        release(std::size_t(k) * sw_entry::size);
        set_entry_free_bit(k, true);
    }
}

void Store::set_entry(std::size_t offset, const std::uint8_t* mac, const std::string& name,
                      const std::string& version) {
    if (offset % sw_entry::size != 0 || offset > used_length_ || offset + sw_entry::size > software_capacity_) return;
    std::uint8_t* e = entry_bytes(offset);
    const std::uint64_t old_key = mac_key(e);
    std::memcpy(e + sw_entry::mac.offset, mac, 6);
    put_text(e, sw_entry::display_name, name);
    put_text(e, sw_entry::display_version, version);
    // The entry at the used length joins the indexes when it is counted.
    if (offset < used_length_) mark_entry(static_cast<std::uint32_t>(offset / sw_entry::size), old_key, mac_key(mac));
}

bool Store::write_entry(std::size_t offset) {
    if (offset + sw_entry::size > software_capacity_ || offset % sw_entry::size != 0) return false;
    if (batch_depth_ > 0) {
        dirty_entries_.push_back(static_cast<std::uint32_t>(offset / sw_entry::size));
        return true;
    }
    return software_file_.write_at(offset, entry_bytes(offset), sw_entry::size);
}

std::vector<std::size_t> Store::entry_offsets_of(const std::uint8_t* mac) const {
    std::vector<std::size_t> offsets;
    const std::uint64_t key = mac_key(mac);
    if (options_.indexed && key != 0) {
        auto it = entries_by_mac_.find(key);
        if (it == entries_by_mac_.end()) return offsets;
        offsets.reserve(it->second.size());
        for (std::uint32_t k : it->second) offsets.push_back(std::size_t(k) * sw_entry::size);
        std::sort(offsets.begin(), offsets.end());
        return offsets;
    }
    for (std::size_t o = 0; o < used_length_; o += sw_entry::size)
        if (std::memcmp(entry(o).mac(), mac, 6) == 0) offsets.push_back(o);
    return offsets;
}

void Store::count_appended_entry() {
    if (!can_append_entry()) return;
    const std::uint32_t k = entry_count();
    used_length_ += sw_entry::size;
    if (!options_.indexed) return;
    const std::uint64_t key = mac_key(entry_bytes(std::size_t(k) * sw_entry::size));
    if (key == 0)
        set_entry_free_bit(k, true);
    else
        entries_by_mac_[key].push_back(k);
}

int Store::grow_software_table() {
    std::size_t next = software_capacity_ + software_growth_bytes;
    if (options_.indexed) next = std::max(next, software_capacity_ + software_capacity_ / 2 / sw_entry::size * sw_entry::size);
    std::unique_ptr<std::uint8_t[]> table;
    if (next > software_capacity_) table = reserve(next, software_capacity_);
    if (!table) {
        notifier_.notify({"Unable to allocated enough memory", "Memory Error", BoxOwner::main_window, true});
        return 1;
    }
    std::memcpy(table.get(), software_.get(), software_capacity_);
    software_ = std::move(table);
    software_capacity_ = next;
    return 0;
}

bool Store::write_runs(DbFile& file, std::vector<std::uint32_t>& items, const std::uint8_t* table,
                       std::size_t item_size) {
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    bool ok = true;
    for (std::size_t a = 0; a < items.size();) {
        std::size_t b = a + 1;
        while (b < items.size() && items[b] == items[b - 1] + 1) ++b;
        const std::uint64_t offset = std::uint64_t(items[a]) * item_size;
        ok = file.write_at(offset, table + offset, (b - a) * item_size) && ok;
        a = b;
    }
    items.clear();
    return ok;
}

bool Store::flush() {
    const bool hardware_ok = write_runs(hardware_file_, dirty_records_, hardware_.get(), hw_record::size);
    return write_runs(software_file_, dirty_entries_, software_.get(), sw_entry::size) && hardware_ok;
}

// ---------------------------------------------------------------- editing

int Store::update_custom_fields(std::uint32_t i, const std::string& custom_1, const std::string& custom_2,
                                const std::string& serial_number, const std::string& asset_tag) {
    if (i >= record_count_ || record(i).is_free()) return 0;
    std::uint8_t* r = record_bytes(i);
    put_text(r, hw_record::custom_field_1, custom_1, hw_record::user_field_chars);
    put_text(r, hw_record::custom_field_2, custom_2, hw_record::user_field_chars);
    put_text(r, hw_record::serial_number, serial_number, hw_record::user_field_chars);
    put_text(r, hw_record::asset_tag, asset_tag, hw_record::user_field_chars);
    return write_record(i) ? 0 : 1;
}

void Store::delete_record(std::uint32_t i) {
    if (i >= record_count_ || record(i).is_free()) return;
    WriteBatch batch(*this);
    release_entries(record(i).mac());
    const std::uint8_t zero[hw_record::size] = {};
    set_record(i, zero);
    write_record(i);
}

std::string format_mac(const std::uint8_t* m) {
    char text[18];
    std::snprintf(text, sizeof text, "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

}  // namespace tally
