// Windows names that need the product type of the hardware packet: the
// server editions share their version numbers with the desktop ones.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/packets.h"
#include "server/store/records.h"

namespace tally {

// Product types as the system reports them.
constexpr std::uint8_t product_workstation = 1;
constexpr std::uint8_t product_domain_controller = 2;
constexpr std::uint8_t product_server = 3;

// "Windows Server 2003" to "Windows Server 2025" (and the semi-annual
// "Windows Server, version ..." releases) by version and build; empty for
// versions before 5.2 or outside the NT family's known versions.
std::string windows_server_name(std::uint8_t major, std::uint8_t minor, std::uint16_t build);

// The operating-system name of a record: the server name for a domain
// controller or server, "Windows XP" for the workstation of version 5.2
// (its 64-bit edition), else the name by platform and version alone
// (os_name). A product type of 0 (an earlier client) gives os_name's name.
std::string windows_name(std::uint32_t platform, std::uint8_t minor, std::uint8_t major, std::uint16_t build,
                         std::uint8_t product_type);

// The Windows text of a record as the views show it: windows_name, or
// "Windows major.minor.build" for a version the table does not know.
std::string record_windows_text(const RecordView& record, std::uint8_t product_type);

// Two facts joined by a blank, either alone when the other is empty:
// edition and display version ("Professional 23H2"), manufacturer and model.
std::string windows_release_text(const SystemFacts& facts);
std::string system_model_text(const SystemFacts& facts);

}  // namespace tally
