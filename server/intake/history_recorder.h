// When a computer's report is settled, and what it changed: the store as it
// was before the report's first datagram is kept (only while the report is
// open) and compared with the store once the report is settled. A report
// is settled when its pass is applied, or, for a client that sends no pass
// manifest, when no datagram of the computer has come for 30 s or its next
// hardware packet arrives. The user's edits and deletions are recorded too.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/store/change_events.h"
#include "server/store/history_file.h"
#include "server/intake/intake.h"
#include "server/store/store.h"

namespace tally {

constexpr std::uint32_t report_quiet_seconds = 30;

class HistoryRecorder : public IntakeObserver {
public:
    HistoryRecorder(const Store& store, History& history) : store_(store), history_(history) {}

    // Before a datagram of the computer is filed.
    void datagram_arriving(std::uint8_t type, const std::uint8_t* mac, std::uint32_t now) override;
    // A pass of the computer was applied whole: its report is settled.
    void pass_applied(const std::uint8_t* mac, std::uint32_t now) override;
    // Settles the reports without a datagram for 30 s (or whose time lies
    // ahead of now by as much: the clock was put back).
    void settle_quiet(std::uint32_t now);
    // Settles every open report (the server closes, or the tables are loaded afresh).
    void settle_all(std::uint32_t now);
    // Forgets the open reports without settling them (another store was opened).
    void forget_all() { open_.clear(); }
    std::size_t open_reports() const { return open_.size(); }

    // The user stored the custom fields of record i: `before` is the record
    // as it was.
    void custom_fields_edited(const std::uint8_t* before, std::uint32_t i, std::uint32_t now);
    // The user is about to delete record i with `command`: its open report
    // is settled, then the deletion recorded.
    void deleting(std::uint32_t i, const std::string& command, std::uint32_t now);

private:
    struct OpenReport {
        ComputerSnapshot before;
        std::uint32_t last_datagram = 0;
        bool hardware_seen = false;
    };
    void settle(std::uint64_t key, std::uint32_t now);

    const Store& store_;
    History& history_;
    std::unordered_map<std::uint64_t, OpenReport> open_;
    std::uint32_t last_sweep_ = 0;
};

}  // namespace tally
