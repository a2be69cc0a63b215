// Live server settings: registry value images, port box parsing and the
// directory rules of the settings dialog.
#include "server/console/settings.h"

#include <algorithm>
#include <cstring>

#include "server/model/formats.h"

namespace tally {

std::uint16_t listening_port(std::uint32_t port_cell) {
    const std::uint16_t port = static_cast<std::uint16_t>(port_cell & 0xFFFFu);
    return port == 0 ? default_port : port;
}

std::string path_from_value(const std::uint8_t* bytes, std::size_t size) {
    if (size > path_value_size) size = path_value_size;
    std::size_t n = 0;
    while (n < size && bytes[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

std::vector<std::uint8_t> path_value(const std::string& working_directory) {
    std::vector<std::uint8_t> value(path_value_size, 0);
    std::memcpy(value.data(), working_directory.data(), std::min(working_directory.size(), path_value_size));
    return value;
}

std::uint32_t port_cell_from_value(const std::uint8_t* bytes, std::size_t size) {
    if (size > port_value_read_size) size = port_value_read_size;
    std::uint32_t cell = 0;
    for (std::size_t k = 0; k < size; ++k) cell |= std::uint32_t(bytes[k]) << (8 * k);
    return cell;
}

std::vector<std::uint8_t> port_value(std::uint32_t port_cell) {
    return {static_cast<std::uint8_t>(port_cell & 0xFF), static_cast<std::uint8_t>((port_cell >> 8) & 0xFF)};
}

std::optional<std::uint32_t> parse_port_box(const std::string& text) { return decimal_box_value(text, " \t"); }

std::uint32_t history_days_from_value(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return default_history_days_setting;
    const std::uint32_t days = port_cell_from_value(bytes, size);
    return days >= 1 && days <= max_history_days ? days : default_history_days_setting;
}

std::vector<std::uint8_t> history_days_value(std::uint32_t days) {
    return {static_cast<std::uint8_t>(days), static_cast<std::uint8_t>(days >> 8), static_cast<std::uint8_t>(days >> 16),
            static_cast<std::uint8_t>(days >> 24)};
}

std::optional<std::uint32_t> parse_history_days_box(const std::string& text) {
    const std::optional<std::uint32_t> days = parse_port_box(text);
    if (!days || *days < 1 || *days > max_history_days) return std::nullopt;
    return days;
}

std::string port_box_text(std::uint32_t port_cell) {
    return std::to_string(listening_port(port_cell));
}

std::string strip_one_trailing_backslash(const std::string& directory) {
    if (!directory.empty() && directory.back() == '\\') return directory.substr(0, directory.size() - 1);
    return directory;
}

bool directory_fits_registry(const std::string& directory) {
    return directory.size() <= working_directory_max_chars;
}

}  // namespace tally
