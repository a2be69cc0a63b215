// Record report texts: the exported text file and the lines of the printout.
#include "server/reports/record_report.h"


#include "server/model/formats.h"
#include "server/model/windows_names.h"

namespace tally {

namespace {

// The date text without its final line feed.
std::string report_date(const RecordView& r) {
    std::string d = date_text(r.last_update());
    if (!d.empty() && d.back() == '\n') d.pop_back();
    return d;
}

// The drive lines without line ends; `separator` stands between the letter's
// colon and the drive's description (a tab in the file, a blank in print).
std::vector<std::string> drive_lines(const RecordView& r, const char* separator) {
    std::vector<std::string> lines;
    for (int k = 0; k < drive_slots; ++k) {
        std::string line = drive_line(r, k, separator);
        if (!line.empty()) lines.push_back(std::move(line));
    }
    return lines;
}

std::string cpu_line(const RecordView& r) {
    return printf_text("CPUID Code: %.4X     CPUID Response: %s      CPU Speed %0.1f Mhz", r.cpuid_code(),
                  r.cpuid_response().c_str(), static_cast<double>(r.speed_mhz()));
}

std::string memory_line(const RecordView& r) {
    return printf_text("Total RAM: %i MB   Swap Size: %i MB", static_cast<int>(r.ram_mb()),
                  static_cast<int>(r.pagefile_mb()));
}

std::string monitor_text(const RecordView& r) {
    return printf_text("Monitor Resolution: %ix%i     Bits Per Pixel %i", static_cast<int>(r.video_width()),
                  static_cast<int>(r.video_height()), static_cast<int>(r.bits_per_pixel()));
}

std::string version_text(const RecordView& r, const ExtensionRecord& ext) {
    return windows_name(r.windows_platform(), r.windows_minor(), r.windows_major(), r.windows_build(),
                        ext.product_type) +
           printf_text(" - Version %i.%i.%i", r.windows_major(), r.windows_minor(), r.windows_build());
}

// The lines of the extension record's facts; a fact not reported gives no
// line, so a record without an extension record reads as before.
struct FactLines {
    std::string processor, system, bios_serial, release;
};
FactLines fact_lines(const ExtensionRecord& ext) {
    const SystemFacts& f = ext.facts;
    FactLines l;
    if (!f.processor_name.empty()) l.processor = "Processor: " + f.processor_name;
    const std::string system = system_model_text(f);
    if (!system.empty()) l.system = "System: " + system;
    if (!f.bios_serial.empty()) l.bios_serial = "BIOS Serial Number: " + f.bios_serial;
    const std::string release = windows_release_text(f);
    if (!release.empty()) l.release = "Windows Edition: " + release;
    return l;
}

}  // namespace

std::vector<std::string> software_lines(const Store& store, const std::uint8_t* mac) {
    std::vector<std::string> lines;
    if (mac_is_zero(mac)) return lines;  // a free record owns no programs
    for (std::size_t offset : store.entry_offsets_of(mac)) lines.push_back(software_line(store.entry(offset)));
    return lines;
}

std::string report_text(const Store& store, std::uint32_t record_index) {
    if (record_index >= store.record_count()) return std::string();
    const RecordView r = store.record(record_index);
    ExtensionRecord ext;
    store.extension(record_index, ext);  // without one, no fact lines
    const FactLines facts = fact_lines(ext);
    std::string t;
    auto line = [&t](const std::string& s) { t += s + "\r\n"; };
    auto fact = [&line](const std::string& s) {
        if (!s.empty()) line(s);
    };

    line("System details for computer " + r.computer_name() + " as of " + report_date(r));
    line("");
    line("");
    line("Network Details:");
    line("MAC Address: " + format_mac(r.mac()) + "\tIP Address: " + format_ipv4(r.ip_address()));
    line("");
    line("Hardware Details:");
    line(cpu_line(r));
    fact(facts.processor);
    fact(facts.system);
    line(memory_line(r));
    switch (r.interlaced()) {
        case 0:
            line(monitor_text(r) + printf_text("     Refresh Rate %i Hz (Non Interlaced)", r.refresh_rate()));
            break;
        case 1:
            line(monitor_text(r) + printf_text("     Refresh Rate %i Hz (Interlaced)", r.refresh_rate()));
            break;
        default:
            line(monitor_text(r) + "     Refresh Rate Unknown");
            break;
    }
    line("");
    line("Disk Drives:");
    for (const std::string& d : drive_lines(r, "\t")) line(d);
    line("");
    if (!r.serial_number().empty()) line("Serial Number: " + r.serial_number());
    fact(facts.bios_serial);
    if (!r.asset_tag().empty()) line("Asset Tag: " + r.asset_tag());
    if (!r.custom_field_1().empty()) line("Custom Field 1: " + r.custom_field_1());
    if (!r.custom_field_2().empty()) line("Custom Field 2: " + r.custom_field_2());
    line("");
    line("Operating System:");
    line(version_text(r, ext));
    fact(facts.release);
    line("");
    line("Installed Software:");
    for (const std::string& s : software_lines(store, r.mac())) line(s);
    return t;
}

std::vector<PrintLine> report_print_lines(const Store& store, std::uint32_t record_index) {
    if (record_index >= store.record_count()) return {};
    const RecordView r = store.record(record_index);
    ExtensionRecord ext;
    store.extension(record_index, ext);  // without one, no fact lines
    const FactLines facts = fact_lines(ext);
    std::vector<PrintLine> lines;
    auto add = [&lines](const std::string& s, int advance) { lines.push_back(PrintLine{s, advance}); };
    auto fact = [&add](const std::string& s) {
        if (!s.empty()) add(s, 1);
    };

    add("System details for computer " + r.computer_name() + " as of " + report_date(r) + " ", 2);
    add("Network Details:", 1);
    add(" MAC Address: " + format_mac(r.mac()) + "     IP Address: " + format_ipv4(r.ip_address()) + "  ", 2);
    add("Hardware Details:", 1);
    add(cpu_line(r), 1);
    fact(facts.processor);
    fact(facts.system);
    add(memory_line(r), 1);
    switch (r.interlaced()) {
        case 0:
            add(monitor_text(r) + printf_text("     Refresh Rate %i Hz (NI)", r.refresh_rate()), 2);
            break;
        case 1:
            add(monitor_text(r) + printf_text("     Refresh Rate %i Hz (Int)", r.refresh_rate()), 2);
            break;
        default:
            add(monitor_text(r) + "     Refresh Rate Unknown", 2);
            break;
    }
    add("Disk Drives:", 1);
    for (const std::string& d : drive_lines(r, " ")) add(d, 1);
    add("", 1);
    add(r.serial_number().empty() ? std::string() : "Serial Number: " + r.serial_number(), 1);
    fact(facts.bios_serial);
    add(r.asset_tag().empty() ? std::string() : "Asset Tag: " + r.asset_tag(), 1);
    add(r.custom_field_1().empty() ? std::string() : "Custom Field 1: " + r.custom_field_1(), 1);
    add(r.custom_field_2().empty() ? std::string() : "Custom Field 2: " + r.custom_field_2(), 2);
    add("Operating System:", 1);
    if (facts.release.empty()) {
        add(version_text(r, ext), 2);
    } else {
        add(version_text(r, ext), 1);
        add(facts.release, 2);
    }
    add("Installed Software:", 1);
    for (const std::string& s : software_lines(store, r.mac())) add(s, 1);
    return lines;
}

}  // namespace tally
