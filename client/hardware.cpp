// Portable arithmetic and choices of the hardware probes.
#include "client/hardware.h"

#include <algorithm>

namespace tally::client {

bool address_usable(const std::vector<std::uint8_t>& a, bool is_octets) {
    if (!is_octets || a.size() < 6) return false;
    static const std::uint8_t dial_up[5] = {'D', 'E', 'S', 'T', 0};
    if (std::equal(dial_up, dial_up + 5, a.begin())) return false;
    return std::any_of(a.begin(), a.begin() + 6, [](std::uint8_t b) { return b != 0; });
}

bool adapter_row_usable(const AdapterRow& row) {
    return row.type == ethernet_interface_type && address_usable(row.address, row.address_is_octets);
}

namespace {

// Class of a row: 0 best; -1 never chosen.
int adapter_class(const AdapterRow& row) {
    const bool hardware = row.kind != AdapterKind::virtual_;
    if (row.type == ethernet_interface_type) return hardware ? 0 : 2;
    if (row.type == wireless_interface_type) return hardware ? 1 : 3;
    return -1;
}

// The address a row gives: a wireless adapter's permanent one when usable.
const std::vector<std::uint8_t>* row_address(const AdapterRow& row) {
    if (row.type == wireless_interface_type && address_usable(row.permanent_address)) return &row.permanent_address;
    return address_usable(row.address, row.address_is_octets) ? &row.address : nullptr;
}

}  // namespace

bool choose_mac(const std::vector<AdapterRow>& rows, Mac& mac) {
    const std::vector<std::uint8_t>* best = nullptr;
    int best_class = 4;
    for (const AdapterRow& row : rows) {
        const int c = adapter_class(row);
        const std::vector<std::uint8_t>* address = c < 0 ? nullptr : row_address(row);
        if (!address || c > best_class) continue;
        best = address;  // the last row of the best class wins
        best_class = c;
    }
    if (!best) return false;
    std::copy_n(best->begin(), 6, mac.begin());
    return true;
}

void set_processor_fields(HardwareReport& r, const CpuidZero& f0, std::uint32_t f1_eax) {
    if (f0.eax == 0) return;
    r.cpuid_levels = static_cast<std::uint8_t>(f0.eax);
    char vendor[12];
    const std::uint32_t regs[3] = {f0.ebx, f0.edx, f0.ecx};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 4; ++k) vendor[4 * i + k] = static_cast<char>(regs[i] >> (8 * k));
    r.cpuid_vendor.assign(vendor, 12);
    if (r.cpuid_levels >= 1) r.cpuid_code = f1_eax;
}

std::vector<std::string> split_drive_strings(const char* buffer, std::size_t size) {
    std::vector<std::string> roots;
    std::size_t p = 0;
    while (p < size && buffer[p] != '\0' && roots.size() < static_cast<std::size_t>(drive_slots)) {
        std::size_t end = p;
        while (end < size && buffer[end] != '\0') ++end;
        roots.emplace_back(buffer + p, end - p);
        p = end + 1;
    }
    return roots;
}

bool compute_clock(std::uint64_t frequency, const ClockSample (&samples)[clock_sample_count], float& speed_mhz,
                   std::uint32_t& up_time) {
    if (frequency == 0) return false;
    std::uint64_t up_sum = 0;
    float mhz_sum = 0.0f;
    for (const ClockSample& s : samples) {
        if (s.c2 <= s.c1 || s.t2 <= s.t1) return false;
        long double rate = static_cast<long double>(s.t2 - s.t1) * static_cast<long double>(frequency) /
                           static_cast<long double>(s.c2 - s.c1);
        long double seconds = static_cast<long double>(s.t2) / rate;
        up_sum += static_cast<std::uint64_t>(seconds);
        mhz_sum += static_cast<float>(rate * 1e-6f);
    }
    up_time = static_cast<std::uint32_t>(up_sum) / 10u;
    speed_mhz = mhz_sum * 0.1f;
    return true;
}

std::uint32_t cap_bytes(std::uint64_t bytes) {
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bytes);
}

std::uint32_t mb_from_bytes_capped(std::uint64_t bytes) {
    const std::uint64_t mb = bytes / 1048576u + (bytes % 1048576u ? 1 : 0);
    return mb > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(mb);
}

std::string processor_brand(const std::uint32_t (&regs)[12]) {
    char text[49] = {0};
    for (int i = 0; i < 12; ++i)
        for (int k = 0; k < 4; ++k) text[4 * i + k] = static_cast<char>(regs[i] >> (8 * k));
    return trim_blanks(std::string(text));
}

std::string trim_blanks(const std::string& text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string choose_display_version(const std::string& display_version, const std::string& release_id,
                                   const std::string& service_pack) {
    for (const std::string* s : {&display_version, &release_id, &service_pack}) {
        std::string t = trim_blanks(*s);
        if (!t.empty()) return t;
    }
    return std::string();
}

std::vector<UninstallView> uninstall_views(bool has_two_views) {
    std::vector<UninstallView> views;
    if (has_two_views) {
        views.push_back({UninstallRoot::machine, RegistryView::view64});
        views.push_back({UninstallRoot::machine, RegistryView::view32});
    } else {
        views.push_back({UninstallRoot::machine, RegistryView::native});
    }
    // Programs installed for the user alone; the key is shared by both views.
    views.push_back({UninstallRoot::user, RegistryView::native});
    return views;
}

std::string low_bytes_of_utf16(const std::uint16_t* text, std::size_t units) {
    std::string out;
    for (std::size_t i = 0; i < units && text[i] != 0; ++i) out.push_back(static_cast<char>(text[i] & 0xFF));
    return out;
}

}  // namespace tally::client
