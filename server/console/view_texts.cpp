// View texts of the record pages, built from the hardware and software tables.
#include "server/console/view_texts.h"

#include <cmath>
#include <vector>

#include "server/model/formats.h"
#include "server/model/windows_names.h"

namespace tally {

namespace {
int as_int(std::uint32_t value) { return static_cast<int>(value); }
}  // namespace

std::string drive_lines(const RecordView& record) {
    std::string text;
    for (int k = 0; k < drive_slots; ++k) {
        const std::string line = drive_line(record, k, "\t");
        if (!line.empty()) text += line + "\r\n";
    }
    return text;
}

std::string bits_per_pixel_text(std::uint32_t bits_per_pixel) {
    return printf_text("%i (%0.0f colours)", as_int(bits_per_pixel), std::pow(2.0, double(bits_per_pixel)));
}

std::string refresh_rate_text(std::uint16_t rate, std::uint8_t interlaced) {
    if (rate == 0 || rate == 1) return interlaced != 0 ? "N/A (Interlaced)" : "N/A (Non Interlaced)";
    return printf_text(interlaced != 0 ? "%i (interlaced)" : "%i (non-interlaced)", int(rate));
}

std::string clock_speed_text(float mhz) { return printf_text("%0.2f", double(mhz)); }

std::string installed_software_text(const Store& store, const std::uint8_t* mac) {
    std::string text;
    for (std::size_t offset : store.entry_offsets_of(mac)) text += software_line(store.entry(offset)) + "\r\n";
    return text;
}

std::string unsigned_text(std::uint32_t value) { return std::to_string(value); }

std::string unsaved_text(const UnsavedCounts& c) {
    std::vector<std::string> parts{printf_text("%u hardware records", static_cast<unsigned>(c.records)),
                                   printf_text("%u software entries", static_cast<unsigned>(c.entries))};
    if (c.extension_records != 0)
        parts.push_back(printf_text("%u extension records", static_cast<unsigned>(c.extension_records)));
    if (c.history_events != 0)
        parts.push_back(printf_text("%u history events", static_cast<unsigned>(c.history_events)));
    std::string text = parts[0];
    for (std::size_t k = 1; k < parts.size(); ++k) text += (k + 1 == parts.size() ? " and " : ", ") + parts[k];
    return text + " could not be saved: the disk is full or failing.";
}

std::string delete_confirmation_text(const std::uint8_t* mac) {
    return "Are you sure you wish to delete " + format_mac(mac) + " from the database?";
}

RecordTexts record_texts(const Store& store, std::uint32_t i) {
    const RecordView r = store.record(i);
    RecordTexts t;
    const std::uint32_t code = r.cpuid_code();

    t.hardware.drives = drive_lines(r);
    t.hardware.cpu_family = printf_text("%X", (code >> 8) & 15u);
    t.hardware.cpu_model = printf_text("%X", (code >> 4) & 15u);
    t.hardware.cpu_stepping = printf_text("%X", code & 15u);
    t.hardware.cpuid_response = r.cpuid_response();
    t.hardware.total_ram = unsigned_text(r.ram_mb());
    t.hardware.swap_size = unsigned_text(r.pagefile_mb());
    t.general.user = r.last_user();
    t.hardware.clock_speed = clock_speed_text(r.speed_mhz());
    t.general.up_time = up_time_text(r.up_time());
    t.software.major_version = unsigned_text(r.windows_major());
    t.software.minor_version = unsigned_text(r.windows_minor());
    t.software.build = printf_text("%i", int(r.windows_build()));
    t.general.computer_name = r.computer_name();
    t.general.mac_address = format_mac(r.mac());
    t.general.custom_field_1 = r.custom_field_1();
    t.general.custom_field_2 = r.custom_field_2();
    t.general.serial_number = r.serial_number();
    t.general.asset_tag = r.asset_tag();
    t.hardware.resolution = printf_text("%i x %i", as_int(r.video_width()), as_int(r.video_height()));
    t.hardware.bits_per_pixel = bits_per_pixel_text(r.bits_per_pixel());
    t.hardware.refresh_rate = refresh_rate_text(r.refresh_rate(), r.interlaced());
    t.general.ip_address = format_ipv4(r.ip_address());
    t.general.last_update = date_text(r.last_update());
    ExtensionRecord ext;
    store.extension(i, ext);  // without one, the facts stay empty
    t.hardware.processor_name = ext.facts.processor_name;
    t.hardware.manufacturer = ext.facts.manufacturer;
    t.hardware.model = ext.facts.model;
    t.general.bios_serial = ext.facts.bios_serial;
    t.general.windows_release = windows_release_text(ext.facts);
    t.software.platform_name = windows_name(r.windows_platform(), r.windows_minor(), r.windows_major(),
                                            r.windows_build(), ext.product_type);
    t.software.installed_software = installed_software_text(store, r.mac());
    return t;
}

RecordTexts empty_record_texts() { return RecordTexts{}; }

}  // namespace tally
