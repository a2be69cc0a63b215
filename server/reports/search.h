// The active search that filters the system list: up to three hardware
// criteria and two software criteria, set by the Search page and read by
// every rebuild of the list.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

struct ActiveSearch {
    bool hardware_on = false;
    std::array<HardwareCriterion, 3> hardware{};
    bool software_on = false;
    std::array<SoftwareCriterion, 2> software{};
    Connector software_connector = Connector::and_;
};

}  // namespace tally
