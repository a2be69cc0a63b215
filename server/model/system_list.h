// The system list: every record of the hardware table that is not free and
// passes the active search, labelled by name, MAC or IP address and kept in
// ascending order of its label. The list is an index of its own that a
// virtual list control shows row by row; a changed record is moved within
// it without rebuilding the rest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/model/search.h"
#include "server/store/store.h"

namespace tally {

// The sort selector's entries, in their order.
enum class ListOrder : std::uint8_t { system_name = 0, mac_address = 1, ip_address = 2 };
constexpr int list_order_count = 3;
// The selector's entry texts, in ListOrder order.
extern const char* const list_order_texts[list_order_count];
// The selector's indices of its entries, as it gave them when they were added.
using ListOrderEntries = std::array<std::int64_t, list_order_count>;
// The order the selector's chosen entry stands for; a selection that is none
// of the entries (nothing chosen) keeps `current`.
ListOrder list_order_of_selection(const ListOrderEntries& entries, std::int64_t selection, ListOrder current);

// The entry text of a record under the list order.
std::string list_label(const RecordView& record, ListOrder order);
// The order of the list: labels compared without regard to the case of
// ASCII letters, then byte by byte, then by record index (table order).
bool list_entry_less(const std::string& a, std::uint32_t ia, const std::string& b, std::uint32_t ib);
// "Search Returned %i hits".
std::string hits_text(std::int32_t hits);

class SystemList {
public:
    // Rebuilds the whole list from the tables.
    void rebuild(const Store& store, const ActiveSearch& search, ListOrder order);
    // Re-evaluates record i alone (changed or added), moving, adding or
    // removing its entry. Gives the same list as a rebuild when no other
    // record changed since the last one.
    void update_record(const Store& store, const ActiveSearch& search, ListOrder order, std::uint32_t i);

    std::size_t size() const { return entries_.size(); }
    std::int32_t hit_count() const { return static_cast<std::int32_t>(entries_.size()); }
    std::uint32_t record_at(std::size_t position) const { return entries_[position].record; }
    const std::string& label_at(std::size_t position) const { return entries_[position].label; }
    // Row of record i, if it is listed.
    std::optional<std::size_t> position_of(std::uint32_t i) const;

private:
    struct Entry {
        std::string label;
        std::uint32_t record;
    };
    std::size_t lower_bound(const std::string& label, std::uint32_t i) const;

    std::vector<Entry> entries_;
    // Per record index: listed, and under which label.
    std::vector<std::uint8_t> listed_;
    std::vector<std::string> label_of_;
};

}  // namespace tally
