// Lookups of the audit store by MAC, kept in step with the tables: the lowest
// record of each MAC, the free records, each computer's software entries and
// the free entries. They give what a scan from the start of each table would
// give, so that a report is filed in well under a millisecond even with
// 10,000 computers of 100 programs each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "server/store/block_list.h"
#include "server/store/mac_hash.h"
#include "server/store/table.h"

namespace tally {

class StoreIndex {
public:
    // Indexes `records` hardware records and `entries` software entries, in
    // one pass over each table.
    void build(const ChunkedTable& hardware, std::uint32_t records, const ChunkedTable& software,
               std::uint32_t entries);

    // --- hardware records (key: the MAC as a number, 0 for a free record)
    // The lowest record of a non-zero key, else the lowest free record.
    std::optional<std::uint32_t> find_record(std::uint64_t key) const;
    // Record i changed its key; `hardware` holds `records` records, searched
    // for another record of the old key.
    void record_changed(std::uint32_t i, std::uint64_t old_key, std::uint64_t new_key, const ChunkedTable& hardware,
                        std::uint32_t records);
    // Record i, the new last one, was counted.
    void record_added(std::uint32_t i, std::uint64_t key);

    // --- software entries (by entry number)
    // The lowest free entry, if any.
    std::optional<std::uint32_t> first_free_entry();
    void entry_changed(std::uint32_t k, std::uint64_t old_key, std::uint64_t new_key);
    // Entry k, the new last one, was counted.
    void entry_added(std::uint32_t k, std::uint64_t key);
    // Makes room in the index for entry k, the new last one, so that
    // counting it cannot run out of memory half way. False when memory ran out.
    bool room_for_entry(std::uint32_t k);
    // How many entries a non-zero key has.
    std::size_t count_of(std::uint64_t key) const;
    // The entries of a key in ascending order; for key 0, the free entries.
    std::vector<std::uint32_t> entries_of(std::uint64_t key) const;
    // Hands each entry of a non-zero key to visit(k), in ascending order,
    // without making a list.
    template <typename Visit>
    void for_each_entry(std::uint64_t key, Visit visit) const {
        const auto it = entries_by_mac_.find(key);
        if (it == entries_by_mac_.end()) return;
        for (std::uint32_t k = it->second.first; k != no_entry; k = next_entry_[k]) visit(k);
    }
    // The entries of a non-zero key in ascending order, now counted free; for
    // key 0, the free entries.
    std::vector<std::uint32_t> release(std::uint64_t key);

private:
    static constexpr std::uint32_t no_entry = UINT32_MAX;
    // A non-zero MAC's entries: a list through next_entry_ in ascending order.
    struct EntryList {
        std::uint32_t first;
        std::uint32_t last;
        std::uint32_t count;
    };
    void set_free_bit(std::uint32_t k, bool free);
    void link_entry(EntryList& list, std::uint32_t k);
    void unlink_entry(std::uint64_t key, std::uint32_t k);

    std::unordered_map<std::uint64_t, std::uint32_t, MacHash> record_by_mac_;  // lowest record of each non-zero MAC
    std::set<std::uint32_t> free_records_;
    std::unordered_map<std::uint64_t, EntryList, MacHash> entries_by_mac_;  // non-zero MACs
    // Entry k: the next entry of its MAC, else no_entry. In blocks of 64 Ki
    // entries: a new entry past the end does not copy ten million others.
    BlockList<std::uint32_t, 16> next_entry_;
    std::vector<std::uint64_t> free_entry_bits_;  // bit k: entry k is free
    std::size_t free_entry_word_ = 0;             // no free entry lies below word free_entry_word_
};

}  // namespace tally
