// The system list: every record of the hardware table that is not free and
// passes the active search, labelled by name, MAC or IP address and kept in
// ascending order of its label. The list is an index of its own that a
// virtual list control shows row by row; a changed record is moved within
// it without rebuilding the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/reports/search.h"
#include "server/store/store.h"

namespace tally {

// The sort selector's entries, in their order.
enum class ListOrder : std::uint8_t { system_name = 0, mac_address = 1, ip_address = 2 };

// One hardware criterion against record i.
bool match_criterion(const Store& store, const HardwareCriterion& criterion, std::uint32_t i);
// The three hardware criteria, row1 op1 (row2 op2 row3), short circuit from the left.
bool match_hardware_criteria(const Store& store, const ActiveSearch& search, std::uint32_t i);
// The two software criteria against the software list of record i.
bool match_software_criteria(const Store& store, const ActiveSearch& search, std::uint32_t i);
// Whether the two software criteria pass, given which texts the computer's
// programs contain.
bool software_criteria_pass(const ActiveSearch& search, bool found1, bool found2);

// One sequential pass over the software table that marks, per computer,
// which of the two software texts its programs contain: the software
// criteria of every record at the cost of one walk of the table.
class SoftwareFinds {
public:
    void mark(const Store& store, const ActiveSearch& search);
    bool passes(const ActiveSearch& search, const std::uint8_t* mac) const;

private:
    std::unordered_map<std::uint64_t, std::uint8_t> found_;  // MAC key -> bit 0 text 1, bit 1 text 2
};

// Case-insensitive (ASCII letters only) substring test within the first 63
// bytes of a DisplayName.
bool name_contains(const std::string& name, const std::string& text);
// Whether record i is listed: not free, and passing the active search. With
// finds marked for the same search, the software criteria are read from them.
bool record_passes(const Store& store, const ActiveSearch& search, std::uint32_t i,
                   const SoftwareFinds* finds = nullptr);

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
