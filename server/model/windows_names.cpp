// Windows names by version, build and product type.
#include "server/model/windows_names.h"

#include <cstdio>

#include "server/model/formats.h"

namespace tally {

namespace {

struct ServerBuild {
    std::uint16_t build;
    const char* name;
    bool long_term;  // a long-term release names the builds after it until the next
};

// Version 10.0 servers by build, ascending.
constexpr ServerBuild server_builds[] = {
    {14393, "Windows Server 2016", true},
    {16299, "Windows Server, version 1709", false},
    {17134, "Windows Server, version 1803", false},
    {17763, "Windows Server 2019", true},
    {18362, "Windows Server, version 1903", false},
    {18363, "Windows Server, version 1909", false},
    {19041, "Windows Server, version 2004", false},
    {19042, "Windows Server, version 20H2", false},
    {20348, "Windows Server 2022", true},
    {25398, "Windows Server, version 23H2", false},
    {26100, "Windows Server 2025", true},
};

}  // namespace

std::string windows_server_name(std::uint8_t major, std::uint8_t minor, std::uint16_t build) {
    if (major == 5 && minor == 2) return "Windows Server 2003";
    if (major == 6) {
        switch (minor) {
            case 0: return "Windows Server 2008";
            case 1: return "Windows Server 2008 R2";
            case 2: return "Windows Server 2012";
            case 3: return "Windows Server 2012 R2";
            default: return std::string();
        }
    }
    if (major != 10 || minor != 0) return std::string();
    // The exact build, else the last long-term release at or below it
    // (previews before 2016 are named 2016).
    const char* name = server_builds[0].name;
    for (const ServerBuild& b : server_builds) {
        if (b.build == build) return b.name;
        if (b.build < build && b.long_term) name = b.name;
    }
    return name;
}

namespace {
std::string joined(const std::string& a, const std::string& b) {
    return a.empty() || b.empty() ? a + b : a + " " + b;
}
}  // namespace

std::string windows_release_text(const SystemFacts& f) { return joined(f.windows_edition, f.display_version); }
std::string system_model_text(const SystemFacts& f) { return joined(f.manufacturer, f.model); }

std::string windows_name(std::uint32_t platform, std::uint8_t minor, std::uint8_t major, std::uint16_t build,
                         std::uint8_t product_type) {
    constexpr std::uint32_t platform_nt = 2;
    if (platform == platform_nt) {
        if (product_type == product_domain_controller || product_type == product_server) {
            std::string name = windows_server_name(major, minor, build);
            if (!name.empty()) return name;
        }
        if (product_type == product_workstation && major == 5 && minor == 2) return "Windows XP";
    }
    return os_name(platform, minor, major, build);
}

std::string record_windows_text(const RecordView& r, std::uint8_t product_type) {
    std::string name =
        windows_name(r.windows_platform(), r.windows_minor(), r.windows_major(), r.windows_build(), product_type);
    if (!name.empty()) return name;
    char text[48];
    std::snprintf(text, sizeof text, "Windows %u.%u.%u", unsigned(r.windows_major()), unsigned(r.windows_minor()),
                  unsigned(r.windows_build()));
    return text;
}

}  // namespace tally
