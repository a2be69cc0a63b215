// Texts that several views and reports of the server share, each made in
// this one place: printf into a string, the MAC text, the date text, the
// operating-system name, the up time, a drive line and a software line;
// and the one reading of a box that holds an unsigned number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "server/store/records.h"

namespace tally {

// A box's unsigned number: decimal digits only, any of the blank characters
// around them allowed, at most 4294967295. Empty, not a number, or too
// large: no number.
std::optional<std::uint32_t> decimal_box_value(const std::string& text, const char* blanks);

// printf into a string, of any length.
std::string printf_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X"
std::string format_mac(const std::uint8_t* mac);

// The line of drive slot k of a record, without line end: the letter (a-z
// raised, as older files may hold them), ':', the separator and the drive:
// "(Removable Disk)", "%i MB Free %i MB Total (Hard Disk)" or "(CDROM)".
// Empty for every other drive type.
std::string drive_line(const RecordView& record, int slot, const char* separator);

// The fixed disks of a record: totals in whole MB (free space never above
// its disk's size), and the smallest share of free space of a disk with a
// size (has_size false when there is none).
struct FixedDisks {
    std::uint64_t total_mb = 0;
    std::uint64_t free_mb = 0;
    std::uint64_t fullest_percent_free = 0;
    bool has_size = false;
};
FixedDisks fixed_disks(const RecordView& record);
// A program as the views and reports list it: its name, then
// " (Version %s)" when the version starts with a byte from '!' to 'z'.
std::string software_line(const EntryView& entry);

// "Www Mmm DD hh:mm:ss YYYY\n" in local time, English names, two-digit
// fields with leading zeros. Empty when the time cannot be converted.
std::string date_text(std::uint32_t seconds_since_1970);

// Name of the operating system a hardware record reports, from its platform
// code, minor and major version and build; empty for a combination the table
// does not know.
std::string os_name(std::uint32_t platform, std::uint8_t minor, std::uint8_t major, std::uint16_t build);

// Up time in seconds as "h:mm:ss", hours not wrapped at 24 (176527 -> 49:02:07).
std::string up_time_text(std::uint32_t seconds);

}  // namespace tally
