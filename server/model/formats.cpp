// Shared texts: printf, MAC, date, operating-system names, up time, drive
// and software lines.
#include "server/model/formats.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "server/model/local_time.h"

namespace tally {

std::optional<std::uint32_t> decimal_box_value(const std::string& text, const char* blanks) {
    const auto blank = [blanks](char c) { return c != '\0' && std::strchr(blanks, c) != nullptr; };
    std::size_t b = 0, e = text.size();
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    if (b == e) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t k = b; k < e; ++k) {
        if (text[k] < '0' || text[k] > '9') return std::nullopt;
        value = value * 10 + std::uint64_t(text[k] - '0');
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::string printf_text(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::string text;
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof line) {
        text.assign(line, static_cast<std::size_t>(n));
    } else if (n >= 0) {
        std::vector<char> long_line(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(long_line.data(), long_line.size(), format, again);
        text.assign(long_line.data(), static_cast<std::size_t>(n));
    }
    va_end(again);
    return text;
}

std::string format_mac(const std::uint8_t* m) {
    return printf_text("%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", m[0], m[1], m[2], m[3], m[4], m[5]);
}

std::string drive_line(const RecordView& r, int slot, const char* separator) {
    std::uint8_t letter = r.drive_letter(slot);
    if (letter >= 'a' && letter <= 'z') letter = static_cast<std::uint8_t>(letter - 'a' + 'A');
    // MB of a byte count: shifted right by 20 bits, shown as a signed 32-bit number.
    auto mb = [](std::uint64_t bytes) { return static_cast<int>(static_cast<std::uint32_t>(bytes >> 20)); };
    switch (r.drive_type(slot)) {
        case drive_removable: return printf_text("%c:%s(Removable Disk)", letter, separator);
        case drive_fixed:
            return printf_text("%c:%s%i MB Free %i MB Total (Hard Disk)", letter, separator,
                               mb(r.free_disk_space(slot)), mb(r.total_disk_space(slot)));
        case drive_cdrom: return printf_text("%c:%s(CDROM)", letter, separator);
        default: return std::string();
    }
}

std::string software_line(const EntryView& e) {
    std::string line = e.display_name();
    const std::uint8_t first = e.bytes()[sw_entry::display_version.offset];
    if (first >= '!' && first <= 'z') line += " (Version " + e.display_version() + ")";
    return line;
}

std::string date_text(std::uint32_t seconds_since_1970) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(seconds_since_1970);
    std::tm local{};
    if (!local_time(t, local)) return std::string();
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) return std::string();
    char text[40];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n", days[local.tm_wday], months[local.tm_mon],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    return text;
}

std::string os_name(std::uint32_t platform, std::uint8_t minor, std::uint8_t major, std::uint16_t build) {
    switch (platform) {
        case 0:
            return "Windows 3.x running Win32s";
        case 1:
            if (minor == 0) return "Windows 95";
            if (minor == 10) return "Windows 98";
            if (minor == 90) return "Windows Me";
            return std::string();
        case 2:
            if (major <= 5) {
                // The NT family up to version 5 by its minor version.
                if (minor == 0) return major == 5 ? "Windows 2000" : "Windows NT 4.0";
                if (minor == 1) return "Windows XP";
                if (minor == 2) return "Windows 2003";
                if (minor == 51) return "Windows NT 3.51";
                return std::string();
            }
            if (major == 6) {
                if (minor == 0) return "Windows Vista";
                if (minor == 1) return "Windows 7";
                if (minor == 2) return "Windows 8";
                if (minor == 3) return "Windows 8.1";
                return std::string();
            }
            if (major == 10 && minor == 0) return build >= 22000 ? "Windows 11" : "Windows 10";
            return std::string();
        default:
            return std::string();
    }
}

std::string up_time_text(std::uint32_t seconds) {
    return printf_text("%u:%02u:%02u", seconds / 3600, seconds % 3600 / 60, seconds % 60);
}

FixedDisks fixed_disks(const RecordView& r) {
    FixedDisks d;
    for (int k = 0; k < drive_slots; ++k) {
        if (r.drive_type(k) != drive_fixed) continue;
        const std::uint64_t total = r.total_disk_space(k), free_bytes = std::min(r.free_disk_space(k), total);
        d.total_mb += total >> 20;
        d.free_mb += free_bytes >> 20;
        if (total == 0) continue;
        const auto percent = std::uint64_t(double(free_bytes) * 100.0 / double(total));
        d.fullest_percent_free = d.has_size ? std::min(d.fullest_percent_free, percent) : percent;
        d.has_size = true;
    }
    return d;
}

}  // namespace tally
