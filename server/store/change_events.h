// Change events: what a computer's settled report changed against what the
// store held before it (programs added, removed and updated, hardware,
// Windows and identity fields), and what the user did to a record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "server/store/extension_file.h"
#include "server/store/records.h"
#include "server/store/store.h"

namespace tally {

enum class ChangeKind : std::uint8_t {
    first_seen = 1,
    program_added,
    program_removed,
    program_updated,
    hardware,
    windows,
    identity,
    user_action,
    history_purged,
};
constexpr std::uint8_t change_kind_last = static_cast<std::uint8_t>(ChangeKind::history_purged);

// The kind as the views show it: "First seen", "Program added", ...
const char* change_kind_text(ChangeKind kind);

struct ChangeEvent {
    std::uint64_t sequence = 0;  // given when the event is stored
    std::uint32_t time = 0;      // server time, seconds since 1970
    Mac mac{};
    ChangeKind kind = ChangeKind::hardware;
    std::string computer;  // the computer's name when the event was made
    std::string what;      // the program or the field
    std::string old_value;
    std::string new_value;
    bool operator==(const ChangeEvent& o) const {
        return sequence == o.sequence && time == o.time && mac == o.mac && kind == o.kind &&
               computer == o.computer && what == o.what && old_value == o.old_value && new_value == o.new_value;
    }
};

// What the store holds of one computer: its hardware record, its extension
// record, and its programs (name and version) in table order.
struct ComputerSnapshot {
    bool present = false;
    std::array<std::uint8_t, hw_record::size> record{};
    ExtensionRecord extension;
    bool has_extension = false;
    std::vector<std::pair<std::string, std::string>> programs;
};
ComputerSnapshot take_snapshot(const Store& store, const std::uint8_t* mac);

// The events from `before` to `after` (time and sequence left 0): one
// "first seen" for a computer new to the store; nothing when it is gone.
std::vector<ChangeEvent> compute_changes(const ComputerSnapshot& before, const ComputerSnapshot& after);

// Events for the user's edit of record `before` into `after` (the custom
// fields, serial number and asset tag), one per changed field.
std::vector<ChangeEvent> custom_field_changes(const std::uint8_t* before, const std::uint8_t* after);
// The event of a deletion of the record by `command`.
ChangeEvent deletion_event(const std::uint8_t* record, const std::string& command);

// A serial number as it counts: empty for the placeholders firmware ships
// ("0", "To be filled by O.E.M.", "Default string", "System Serial Number",
// "Not Specified", "None", blanks or zeros only), otherwise the text.
std::string real_serial(const std::string& serial);

}  // namespace tally
