// What the window's thread hands the database worker (items), and the batch
// the worker gathers them into: one transaction of a few hundred rows, or
// what came in a second, whichever is first. A computer is in a batch once,
// in its latest state, so a deletion after an upsert of the same MAC
// deletes, and a report after a deletion stores the computer again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "server/publish/statements.h"

namespace tally {

// A point up to which everything is handed: every event up to `sequence`,
// every change of the store made before `time` (seconds since 1970).
struct PublishMark {
    std::uint64_t sequence = 0;
    std::uint32_t time = 0;
    bool operator==(const PublishMark& o) const { return sequence == o.sequence && time == o.time; }
};

struct PublishItem {
    enum class Kind : std::uint8_t {
        computer,         // `computer`: its state now (deleted when not present)
        events,           // `events`, ascending sequence
        checkpoint,       // `mark`: everything before it is handed
        full_sync_begin,  // `token`: a full sync under this new token starts
        full_sync_end,    // `mark`: every computer of the store was handed since the begin
    };
    Kind kind = Kind::computer;
    PublishedComputer computer;
    std::vector<ChangeEvent> events;
    PublishMark mark;
    std::string token;

    // Database rows it writes: a computer one and one per program (a deleted
    // one: one), an event one; the markers none.
    std::size_t rows() const;
    // What it counts in "Awaiting Publish": a computer one, an event one.
    std::size_t units() const;
};

struct BatchLimits {
    std::size_t rows = 500;
    std::uint32_t age_ms = 1000;
};

class PublishBatch {
public:
    explicit PublishBatch(BatchLimits limits = {}) : limits_(limits) {}

    // Takes the item, at `now_ms` (a steady clock in milliseconds).
    void add(PublishItem item, std::uint64_t now_ms);
    bool empty() const { return units_ == 0 && !begin_token_ && !end_ && !checkpoint_; }
    // Takes no more items: the row limit is reached, or a full sync ends in it
    // (its last transaction removes what the sync did not meet).
    bool full() const { return rows_ >= limits_.rows || end_.has_value(); }
    // To be written now: full, or its first item is as old as the age limit.
    bool ready(std::uint64_t now_ms) const { return !empty() && (full() || now_ms >= first_ms_ + limits_.age_ms); }
    // When it becomes ready by age.
    std::uint64_t due_ms() const { return first_ms_ + limits_.age_ms; }
    std::size_t rows() const { return rows_; }
    // The units of every item taken (a computer taken twice counts twice):
    // what its commit takes off "Awaiting Publish".
    std::size_t units() const { return units_; }

    const std::optional<std::string>& begin_token() const { return begin_token_; }
    const std::optional<PublishMark>& end() const { return end_; }
    const std::optional<PublishMark>& checkpoint() const { return checkpoint_; }

    // The statements of its transaction for the site: the new token of a
    // full sync first, deletions, upserts of computers, their programs, the
    // events; at the end of a full sync the removal of every computer not
    // in `synced` (MAC keys). `token` is the token the database holds (the
    // sites row's sequence is noted only under it).
    std::vector<std::string> statements(const std::string& site, const std::string& token,
                                        const MacSet& synced) const;
    void clear();

private:
    BatchLimits limits_;
    std::vector<PublishedComputer> computers_;  // one per MAC, in order of first arrival
    std::unordered_map<std::uint64_t, std::size_t, MacHash> index_;
    std::vector<ChangeEvent> events_;
    std::optional<std::string> begin_token_;
    std::optional<PublishMark> end_, checkpoint_;
    std::size_t rows_ = 0, units_ = 0;
    std::uint64_t first_ms_ = 0;
};

}  // namespace tally
