// Change events from two snapshots of a computer, and of the user's edits.
#include "server/store/change_events.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

#include "protocol/ipv4.h"

namespace tally {

namespace {

std::string number_text(const char* format, unsigned long long value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Adds one event of the kind, what changed from the old value to the new.
void add_event(std::vector<ChangeEvent>& out, ChangeKind kind, const std::string& what, const std::string& old_value,
               const std::string& new_value) {
    ChangeEvent e;
    e.kind = kind;
    e.what = what;
    e.old_value = old_value;
    e.new_value = new_value;
    out.push_back(std::move(e));
}

// Adds an event when the texts differ.
void compare(std::vector<ChangeEvent>& out, ChangeKind kind, const char* what, const std::string& old_value,
             const std::string& new_value) {
    if (old_value != new_value) add_event(out, kind, what, old_value, new_value);
}

std::string processor_text(const RecordView& r) {
    return r.cpuid_response() + number_text(" %llX", r.cpuid_code());
}

std::string product_type_text(std::uint8_t type) {
    switch (type) {
        case 1: return "Workstation";
        case 2: return "Domain Controller";
        case 3: return "Server";
        default: return number_text("%llu", type);
    }
}

// Total size in MB of each fixed disk, by drive letter.
std::map<char, std::uint64_t> fixed_disks(const RecordView& r) {
    std::map<char, std::uint64_t> disks;
    for (int k = 0; k < 26; ++k) {
        const std::uint8_t letter = r.drive_letter(k);
        if (letter == 0 || r.drive_type(k) != drive_fixed) continue;
        disks[static_cast<char>(std::toupper(letter))] = r.total_disk_space(k) >> 20;
    }
    return disks;
}

void compare_disks(std::vector<ChangeEvent>& out, const RecordView& b, const RecordView& a) {
    const auto before = fixed_disks(b), after = fixed_disks(a);
    auto text = [](const std::map<char, std::uint64_t>& disks, char letter) {
        auto it = disks.find(letter);
        return it == disks.end() ? std::string() : number_text("%llu MB", it->second);
    };
    std::string letters;
    for (const auto& d : before) letters += d.first;
    for (const auto& d : after)
        if (!before.count(d.first)) letters += d.first;
    std::sort(letters.begin(), letters.end());
    for (char letter : letters) {
        const std::string what = std::string("Disk ") + letter + ":";
        compare(out, ChangeKind::hardware, what.c_str(), text(before, letter), text(after, letter));
    }
}

void compare_records(std::vector<ChangeEvent>& out, const RecordView& b, const RecordView& a) {
    compare(out, ChangeKind::identity, "Computer Name", b.computer_name(), a.computer_name());
    // A report made while nobody is logged on names no user: no change.
    if (!a.last_user().empty()) compare(out, ChangeKind::identity, "User", b.last_user(), a.last_user());
    compare(out, ChangeKind::identity, "IP Address", format_ipv4(b.ip_address()), format_ipv4(a.ip_address()));
    compare(out, ChangeKind::identity, "Serial Number", real_serial(b.serial_number()), real_serial(a.serial_number()));
    compare(out, ChangeKind::identity, "Asset Tag", b.asset_tag(), a.asset_tag());
    compare(out, ChangeKind::hardware, "Memory", number_text("%llu MB", b.ram_mb()), number_text("%llu MB", a.ram_mb()));
    compare(out, ChangeKind::hardware, "Page File", number_text("%llu MB", b.pagefile_mb()),
            number_text("%llu MB", a.pagefile_mb()));
    compare_disks(out, b, a);
    auto version = [](const RecordView& r) {
        char text[40];
        std::snprintf(text, sizeof text, "%u.%u (platform %u)", r.windows_major(), r.windows_minor(),
                      static_cast<unsigned>(r.windows_platform()));
        return std::string(text);
    };
    compare(out, ChangeKind::windows, "Windows Version", version(b), version(a));
    compare(out, ChangeKind::windows, "Windows Build", number_text("%llu", b.windows_build()),
            number_text("%llu", a.windows_build()));
}

// The extension facts count only when both reports had them: a computer
// whose client was upgraded gains them without a change.
void compare_extensions(std::vector<ChangeEvent>& out, const ComputerSnapshot& before, const ComputerSnapshot& after,
                        const RecordView& b, const RecordView& a) {
    const std::uint8_t tb = before.extension.product_type, ta = after.extension.product_type;
    if (before.has_extension && after.has_extension && tb != 0 && ta != 0)
        compare(out, ChangeKind::windows, "Product Type", product_type_text(tb), product_type_text(ta));
    const bool facts = before.has_extension && after.has_extension && before.extension.last_update != 0 &&
                       after.extension.last_update != 0;
    if (!facts) {
        compare(out, ChangeKind::hardware, "Processor", processor_text(b), processor_text(a));
        return;
    }
    const SystemFacts& fb = before.extension.facts;
    const SystemFacts& fa = after.extension.facts;
    compare(out, ChangeKind::hardware, "Processor", fb.processor_name, fa.processor_name);
    compare(out, ChangeKind::hardware, "Manufacturer", fb.manufacturer, fa.manufacturer);
    compare(out, ChangeKind::hardware, "Model", fb.model, fa.model);
    compare(out, ChangeKind::identity, "BIOS Serial Number", real_serial(fb.bios_serial), real_serial(fa.bios_serial));
    compare(out, ChangeKind::windows, "Edition", fb.windows_edition, fa.windows_edition);
    compare(out, ChangeKind::windows, "Display Version", fb.display_version, fa.display_version);
}

using Versions = std::map<std::string, std::vector<std::string>>;

// Each program's versions, sorted, each once: a program listed twice with
// the same name and version counts once.
Versions versions_by_name(const std::vector<std::pair<std::string, std::string>>& programs) {
    Versions v;
    for (const auto& p : programs) v[p.first].push_back(p.second);
    for (auto& e : v) {
        std::sort(e.second.begin(), e.second.end());
        e.second.erase(std::unique(e.second.begin(), e.second.end()), e.second.end());
    }
    return v;
}

// Versions of one name that went and came pair up as updates (old -> new),
// in sorted order; the rest are removals and additions.
void compare_versions(std::vector<ChangeEvent>& out, const std::string& name, const std::vector<std::string>& b,
                      const std::vector<std::string>& a) {
    std::vector<std::string> gone, came;
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(gone));
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(came));
    const std::size_t pairs = std::min(gone.size(), came.size());
    for (std::size_t k = 0; k < pairs; ++k) add_event(out, ChangeKind::program_updated, name, gone[k], came[k]);
    for (std::size_t k = pairs; k < gone.size(); ++k) add_event(out, ChangeKind::program_removed, name, gone[k], "");
    for (std::size_t k = pairs; k < came.size(); ++k) add_event(out, ChangeKind::program_added, name, "", came[k]);
}

void compare_programs(std::vector<ChangeEvent>& out, const ComputerSnapshot& before, const ComputerSnapshot& after) {
    const Versions b = versions_by_name(before.programs), a = versions_by_name(after.programs);
    static const std::vector<std::string> none;
    auto ib = b.begin(), ia = a.begin();
    while (ib != b.end() || ia != a.end()) {
        if (ia == a.end() || (ib != b.end() && ib->first < ia->first)) {
            compare_versions(out, ib->first, ib->second, none);
            ++ib;
        } else if (ib == b.end() || ia->first < ib->first) {
            compare_versions(out, ia->first, none, ia->second);
            ++ia;
        } else {
            compare_versions(out, ib->first, ib->second, ia->second);
            ++ib;
            ++ia;
        }
    }
}

}  // namespace

