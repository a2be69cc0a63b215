// Texts that several views and reports of the server share: the date text,
// the operating-system name and the up time.
#pragma once

#include <cstdint>
#include <string>

namespace tally {

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
