// The system list's sorted index: rebuilt whole, or one record moved at a time.
#include "server/model/system_list.h"

#include <algorithm>

#include "server/model/formats.h"

namespace tally {

const char* const list_order_texts[list_order_count] = {"System Name", "MAC Address", "IP Address"};

ListOrder list_order_of_selection(const ListOrderEntries& entries, std::int64_t selection, ListOrder current) {
    for (int k = 0; k < list_order_count; ++k)
        if (selection == entries[k]) return static_cast<ListOrder>(k);
    return current;
}

std::string list_label(const RecordView& record, ListOrder order) {
    switch (order) {
        case ListOrder::mac_address: return format_mac(record.mac());
        case ListOrder::ip_address: return format_ipv4(record.ip_address());
        case ListOrder::system_name: break;
    }
    return record.computer_name();
}

bool list_entry_less(const std::string& a, std::uint32_t ia, const std::string& b, std::uint32_t ib) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < n; ++k) {
        auto ca = static_cast<unsigned char>(a[k]), cb = static_cast<unsigned char>(b[k]);
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    const int bytes = a.compare(b);
    if (bytes != 0) return bytes < 0;
    return ia < ib;
}

std::string hits_text(std::int32_t hits) {
    return printf_text("Search Returned %i hits", static_cast<int>(hits));
}

void SystemList::rebuild(const Store& store, const ActiveSearch& search, ListOrder order) {
    const std::uint32_t n = store.record_count();
    entries_.clear();
    listed_.assign(n, 0);
    label_of_.assign(n, std::string());
    SoftwareFinds finds;
    if (search.software_on) finds.mark(store, search);
    for (std::uint32_t i = 0; i < n; ++i) {
        if (!record_passes(store, search, i, &finds)) continue;
        label_of_[i] = list_label(store.record(i), order);
        listed_[i] = 1;
        entries_.push_back(Entry{label_of_[i], i});
    }
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return list_entry_less(a.label, a.record, b.label, b.record);
    });
}

std::size_t SystemList::lower_bound(const std::string& label, std::uint32_t i) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), 0, [&](const Entry& e, int) {
        return list_entry_less(e.label, e.record, label, i);
    });
    return static_cast<std::size_t>(it - entries_.begin());
}

void SystemList::update_record(const Store& store, const ActiveSearch& search, ListOrder order, std::uint32_t i) {
    const std::uint32_t n = store.record_count();
    if (listed_.size() < n) {
        listed_.resize(n, 0);
        label_of_.resize(n);
    }
    if (i < listed_.size() && listed_[i]) {
        const std::size_t at = lower_bound(label_of_[i], i);
        if (at < entries_.size() && entries_[at].record == i) entries_.erase(entries_.begin() + long(at));
        listed_[i] = 0;
        label_of_[i].clear();
    }
    if (!record_passes(store, search, i)) return;
    label_of_[i] = list_label(store.record(i), order);
    listed_[i] = 1;
    entries_.insert(entries_.begin() + long(lower_bound(label_of_[i], i)), Entry{label_of_[i], i});
}

std::optional<std::size_t> SystemList::position_of(std::uint32_t i) const {
    if (i >= listed_.size() || !listed_[i]) return std::nullopt;
    const std::size_t at = lower_bound(label_of_[i], i);
    if (at < entries_.size() && entries_[at].record == i) return at;
    return std::nullopt;
}

}  // namespace tally
