// The Search page's logic: what its drop-down lists hold, how one row of
// controls becomes a hardware criterion, and what "Search" and "Clear" do
// to the active search. The Win32 page copies its control texts into a
// SearchPageTexts and calls these.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/model/search.h"

namespace tally {

// Entries in the order they are added to each kind of list. The item,
// connector and mode lists are sorted lists, so they show them sorted.
const std::vector<std::string>& operator_list_entries();   // "=", "<", ">", "!="; first selected
const std::vector<std::string>& item_list_entries();       // the ten hardware items; none selected
const std::vector<std::string>& connector_list_entries();  // "Or", "And"; none selected
const std::vector<std::string>& mode_list_entries();       // "Installed", "Not Installed"; first selected

// The order in which a sorted drop-down list shows its entries (ASCII
// letters compared without case, as the list control does).
std::vector<std::string> sorted_list_order(std::vector<std::string> entries);

// The hardware item named by an item list's text: whole text,
// case-sensitive; none for anything else (nothing selected).
HardwareItem item_from_text(const std::string& text);
// The text under which an item is listed ("" for none).
std::string item_text(HardwareItem item);

// One hardware row from the texts of its operator, item and connector lists,
// without its value: the operator by its first character, the connector by
// "A" (And) or "O" (Or), the item by whole, case-sensitive match.
HardwareCriterion read_criterion(const std::string& operator_text, const std::string& item_text,
                                 const std::string& connector_text);

// A value field's number: decimal digits only (blanks around them allowed),
// at most 4294967295. Empty, not a number, or too large: no value.
std::optional<std::uint32_t> read_value(const std::string& text);

// The texts of the page's controls when "Search" is pressed.
struct SearchPageTexts {
    std::array<std::string, hardware_rows> operator_text;       // 1066, 1069, 1072
    std::array<std::string, hardware_rows> item_text;           // 1065, 1068, 1071
    std::array<std::string, hardware_rows - 1> connector_text;  // 1076, 1077
    std::array<std::string, hardware_rows> value_text;          // 1067, 1070, 1073
    std::string software_connector_text;                        // 1082
    std::array<std::string, software_rows> mode_text;           // 1080, 1081
    std::array<std::string, software_rows> software_text;       // 1074, 1075
};

// "Search": turns the page's texts into the active search. A missing value
// 1 leaves the hardware search off; a missing value 2 or 3 drops the row
// that needs it and the connector that points to it. The software search
// is on when either text is not empty. The caller then rebuilds the list.
void search_tab_search(const SearchPageTexts& page, ActiveSearch& search);

// "Clear": both searches off, every criterion back to its empty state. The
// caller resets the controls (clear_page_texts shows to what) and rebuilds.
void search_tab_clear(ActiveSearch& search);

// The page's texts as "Clear" leaves them, which is also the start-up state:
// operators "=", modes "Installed", items and connectors unselected, value
// and text fields empty.
SearchPageTexts cleared_page_texts();

}  // namespace tally
