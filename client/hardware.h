// The portable side of scoutly's hardware probes: choosing the adapter
// address, the processor fields, the drive list, the clock arithmetic, the
// memory, display and version figures, the enclosure strings, and the order
// in which the probes run and the ID packet goes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/packets.h"

namespace tally::client {

// One row of an adapter list: the interfaces table of the SNMP agent, or
// the IP helper's adapter list.
struct AdapterRow {
    std::uint32_t type = 0;           // interface type; 6 is Ethernet
    bool address_is_octets = true;    // the address value really is a byte string
    std::vector<std::uint8_t> address;
};
constexpr std::uint32_t ethernet_interface_type = 6;

// True when the row may give the computer's MAC Address: Ethernet, an
// octet-string address of at least six bytes, not the dial-up pseudo address
// 'D','E','S','T',0 and not all zero.
bool adapter_row_usable(const AdapterRow& row);
// The address of the last usable row; false (mac untouched) when none is.
bool choose_mac(const std::vector<AdapterRow>& rows, Mac& mac);

// CPUID results to packet fields: function 0 (eax, ebx, edx, ecx) and the
// eax of function 1 (only read when function 0 reports a level of 1 or more).
struct CpuidZero {
    std::uint32_t eax = 0, ebx = 0, edx = 0, ecx = 0;
};
void set_processor_fields(HardwareReport& r, const CpuidZero& f0, std::uint32_t f1_eax);

// The root paths of GetLogicalDriveStrings: NUL-terminated texts back to
// back, ending with an empty one or at `size`. At most 26 are returned.
std::vector<std::string> split_drive_strings(const char* buffer, std::size_t size);
constexpr std::uint32_t fixed_drive_type = drive_fixed;

// One clock sample: performance counter and time-stamp counter before and
// after a sleep of 40 ms.
struct ClockSample {
    std::uint64_t c1 = 0, t1 = 0, c2 = 0, t2 = 0;
};
constexpr int clock_sample_count = 10;
// From the counter frequency and the ten samples: Speed in Mhz and the up
// time (mean of the samples' seconds since the time-stamp counter started).
// False when a sample cannot give a rate (frequency 0, a counter that did
// not advance): the caller then sends speed 0 and the last up time.
bool compute_clock(std::uint64_t frequency, const ClockSample (&samples)[clock_sample_count], float& speed_mhz,
                   std::uint32_t& up_time);

// Byte counts above 4,294,967,295 are sent as 4,294,967,295.
std::uint32_t cap_bytes(std::uint64_t bytes);

// The interlaced flag of the display flags.
constexpr std::uint32_t display_interlaced_flag = 2;
inline std::uint8_t interlaced_from_flags(std::uint32_t flags) { return (flags & display_interlaced_flag) ? 1 : 0; }

// Platform 2 (NT family) from major version 4 on reports the enclosure.
constexpr std::uint32_t platform_nt = 2;
inline bool reports_enclosure(std::uint32_t platform, std::uint8_t major) {
    return platform == platform_nt && major >= 4;
}

// A management string as it goes into the ID packet: the low byte of each
// UTF-16 code unit, up to the first NUL unit or `units` units.
std::string low_bytes_of_utf16(const std::uint16_t* text, std::size_t units);

// The probes of one pass, as the platform measures them. Each fills only
// its own fields; a probe that fails leaves them as they were.
class HardwareProbes {
public:
    virtual ~HardwareProbes() = default;
    virtual void probe_mac(Mac& mac) = 0;
    virtual void probe_processor(HardwareReport& r) = 0;
    virtual void probe_drives(HardwareReport& r) = 0;
    virtual void probe_memory(HardwareReport& r) = 0;
    virtual void probe_version(HardwareReport& r) = 0;
    virtual void probe_enclosure(std::string& asset_tag, std::string& serial_number) = 0;
    virtual void probe_computer_name(HardwareReport& r) = 0;
    virtual void probe_user_name(HardwareReport& r) = 0;
    // Speed in Mhz and Up Time; up_time_kept is the last up time of the run,
    // which the probe updates.
    virtual void probe_clock(HardwareReport& r, std::uint32_t& up_time_kept) = 0;
    virtual void probe_display(HardwareReport& r) = 0;
};

// Runs the probes in their fixed order on a cleared report and sends the ID
// packet (through send_id) right after the enclosure probe, on the NT family
// from version 4 on. The ID packet carries the same MAC Address.
template <typename SendId>
void run_probes(HardwareProbes& probes, HardwareReport& r, std::uint32_t& up_time_kept, SendId send_id) {
    probes.probe_mac(r.mac);
    probes.probe_processor(r);
    probes.probe_drives(r);
    probes.probe_memory(r);
    probes.probe_version(r);
    if (reports_enclosure(r.windows_platform, r.windows_major)) {
        std::string asset_tag, serial_number;
        probes.probe_enclosure(asset_tag, serial_number);
        send_id(encode_id_packet(r.mac, asset_tag, serial_number));
    }
    probes.probe_computer_name(r);
    probes.probe_user_name(r);
    probes.probe_clock(r, up_time_kept);
    r.up_time = up_time_kept;
    probes.probe_display(r);
}

}  // namespace tally::client