const char* change_kind_text(ChangeKind kind) {
    switch (kind) {
        case ChangeKind::first_seen: return "First seen";
        case ChangeKind::program_added: return "Program added";
        case ChangeKind::program_removed: return "Program removed";
        case ChangeKind::program_updated: return "Program updated";
        case ChangeKind::hardware: return "Hardware";
        case ChangeKind::windows: return "Windows";
        case ChangeKind::identity: return "Identity";
        case ChangeKind::user_action: return "User action";
        case ChangeKind::history_purged: return "History purged";
    }
    return "";
}

std::string real_serial(const std::string& serial) {
    std::size_t b = 0, e = serial.size();
    while (b < e && std::isspace(static_cast<unsigned char>(serial[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(serial[e - 1]))) --e;
    std::string t = serial.substr(b, e - b);
    if (t.find_first_not_of("0 ") == std::string::npos) return std::string();
    std::string lower = t;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const char* const placeholders[] = {"to be filled by o.e.m.", "default string", "system serial number",
                                               "not specified", "none"};
    for (const char* p : placeholders)
        if (lower == p) return std::string();
    return serial;
}

ComputerSnapshot take_snapshot(const Store& store, const std::uint8_t* mac) {
    ComputerSnapshot s;
    const auto found = store.find_record(mac);
    if (!found || !store.holds_computer(*found)) return s;
    s.present = true;
    std::memcpy(s.record.data(), store.record(*found).bytes(), hw_record::size);
    s.has_extension = store.extension(*found, s.extension);
    for (std::size_t offset : store.entry_offsets_of(mac)) {
        const EntryView e = store.entry(offset);
        s.programs.emplace_back(e.display_name(), e.display_version());
    }
    return s;
}

std::vector<ChangeEvent> compute_changes(const ComputerSnapshot& before, const ComputerSnapshot& after) {
    std::vector<ChangeEvent> out;
    if (!after.present) return out;
    const RecordView a(after.record.data());
    if (!before.present) {
        ChangeEvent e;
        e.kind = ChangeKind::first_seen;
        e.what = "First report";
        out.push_back(std::move(e));
    } else {
        const RecordView b(before.record.data());
        compare_records(out, b, a);
        compare_extensions(out, before, after, b, a);
        compare_programs(out, before, after);
    }
    for (ChangeEvent& e : out) {
        std::memcpy(e.mac.data(), a.mac(), 6);
        e.computer = a.computer_name();
    }
    return out;
}

std::vector<ChangeEvent> custom_field_changes(const std::uint8_t* before, const std::uint8_t* after) {
    const RecordView b(before), a(after);
    std::vector<ChangeEvent> out;
    compare(out, ChangeKind::user_action, "Custom Field 1", b.custom_field_1(), a.custom_field_1());
    compare(out, ChangeKind::user_action, "Custom Field 2", b.custom_field_2(), a.custom_field_2());
    compare(out, ChangeKind::user_action, "Serial Number", real_serial(b.serial_number()), real_serial(a.serial_number()));
    compare(out, ChangeKind::user_action, "Asset Tag", b.asset_tag(), a.asset_tag());
    for (ChangeEvent& e : out) {
        std::memcpy(e.mac.data(), a.mac(), 6);
        e.computer = a.computer_name();
    }
    return out;
}

ChangeEvent deletion_event(const std::uint8_t* record, const std::string& command) {
    const RecordView r(record);
    ChangeEvent e;
    e.kind = ChangeKind::user_action;
    std::memcpy(e.mac.data(), r.mac(), 6);
    e.computer = r.computer_name();
    e.what = "Computer deleted";
    e.new_value = command;
    return e;
}

}  // namespace tally
