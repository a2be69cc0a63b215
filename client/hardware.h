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

// One row of an adapter list: the IP helper's interface table, the
// interfaces table of the SNMP agent, or the IP helper's adapter list.
enum class AdapterKind : std::uint8_t {
    unknown,   // the source cannot tell (SNMP agent, systems before Vista)
    physical,  // the system marks it a hardware interface
    virtual_,  // hypervisor, VPN, capture, filter or other software adapter
};
struct AdapterRow {
    std::uint32_t type = 0;           // interface type; 6 is Ethernet, 71 wireless
    bool address_is_octets = true;    // the address value really is a byte string
    std::vector<std::uint8_t> address;
    AdapterKind kind = AdapterKind::unknown;
    // The burnt-in address where the system reports it; a wireless adapter
    // may use a random current address that changes from network to network.
    std::vector<std::uint8_t> permanent_address;
};
constexpr std::uint32_t ethernet_interface_type = 6;
constexpr std::uint32_t wireless_interface_type = 71;

// True when the address may be a computer's MAC Address: an octet string of
// at least six bytes, not the dial-up pseudo address 'D','E','S','T',0 and
// not all zero.
bool address_usable(const std::vector<std::uint8_t>& address, bool is_octets = true);
// True when the row is Ethernet with a usable address (the rule of the
// interfaces table).
bool adapter_row_usable(const AdapterRow& row);
// The computer's MAC Address from its adapter rows, in table order. The last
// usable row of the best class wins: hardware (or unknown) Ethernet, then
// hardware (or unknown) wireless, then virtual Ethernet, then virtual
// wireless. A wireless row gives its permanent address when that is usable.
// So a computer whose last Ethernet adapter is physical keeps its key, and
// a laptop with wireless only is no longer filed under the zero MAC.
// False (mac untouched) when no row is usable.
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
// Bytes rounded up to whole MB, as the server rounds the 32-bit counts;
// above 4,294,967,295 MB the result stays at that value.
std::uint32_t mb_from_bytes_capped(std::uint64_t bytes);

// The processor brand string from the twelve registers (eax, ebx, ecx, edx
// of the extended functions 0x80000002 to 0x80000004), without the blanks
// that pad it; "" when the processor has no such functions.
constexpr std::uint32_t brand_first_function = 0x80000002u;
constexpr std::uint32_t brand_last_function = 0x80000004u;
std::string processor_brand(const std::uint32_t (&regs)[12]);

// A management or registry text without leading and trailing blanks.
std::string trim_blanks(const std::string& text);

// The Windows release name: DisplayVersion (such as 23H2) where the system
// has it, else ReleaseId (such as 1909), else the service-pack text.
std::string choose_display_version(const std::string& display_version, const std::string& release_id,
                                   const std::string& service_pack);

// The uninstall keys the software scan reads, in order: the machine key
// (its 64-bit and 32-bit views on 64-bit Windows), then the current user's
// key. Only the machine key is required: without it the scan fails.
enum class UninstallRoot : std::uint8_t { machine, user };
enum class RegistryView : std::uint8_t { native, view64, view32 };
struct UninstallView {
    UninstallRoot root;
    RegistryView view;
    bool operator==(const UninstallView& o) const { return root == o.root && view == o.view; }
};
std::vector<UninstallView> uninstall_views(bool has_two_views);

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
    // Also the product type, where the system reports it.
    virtual void probe_version(HardwareReport& r) = 0;
    // One session of the management service: the enclosure's asset tag and
    // serial number, and the system's manufacturer, model and BIOS serial
    // number. Every wait is bounded.
    virtual void probe_enclosure(std::string& asset_tag, std::string& serial_number, SystemFacts& facts) = 0;
    // Processor brand string, Windows edition and display version.
    virtual void probe_facts(SystemFacts& facts) = 0;
    virtual void probe_computer_name(HardwareReport& r) = 0;
    virtual void probe_user_name(HardwareReport& r) = 0;
    // Speed in Mhz and Up Time; up_time_kept is the last up time of the run,
    // which the probe updates.
    virtual void probe_clock(HardwareReport& r, std::uint32_t& up_time_kept) = 0;
    virtual void probe_display(HardwareReport& r) = 0;
};

// What one pass sends besides the software list.
struct ProbeResults {
    HardwareReport hardware;
    bool send_id = false;  // NT family from version 4 on
    IdPacket id{};
    SystemFacts facts;
};

// Runs the probes in their fixed order on a cleared report. The enclosure
// probe runs on the NT family from version 4 on and gives the ID packet
// (same MAC Address), which the pass sends after the hardware packet so that
// the server already has the computer's record.
inline void run_probes(HardwareProbes& probes, ProbeResults& out, std::uint32_t& up_time_kept) {
    HardwareReport& r = out.hardware;
    probes.probe_mac(r.mac);
    probes.probe_processor(r);
    probes.probe_drives(r);
    probes.probe_memory(r);
    probes.probe_version(r);
    if (reports_enclosure(r.windows_platform, r.windows_major)) {
        std::string asset_tag, serial_number;
        probes.probe_enclosure(asset_tag, serial_number, out.facts);
        out.id = encode_id_packet(r.mac, asset_tag, serial_number);
        out.send_id = true;
    }
    probes.probe_facts(out.facts);
    probes.probe_computer_name(r);
    probes.probe_user_name(r);
    probes.probe_clock(r, up_time_kept);
    r.up_time = up_time_kept;
    probes.probe_display(r);
}

}  // namespace tally::client
