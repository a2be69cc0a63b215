// Search page logic: list contents, reading rows, "Search" and "Clear".
#include "server/model/search_page.h"

#include <algorithm>

#include "server/model/formats.h"

namespace tally {

namespace {

constexpr std::size_t software_text_chars = 63;

struct ItemName {
    HardwareItem item;
    const char* text;
};

// In the order the item lists receive them.
constexpr ItemName item_names[] = {
    {HardwareItem::cpu_speed, "CPU Speed (Mhz)"},
    {HardwareItem::ram, "RAM in MB"},
    {HardwareItem::cpu_family, "CPU Family"},
    {HardwareItem::free_disk_space, "Free Disk Space"},
    {HardwareItem::total_disk_space, "Total Disk Space"},
    {HardwareItem::refresh_rate, "Refresh Rate"},
    {HardwareItem::bits_per_pixel, "Bits per Pixel"},
    {HardwareItem::windows_build, "Windows Build"},
    {HardwareItem::windows_major_version, "Windows Major Version"},
    {HardwareItem::windows_minor_version, "Windows Minor Version"},
    {HardwareItem::pagefile, "Pagefile in MB"},
    {HardwareItem::product_type, "Product Type"},
};

char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

Connector connector_from_text(const std::string& text) {
    if (!text.empty() && text[0] == 'A') return Connector::and_;
    if (!text.empty() && text[0] == 'O') return Connector::or_;
    return Connector::none;
}

SoftwareMode mode_from_text(const std::string& text) {
    return (!text.empty() && text[0] == 'I') ? SoftwareMode::installed : SoftwareMode::not_installed;
}

}  // namespace

const std::vector<std::string>& operator_list_entries() {
    static const std::vector<std::string> entries = {"=", "<", ">", "!="};
    return entries;
}

const std::vector<std::string>& item_list_entries() {
    static const std::vector<std::string> entries = [] {
        std::vector<std::string> v;
        for (const ItemName& n : item_names) v.push_back(n.text);
        return v;
    }();
    return entries;
}

const std::vector<std::string>& connector_list_entries() {
    static const std::vector<std::string> entries = {"Or", "And"};
    return entries;
}

const std::vector<std::string>& mode_list_entries() {
    static const std::vector<std::string> entries = {"Installed", "Not Installed"};
    return entries;
}

std::vector<std::string> sorted_list_order(std::vector<std::string> entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return fold(x) < fold(y); });
    });
    return entries;
}

HardwareItem item_from_text(const std::string& text) {
    for (const ItemName& n : item_names)
        if (text == n.text) return n.item;
    return HardwareItem::none;
}

std::string item_text(HardwareItem item) {
    for (const ItemName& n : item_names)
        if (n.item == item) return n.text;
    return std::string();
}

HardwareCriterion read_criterion(const std::string& operator_text, const std::string& item,
                                 const std::string& connector_text) {
    HardwareCriterion c;
    switch (operator_text.empty() ? '\0' : operator_text[0]) {
        case '!': c.op = Operator::not_equal; break;
        case '=': c.op = Operator::equal; break;
        case '>': c.op = Operator::greater; break;
        case '<': c.op = Operator::less; break;
        default: c.op = Operator::none; break;
    }
    c.connector = connector_from_text(connector_text);
    c.item = item_from_text(item);
    return c;
}

std::optional<std::uint32_t> read_value(const std::string& text) { return decimal_box_value(text, " "); }

void search_tab_search(const SearchPageTexts& page, ActiveSearch& search) {
    constexpr std::size_t last_row = hardware_rows - 1;
    for (std::size_t k = 0; k < hardware_rows; ++k) {
        search.hardware[k] = read_criterion(page.operator_text[k], page.item_text[k],
                                            k < last_row ? page.connector_text[k] : std::string());
    }
    search.software_connector =
        connector_from_text(page.software_connector_text) == Connector::and_ ? Connector::and_ : Connector::or_;

    search.hardware_on = false;
    search.software_on = false;

    if (const auto v1 = read_value(page.value_text[0])) {
        search.hardware[0].value = *v1;
        // Each later row takes part only while the row before points on to it
        // and its own value is there.
        for (std::size_t k = 1; k < hardware_rows; ++k) {
            HardwareCriterion& previous = search.hardware[k - 1];
            if (previous.connector == Connector::none) {
                search.hardware[k] = HardwareCriterion{};
                continue;
            }
            if (const auto v = read_value(page.value_text[k])) {
                search.hardware[k].value = *v;
            } else {
                search.hardware[k] = HardwareCriterion{};
                previous.connector = Connector::none;
            }
        }
        search.hardware[last_row].connector = Connector::none;
        search.hardware_on = true;
    }

    for (std::size_t k = 0; k < software_rows; ++k) {
        search.software[k].mode = mode_from_text(page.mode_text[k]);
        search.software[k].text = page.software_text[k].substr(0, software_text_chars);
    }
    search.software_on = !search.software[0].text.empty() || !search.software[1].text.empty();
}

void search_tab_clear(ActiveSearch& search) { search = ActiveSearch{}; }

SearchPageTexts cleared_page_texts() {
    SearchPageTexts t;
    t.operator_text.fill(operator_list_entries()[0]);
    t.mode_text.fill(mode_list_entries()[0]);
    return t;
}

}  // namespace tally
