// Open reports of the computers, their settling, and the user's actions.
#include "server/intake/history_recorder.h"

namespace tally {

void HistoryRecorder::settle(std::uint64_t key, std::uint32_t now) {
    auto it = open_.find(key);
    if (it == open_.end()) return;
    Mac mac{};
    for (int k = 0; k < 6; ++k) mac[k] = static_cast<std::uint8_t>(key >> (8 * k));
    std::vector<ChangeEvent> events = compute_changes(it->second.before, take_snapshot(store_, mac.data()));
    open_.erase(it);
    // result not checked: unwritten events are tried again with the next ones
    if (!events.empty()) history_.append(std::move(events), now);
}

void HistoryRecorder::datagram_arriving(std::uint8_t type, const std::uint8_t* mac, std::uint32_t now) {
    if (!history_.is_open() || mac_is_zero(mac)) return;
    settle_quiet(now);
    const std::uint64_t key = mac_key(mac);
    auto it = open_.find(key);
    // The next hardware packet begins the computer's next report.
    if (it != open_.end() && type == packet_hardware && it->second.hardware_seen) {
        settle(key, now);
        it = open_.end();
    }
    if (it == open_.end()) {
        it = open_.emplace(key, OpenReport{}).first;
        it->second.before = take_snapshot(store_, mac);
    }
    it->second.last_datagram = now;
    if (type == packet_hardware) it->second.hardware_seen = true;
}

void HistoryRecorder::pass_applied(const std::uint8_t* mac, std::uint32_t now) { settle(mac_key(mac), now); }

void HistoryRecorder::settle_quiet(std::uint32_t now) {
    // At most one sweep a second: a storm's datagrams come much faster.
    if (now == last_sweep_ || open_.empty()) return;
    last_sweep_ = now;
    std::vector<std::uint64_t> quiet;
    for (const auto& o : open_) {
        const std::uint32_t t = o.second.last_datagram;
        if (std::uint64_t(t) + report_quiet_seconds <= now || std::uint64_t(now) + report_quiet_seconds <= t)
            quiet.push_back(o.first);
    }
    for (std::uint64_t key : quiet) settle(key, now);
}

void HistoryRecorder::settle_all(std::uint32_t now) {
    std::vector<std::uint64_t> keys;
    for (const auto& o : open_) keys.push_back(o.first);
    for (std::uint64_t key : keys) settle(key, now);
}

void HistoryRecorder::custom_fields_edited(const std::uint8_t* before, std::uint32_t i, std::uint32_t now) {
    if (!history_.is_open() || !store_.holds_computer(i)) return;
    std::vector<ChangeEvent> events = custom_field_changes(before, store_.record(i).bytes());
    // The edit is part of the "before" of an open report: it is no change of the report.
    auto it = open_.find(mac_key(store_.record(i).mac()));
    if (it != open_.end() && it->second.before.present)
        std::copy_n(store_.record(i).bytes(), hw_record::size, it->second.before.record.begin());
    if (!events.empty()) history_.append(std::move(events), now);
}

void HistoryRecorder::deleting(std::uint32_t i, const std::string& command, std::uint32_t now) {
    if (!history_.is_open() || !store_.holds_computer(i)) return;
    const RecordView r = store_.record(i);
    settle(mac_key(r.mac()), now);
    history_.append({deletion_event(r.bytes(), command)}, now);
}

}  // namespace tally
