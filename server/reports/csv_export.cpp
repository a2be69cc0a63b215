// CSV export text: banner, header, record lines.
#include "server/reports/csv_export.h"

#include "server/model/formats.h"

namespace tally {

std::string csv_banner(std::uint32_t now) {
    return "Kestrin's Vodirir Ozozu Output dated " + date_text(now) + "\n\n";
}

std::string csv_header() {
    return "MAC Address, IP Address, Computer Name, CPUID Levels, CPUID Response, CPUID Code, Speed in Mhz, "
           "RAM Size in MB, Pagefile Size in MB, Up Time, Windows Major Version, Windows Minor Version, "
           "Windows Build, Video Width (Pixels),Video Height (Pixels), Last User, Asset Tag, Serial Number\n\n";
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string csv_line(const RecordView& r) {
    std::string line = format_mac(r.mac());
    line += ", " + format_ipv4(r.ip_address());
    line += ", " + csv_field(r.computer_name());
    line += printf_text(", %d", r.cpuid_levels());
    line += ", " + csv_field(r.cpuid_response());
    line += printf_text(", %.4X, %0.1f, %d, %d, ", r.cpuid_code(), static_cast<double>(r.speed_mhz()),
                        static_cast<int>(r.ram_mb()), static_cast<int>(r.pagefile_mb()));
    line += up_time_text(r.up_time());
    line += printf_text(", %d, %d, %d, %d, %d", r.windows_major(), r.windows_minor(), r.windows_build(),
                        static_cast<int>(r.video_width()), static_cast<int>(r.video_height()));
    line += ", " + csv_field(r.last_user());
    line += ", " + csv_field(r.asset_tag());
    line += ", " + csv_field(r.serial_number());
    line += '\n';
    return line;
}

std::string csv_text(const Store& store, std::uint32_t now) {
    std::string text = csv_banner(now) + csv_header();
    for (std::uint32_t i = 0; i < store.record_count(); ++i) {
        const RecordView r = store.record(i);
        if (!r.is_free()) text += csv_line(r);
    }
    return text;
}

}  // namespace tally
