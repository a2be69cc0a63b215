// Evaluation of the active search against one record: three hardware
// criteria joined by their connectors, two software criteria over the
// computer's software list.
#include <cstring>

#include "server/model/search.h"

namespace tally {

namespace {
constexpr std::size_t name_window = 63;  // bytes of a DisplayName that take part

bool compare(Operator op, std::uint32_t x, std::uint32_t v) {
    switch (op) {
        case Operator::equal: return x == v;
        case Operator::less: return x < v;
        case Operator::greater: return x > v;
        case Operator::not_equal: return x != v;
        case Operator::none: return false;
    }
    return false;
}

// Disk-space criteria: passes when one fixed disk passes. The scan starts at
// slot 0, so the first drive the client found takes part like the others.
bool match_disk(const RecordView& r, const HardwareCriterion& c, bool free_space) {
    int slot = 0;
    for (;;) {
        while (slot < drive_slots && r.drive_type(slot) != drive_fixed) ++slot;
        if (slot >= drive_slots) return false;
        const std::uint64_t bytes = free_space ? r.free_disk_space(slot) : r.total_disk_space(slot);
        if (compare(c.op, static_cast<std::uint32_t>(bytes >> 20), c.value)) return true;
        if (slot == drive_slots - 1 || r.drive_letter(slot + 1) == 0) return false;
        ++slot;
    }
}

// ASCII letters to lower case; every other byte stays itself.
struct FoldTable {
    std::uint8_t to[256];
    FoldTable() {
        for (int c = 0; c < 256; ++c) to[c] = static_cast<std::uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
};
const FoldTable fold_table;
inline std::uint8_t fold(std::uint8_t c) { return fold_table.to[c]; }

bool bytes_contain(const std::uint8_t* name, std::size_t n, const std::string& text) {
    const std::size_t t = text.size();
    if (t == 0) return false;
    if (n > name_window) n = name_window;
    if (t > n) return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::uint8_t first = fold(p[0]);
    for (std::size_t j = 0; j + t <= n; ++j) {
        if (fold(name[j]) != first) continue;
        std::size_t k = 1;
        while (k < t && fold(name[j + k]) == fold(p[k])) ++k;
        if (k == t) return true;
    }
    return false;
}
}  // namespace

bool name_contains(const std::string& name, const std::string& text) {
    return bytes_contain(reinterpret_cast<const std::uint8_t*>(name.data()), name.size(), text);
}

bool match_criterion(const Store& store, const HardwareCriterion& c, std::uint32_t i) {
    if (c.item == HardwareItem::none || c.op == Operator::none) return false;
    const RecordView r = store.record(i);
    std::uint32_t x = 0;
    switch (c.item) {
        case HardwareItem::cpu_speed: {
            // Truncation toward zero; values outside 32 bits are clamped.
            const float mhz = r.speed_mhz();
            x = !(mhz > 0.0f) ? 0u : mhz >= 4294967295.0f ? 0xFFFFFFFFu : static_cast<std::uint32_t>(mhz);
            break;
        }
        case HardwareItem::ram: x = r.ram_mb(); break;
        case HardwareItem::cpu_family: x = (r.cpuid_code() >> 8) & 15u; break;
        case HardwareItem::free_disk_space: return match_disk(r, c, true);
        case HardwareItem::total_disk_space: return match_disk(r, c, false);
        case HardwareItem::refresh_rate: x = r.refresh_rate(); break;
        case HardwareItem::bits_per_pixel: x = r.bits_per_pixel(); break;
        case HardwareItem::windows_build: x = r.windows_build(); break;
        case HardwareItem::windows_minor_version: x = r.windows_minor(); break;
        case HardwareItem::windows_major_version: x = r.windows_major(); break;
        case HardwareItem::pagefile: x = r.pagefile_mb(); break;
        case HardwareItem::product_type: {
            ExtensionRecord ext;
            store.extension(i, ext);  // without one: 0, unknown
            x = ext.product_type;
            break;
        }
        case HardwareItem::none: return false;
    }
    return compare(c.op, x, c.value);
}

bool match_hardware_criteria(const Store& store, const ActiveSearch& search, std::uint32_t i) {
    for (std::size_t row = 0;; ++row) {
        const HardwareCriterion& c = search.hardware[row];
        const bool passed = match_criterion(store, c, i);
        if (row == search.hardware.size() - 1) return passed;
        const bool next = (passed && c.connector == Connector::and_) || (!passed && c.connector == Connector::or_);
        if (!next) return passed;
    }
}

bool match_software_criteria(const Store& store, const ActiveSearch& search, std::uint32_t i) {
    const RecordView r = store.record(i);
    const std::string& text1 = search.software[0].text;
    const std::string& text2 = search.software[1].text;
    bool found1 = false, found2 = false;
    if (!text1.empty() || !text2.empty()) {
        for (std::size_t offset : store.entry_offsets_of(r.mac())) {
            const std::uint8_t* name = store.entry(offset).bytes() + sw_entry::display_name.offset;
            const std::size_t n = strnlen(reinterpret_cast<const char*>(name), sw_entry::display_name.width);
            if (!found1 && bytes_contain(name, n, text1)) found1 = true;
            if (!found2 && bytes_contain(name, n, text2)) found2 = true;
            if ((found1 || text1.empty()) && (found2 || text2.empty())) break;
        }
    }
    return software_criteria_pass(search, found1, found2);
}

bool software_criteria_pass(const ActiveSearch& search, bool found1, bool found2) {
    // Without a second text the connector counts as Or.
    const bool connector_and = !search.software[1].text.empty() && search.software_connector == Connector::and_;
    const bool ok1 = (search.software[0].mode == SoftwareMode::installed) == found1;
    const bool ok2 = (search.software[1].mode == SoftwareMode::installed) == found2;
    return connector_and ? (ok1 && ok2) : (ok1 || ok2);
}

void SoftwareFinds::mark(const Store& store, const ActiveSearch& search) {
    found_.clear();
    const std::string& text1 = search.software[0].text;
    const std::string& text2 = search.software[1].text;
    if (text1.empty() && text2.empty()) return;
    for (std::size_t offset = 0; offset < store.used_length(); offset += sw_entry::size) {
        const std::uint8_t* entry = store.entry(offset).bytes();
        const std::uint64_t key = mac_key(entry);
        if (key == 0) continue;  // free entry
        const std::uint8_t* name = entry + sw_entry::display_name.offset;
        const std::size_t n = strnlen(reinterpret_cast<const char*>(name), sw_entry::display_name.width);
        const std::uint8_t bits = static_cast<std::uint8_t>((bytes_contain(name, n, text1) ? 1 : 0) |
                                                            (bytes_contain(name, n, text2) ? 2 : 0));
        if (bits) found_[key] |= bits;
    }
}

bool SoftwareFinds::passes(const ActiveSearch& search, const std::uint8_t* mac) const {
    const auto it = found_.find(mac_key(mac));
    const std::uint8_t bits = it == found_.end() ? 0 : it->second;
    return software_criteria_pass(search, bits & 1, bits & 2);
}

bool record_passes(const Store& store, const ActiveSearch& search, std::uint32_t i, const SoftwareFinds* finds) {
    if (i >= store.record_count() || store.record(i).is_free()) return false;
    if (search.record_set_on && (i >= search.in_record_set.size() || !search.in_record_set[i])) return false;
    if (search.hardware_on && !match_hardware_criteria(store, search, i)) return false;
    if (search.software_on) {
        const bool passed = finds ? finds->passes(search, store.record(i).mac())
                                  : match_software_criteria(store, search, i);
        if (!passed) return false;
    }
    return true;
}

}  // namespace tally
