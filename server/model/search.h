// The active search that filters the system list (up to three hardware
// criteria and two software criteria, set by the Search page and read by
// every rebuild of the list), and its evaluation against a record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/store/store.h"

namespace tally {

// Hardware items in the order the Search page's item lists offer them.
enum class HardwareItem {
    none,
    cpu_speed,              // "CPU Speed (Mhz)"
    ram,                    // "RAM in MB"
    cpu_family,             // "CPU Family"
    free_disk_space,        // "Free Disk Space"
    total_disk_space,       // "Total Disk Space"
    refresh_rate,           // "Refresh Rate"
    bits_per_pixel,         // "Bits per Pixel"
    windows_build,          // "Windows Build"
    windows_minor_version,  // "Windows Minor Version"
    windows_major_version,  // "Windows Major Version"
    pagefile,               // "Pagefile in MB"
    product_type,           // "Product Type": 1 workstation, 2 domain controller, 3 server; 0 unknown
};

enum class Operator { none, equal, less, greater, not_equal };  // "=", "<", ">", "!="
enum class Connector { none, and_, or_ };
enum class SoftwareMode { installed, not_installed };

struct HardwareCriterion {
    HardwareItem item = HardwareItem::none;
    Operator op = Operator::none;
    Connector connector = Connector::none;
    std::uint32_t value = 0;
};

struct SoftwareCriterion {
    SoftwareMode mode = SoftwareMode::installed;
    std::string text;  // at most 63 characters; may be empty
};

// The Search page's rows: three hardware criteria, two software criteria.
constexpr std::size_t hardware_rows = 3;
constexpr std::size_t software_rows = 2;

struct ActiveSearch {
    bool hardware_on = false;
    std::array<HardwareCriterion, hardware_rows> hardware{};
    bool software_on = false;
    std::array<SoftwareCriterion, software_rows> software{};
    Connector software_connector = Connector::and_;
    // Records handed over as a search result (a set the software catalogue
    // chose), by record index; off unless set.
    bool record_set_on = false;
    std::vector<std::uint8_t> in_record_set;
};

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
    std::unordered_map<std::uint64_t, std::uint8_t, MacHash> found_;  // MAC key -> bit 0 text 1, bit 1 text 2
};

// Case-insensitive (ASCII letters only) substring test within the first 63
// bytes of a DisplayName.
bool name_contains(const std::string& name, const std::string& text);
// Whether record i is listed: not free, and passing the active search. With
// finds marked for the same search, the software criteria are read from them.
bool record_passes(const Store& store, const ActiveSearch& search, std::uint32_t i,
                   const SoftwareFinds* finds = nullptr);

}  // namespace tally
