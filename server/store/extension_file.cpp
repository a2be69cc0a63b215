// The side file of extension records.
#include "server/store/extension_file.h"

#include <algorithm>

namespace tally {

void encode_extension_record(const ExtensionRecord& r, std::uint8_t* b) {
    using namespace ext_record;
    std::fill_n(b, size, 0);
    std::copy(r.mac.begin(), r.mac.end(), b + mac.offset);
    put_u8(b, product_type, r.product_type);
    put_u8(b, flags, r.flags);
    put_u32(b, last_update, r.last_update);
    put_text(b, processor_name, r.facts.processor_name);
    put_text(b, manufacturer, r.facts.manufacturer);
    put_text(b, model, r.facts.model);
    put_text(b, bios_serial, r.facts.bios_serial);
    put_text(b, windows_edition, r.facts.windows_edition);
    put_text(b, display_version, r.facts.display_version);
}

ExtensionRecord decode_extension_record(const std::uint8_t* b) {
    using namespace ext_record;
    ExtensionRecord r;
    std::copy_n(b + mac.offset, 6, r.mac.begin());
    r.product_type = get_u8(b, product_type);
    r.flags = get_u8(b, flags);
    r.last_update = get_u32(b, last_update);
    // A field without its NUL (a damaged file) is read as width - 1 characters.
    auto text = [b](Field f) { return get_text(b + f.offset, f.width - 1); };
    r.facts.processor_name = text(processor_name);
    r.facts.manufacturer = text(manufacturer);
    r.facts.model = text(model);
    r.facts.bios_serial = text(bios_serial);
    r.facts.windows_edition = text(windows_edition);
    r.facts.display_version = text(display_version);
    return r;
}

int ExtensionFile::open(const std::string& working_directory) {
    close();
    const DbFile::OpenResult opened = file_.open_or_create(join_path(working_directory, extension_file_name));
    if (opened == DbFile::OpenResult::failed || opened == DbFile::OpenResult::missing_and_not_created) return 1;
    const std::int64_t length = file_.length();
    if (length < 0) {
        close();
        return 1;
    }
    const std::size_t whole = static_cast<std::size_t>(length) / ext_record::size * ext_record::size;
    bytes_.assign(whole, 0);
    if (whole && file_.read_from_start(bytes_.data(), whole) != whole) {
        close();
        return 1;
    }
    return 0;
}

void ExtensionFile::close() {
    file_.close();
    bytes_.clear();
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

bool ExtensionFile::put(std::uint32_t i, const ExtensionRecord& r) {
    if (!file_.is_open()) return false;
    const std::size_t offset = std::size_t(i) * ext_record::size;
    const std::size_t old_size = bytes_.size();
    if (offset + ext_record::size > old_size) bytes_.resize(offset + ext_record::size, 0);
    encode_extension_record(r, bytes_.data() + offset);
    // The gap and the record in one write, from the old end of the file.
    const std::size_t from = std::min(old_size, offset);
    return file_.write_at(from, bytes_.data() + from, offset + ext_record::size - from);
}

bool ExtensionFile::free_record(std::uint32_t i) {
    if (!file_.is_open() || i >= record_count()) return true;
    std::uint8_t* b = bytes_.data() + std::size_t(i) * ext_record::size;
    std::fill_n(b, ext_record::size, 0);
    return file_.write_at(std::size_t(i) * ext_record::size, b, ext_record::size);
}

}  // namespace tally
