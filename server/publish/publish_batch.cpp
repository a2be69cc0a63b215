// The publisher's items and batches.
#include "server/publish/publish_batch.h"

#include <utility>

namespace tally {
namespace {

std::size_t computer_rows(const PublishedComputer& c) {
    return c.snapshot.present ? 1 + c.snapshot.programs.size() : 1;
}

}  // namespace

std::size_t PublishItem::rows() const {
    switch (kind) {
        case Kind::computer: return computer_rows(computer);
        case Kind::events: return events.size();
        default: return 0;
    }
}

std::size_t PublishItem::units() const {
    switch (kind) {
        case Kind::computer: return 1;
        case Kind::events: return events.size();
        default: return 0;
    }
}

void PublishBatch::add(PublishItem item, std::uint64_t now_ms) {
    if (empty()) first_ms_ = now_ms;
    units_ += item.units();
    switch (item.kind) {
        case PublishItem::Kind::computer: {
            const std::uint64_t key = mac_key(item.computer.mac.data());
            const auto found = index_.find(key);
            if (found == index_.end()) {
                index_.emplace(key, computers_.size());
                rows_ += computer_rows(item.computer);
                computers_.push_back(std::move(item.computer));
            } else {
                PublishedComputer& held = computers_[found->second];
                rows_ = rows_ - computer_rows(held) + computer_rows(item.computer);
                held = std::move(item.computer);
            }
            break;
        }
        case PublishItem::Kind::events:
            rows_ += item.events.size();
            for (ChangeEvent& e : item.events) events_.push_back(std::move(e));
            break;
        case PublishItem::Kind::checkpoint: checkpoint_ = item.mark; break;
        case PublishItem::Kind::full_sync_begin: begin_token_ = std::move(item.token); break;
        case PublishItem::Kind::full_sync_end: end_ = item.mark; break;
    }
}

std::vector<std::string> PublishBatch::statements(const std::string& site, const std::string& token,
                                                  const MacSet& synced) const {
    std::vector<std::string> out;
    const auto append = [&out](std::vector<std::string> more) {
        for (std::string& s : more) out.push_back(std::move(s));
    };
    if (begin_token_) out.push_back(start_full_sync(site, *begin_token_));
    std::vector<Mac> deleted;
    std::vector<const PublishedComputer*> present;
    for (const PublishedComputer& c : computers_) {
        if (c.snapshot.present)
            present.push_back(&c);
        else
            deleted.push_back(c.mac);
    }
    if (!deleted.empty()) append(delete_computers(site, deleted));
    if (!present.empty()) {
        append(upsert_computers(site, present));
        append(replace_programs(site, present));
    }
    if (!events_.empty()) append(insert_events(site, events_));
    if (end_) out.push_back(remove_unsynced(site, synced));
    const std::optional<PublishMark>& mark = end_ ? end_ : checkpoint_;
    if (mark) out.push_back(note_sequence(site, begin_token_ ? *begin_token_ : token, mark->sequence));
    return out;
}

void PublishBatch::clear() {
    computers_.clear();
    index_.clear();
    events_.clear();
    begin_token_.reset();
    end_.reset();
    checkpoint_.reset();
    rows_ = units_ = 0;
    first_ms_ = 0;
}

}  // namespace tally
