// Every text the record views, the Server Stats page, the status line and
// the delete confirmation show, made from the tables.
#pragma once

#include <cstdint>
#include <string>

#include "server/store/store.h"

namespace tally {

struct GeneralTexts {
    std::string last_update, computer_name, mac_address, ip_address, up_time, user;
    std::string serial_number, asset_tag, custom_field_1, custom_field_2;
    std::string bios_serial, windows_release;  // from the extension record
};

struct HardwareTexts {
    std::string cpuid_response, cpu_family, cpu_model, cpu_stepping, clock_speed;
    std::string total_ram, swap_size, resolution, bits_per_pixel, refresh_rate, drives;
    std::string processor_name, manufacturer, model;  // from the extension record
};

struct SoftwareTexts {
    std::string major_version, minor_version, platform_name, build, installed_software;
};

struct RecordTexts {
    GeneralTexts general;
    HardwareTexts hardware;
    SoftwareTexts software;
};

// The texts of the three record pages for record i (which must exist).
RecordTexts record_texts(const Store& store, std::uint32_t i);
// Texts of empty record pages (no record to show).
RecordTexts empty_record_texts();

// One line per removable, fixed and CD-ROM drive, in slot order (drive_line
// with a tab, each ending in CR LF).
std::string drive_lines(const RecordView& record);
// "%i (%0.0f colours)" with 2 to the power of the colour depth.
std::string bits_per_pixel_text(std::uint32_t bits_per_pixel);
// "N/A (Interlaced)", "N/A (Non Interlaced)", "%i (interlaced)", "%i (non-interlaced)".
std::string refresh_rate_text(std::uint16_t rate, std::uint8_t interlaced);
// "%0.2f" of the clock.
std::string clock_speed_text(float mhz);
// The computer's programs in table order, "name (Version v)\r\n" each.
std::string installed_software_text(const Store& store, const std::uint8_t* mac);

// A packet counter or the port on the Server Stats page.
std::string unsigned_text(std::uint32_t value);
// What a clean exit leaves unwritten.
struct UnsavedCounts {
    std::size_t records = 0;            // Hardware.Audit
    std::size_t entries = 0;            // Software.Audit
    std::size_t extension_records = 0;  // Extension.Audit
    std::size_t history_events = 0;     // History.Audit
};
// The box of a clean exit that leaves something unwritten: the hardware
// records and software entries always, the side files' counts when not 0.
std::string unsaved_text(const UnsavedCounts& counts);
// "Are you sure you wish to delete ... from the database?"
std::string delete_confirmation_text(const std::uint8_t* mac);

}  // namespace tally
