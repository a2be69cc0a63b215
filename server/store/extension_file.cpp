// The side file of extension records.
#include "server/store/extension_file.h"

#include <algorithm>
#include <new>

namespace tally {

void encode_extension_record(const ExtensionRecord& r, std::uint8_t* b) {
    using namespace ext_record;
    std::fill_n(b, size, 0);
    std::copy(r.mac.begin(), r.mac.end(), b + mac.offset);
    put_u8(b, product_type, r.product_type);
    put_u8(b, flags, r.flags);
    put_u32(b, last_update, r.last_update);
    put_system_facts(b, r.facts);
}

ExtensionRecord decode_extension_record(const std::uint8_t* b) {
    using namespace ext_record;
    ExtensionRecord r;
    std::copy_n(b + mac.offset, 6, r.mac.begin());
    r.product_type = get_u8(b, product_type);
    r.flags = get_u8(b, flags);
    r.last_update = get_u32(b, last_update);
    r.facts = get_system_facts(b);
    return r;
}

int ExtensionFile::open(const std::string& working_directory) {
    close();
    const std::string path = join_path(working_directory, extension_file_name);
    const DbFile::OpenResult opened = file_.open_or_create(path);
    if (opened == DbFile::OpenResult::opened || opened == DbFile::OpenResult::created)
        state_ = State::writable;
    else if (file_.open_read_only(path))
        state_ = State::read_only;
    else
        return 1;
    const std::int64_t length = file_.length();
    if (length < 0) {
        close();
        return 1;
    }
    const std::size_t whole = static_cast<std::size_t>(length) / ext_record::size * ext_record::size;
    try {
        bytes_.assign(whole, 0);
    } catch (const std::bad_alloc&) {
        close();
        return 1;
    }
    // A file that cannot be read (a folder of that name) holds nothing.
    if (whole && file_.read_from_start(bytes_.data(), whole) != whole) {
        close();
        return 1;
    }
    return 0;
}

void ExtensionFile::close() {
    file_.close();
    state_ = State::closed;
    bytes_.clear();
    pending_.clear();
}

bool ExtensionFile::find(std::uint32_t i, const std::uint8_t* mac, ExtensionRecord& out) const {
    if (i >= record_count() || mac_key(mac) == 0) return false;
    const std::uint8_t* b = bytes_.data() + std::size_t(i) * ext_record::size;
    if (!std::equal(mac, mac + 6, b + ext_record::mac.offset)) return false;
    out = decode_extension_record(b);
    return true;
}

std::uint8_t ExtensionFile::flags_of(std::uint32_t i, const std::uint8_t* mac) const {
    if (i >= record_count() || mac_key(mac) == 0) return 0;
    const std::uint8_t* b = bytes_.data() + std::size_t(i) * ext_record::size;
    return std::equal(mac, mac + 6, b + ext_record::mac.offset) ? b[ext_record::flags.offset] : 0;
}

void ExtensionFile::note(std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t k = first; k <= last; ++k) {
        const auto at = std::lower_bound(pending_.begin(), pending_.end(), k);
        if (at == pending_.end() || *at != k) pending_.insert(at, k);
    }
}

bool ExtensionFile::put(std::uint32_t i, const ExtensionRecord& r, bool later) {
    if (!is_writable()) return false;
    const std::size_t offset = std::size_t(i) * ext_record::size;
    const std::uint32_t old_count = record_count();
    if (offset + ext_record::size > bytes_.size()) bytes_.resize(offset + ext_record::size, 0);
    encode_extension_record(r, bytes_.data() + offset);
    // The gap up to the record is written as free records.
    note(std::min(old_count, i), i);
    return later || flush() || !std::binary_search(pending_.begin(), pending_.end(), i);
}

bool ExtensionFile::free_record(std::uint32_t i, bool later) {
    if (!is_writable() || i >= record_count()) return true;
    std::fill_n(bytes_.data() + std::size_t(i) * ext_record::size, ext_record::size, 0);
    note(i, i);
    return later || flush() || !std::binary_search(pending_.begin(), pending_.end(), i);
}

bool ExtensionFile::flush() {
    if (!is_writable()) return pending_.empty();
    std::size_t a = 0;
    while (a < pending_.size()) {
        std::size_t b = a + 1;
        while (b < pending_.size() && pending_[b] == pending_[b - 1] + 1) ++b;
        const std::size_t offset = std::size_t(pending_[a]) * ext_record::size;
        if (!file_.write_at(offset, bytes_.data() + offset, (b - a) * ext_record::size)) {
            const std::int64_t length = file_.length();
            if (length > 0 && length % static_cast<std::int64_t>(ext_record::size) != 0)
                file_.truncate(std::uint64_t(length) / ext_record::size * ext_record::size);
            break;
        }
        a = b;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(a));
    return pending_.empty();
}

}  // namespace tally
