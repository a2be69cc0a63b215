// The live server settings (working directory, port, signing, history,
// publishing) and how the first two travel through the registry values
// Audit_PathName and Audit_Port and the settings dialog's boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/packets.h"  // default_port
#include "server/console/publish_settings.h"
#include "server/console/site_keys.h"

namespace tally {

constexpr std::size_t working_directory_size = 260;  // the live buffer, terminator included
constexpr std::size_t path_value_size = 255;          // bytes of Audit_PathName
constexpr std::size_t port_value_size = 2;            // bytes written to Audit_Port
constexpr std::size_t port_value_read_size = 4;       // bytes read from Audit_Port
// Longest directory the dialog accepts: it fits Audit_PathName with its
// terminator, so the next start reads back exactly what was stored.
constexpr std::size_t working_directory_max_chars = path_value_size - 1;
// The box that refuses a longer one, at OK and after Browse.
constexpr char directory_too_long_text[] =
    "The working directory can be at most 254 characters long. Please choose a shorter path.";
constexpr char directory_too_long_caption[] = "Settings Error";

// Days of change history kept: Audit_HistoryDays (4 bytes, little-endian),
// 400 when absent; the settings dialog's "Keep history for N days" box.
constexpr std::uint32_t default_history_days_setting = 400;
constexpr std::uint32_t max_history_days = 36500;
constexpr char history_days_invalid_text[] = "Please keep the history for 1 to 36500 days.";

struct ServerSettings {
    std::string working_directory;  // empty: not configured
    std::uint32_t port_cell = 0;    // 0: no port set; users take the low 16 bits
    SigningSettings signing;        // the site keys and the rule for unsigned reports
    std::uint32_t history_days = default_history_days_setting;
    PublishConfig publish;  // publishing to the organisation's database
};

// Audit_HistoryDays as read (1 to 4 bytes): the days, 400 for none or a
// value out of 1 to 36500.
std::uint32_t history_days_from_value(const std::uint8_t* bytes, std::size_t size);
std::vector<std::uint8_t> history_days_value(std::uint32_t days);
// The days box: 1 to 36500 days (blanks around allowed); none otherwise.
std::optional<std::uint32_t> parse_history_days_box(const std::string& text);

// The port the server binds: the low 16 bits of the cell, and the default
// 54333 for 0, so that a stored path without a stored port never binds port 0.
std::uint16_t listening_port(std::uint32_t port_cell);

// Audit_PathName as read (up to 255 bytes, perhaps without a terminator) ->
// the working directory, ended at the first NUL or after the bytes read.
std::string path_from_value(const std::uint8_t* bytes, std::size_t size);
// The 255 bytes written to Audit_PathName: the path, its terminator when it
// fits, zero bytes after it (no stale buffer content).
std::vector<std::uint8_t> path_value(const std::string& working_directory);
// Audit_Port as read (1 to 4 bytes, little-endian) -> the port cell.
std::uint32_t port_cell_from_value(const std::uint8_t* bytes, std::size_t size);
// The 2 bytes written to Audit_Port: the low 16 bits, little-endian.
std::vector<std::uint8_t> port_value(std::uint32_t port_cell);

// The port box as an unsigned decimal number (blanks around it allowed);
// nothing for an empty box, other characters, or a number beyond 32 bits.
std::optional<std::uint32_t> parse_port_box(const std::string& text);
// The port as the settings dialog and the Server Stats page show it: the
// port the server binds, unsigned decimal.
std::string port_box_text(std::uint32_t port_cell);
// The directory as the dialog's OK stores it: one trailing backslash removed.
std::string strip_one_trailing_backslash(const std::string& directory);
// Whether a directory (as OK stores it) can be kept in Audit_PathName.
bool directory_fits_registry(const std::string& directory);

}  // namespace tally
