// Upkeep of the store's MAC indexes.
#include "server/store/store_index.h"

#include <algorithm>
#include <new>

#include "protocol/bytes.h"
#include "server/store/records.h"

namespace tally {

void StoreIndex::build(const ChunkedTable& hardware, std::uint32_t records, const ChunkedTable& software,
                       std::uint32_t entries) {
    record_by_mac_.clear();
    free_records_.clear();
    entries_by_mac_.clear();
    free_entry_word_ = 0;
    record_by_mac_.reserve(records);
    for (std::uint32_t i = 0; i < records; ++i) {
        const std::uint64_t key = mac_key(hardware.item(i) + hw_record::mac.offset);
        if (key == 0)
            free_records_.insert(free_records_.end(), i);
        else
            record_by_mac_.emplace(key, i);
    }
    free_entry_bits_.assign(entries / 64 + 1, 0);
    next_entry_.assign(entries, no_entry);
    entries_by_mac_.reserve(record_by_mac_.size());
    // A computer's entries mostly lie side by side: look its list up once
    // per run. Entries come in ascending order, so each goes at its list's end.
    std::uint64_t last_key = 0;
    EntryList* list = nullptr;
    for (std::uint32_t k = 0; k < entries; ++k) {
        const std::uint64_t key = mac_key(software.item(k) + sw_entry::mac.offset);
        if (key == 0) {
            free_entry_bits_[k / 64] |= std::uint64_t(1) << (k % 64);
            continue;
        }
        if (key != last_key || !list) {
            list = &entries_by_mac_.try_emplace(key, EntryList{no_entry, no_entry, 0}).first->second;
            last_key = key;
        }
        if (list->count == 0)
            list->first = k;
        else
            next_entry_[list->last] = k;
        list->last = k;
        ++list->count;
    }
}

std::optional<std::uint32_t> StoreIndex::find_record(std::uint64_t key) const {
    if (key != 0) {
        auto it = record_by_mac_.find(key);
        if (it != record_by_mac_.end()) return it->second;
    }
    if (free_records_.empty()) return std::nullopt;
    return *free_records_.begin();
}

void StoreIndex::record_changed(std::uint32_t i, std::uint64_t old_key, std::uint64_t new_key,
                                const ChunkedTable& hardware, std::uint32_t records) {
    if (old_key == new_key) return;
    if (old_key == 0) {
        free_records_.erase(i);
    } else {
        auto it = record_by_mac_.find(old_key);
        if (it != record_by_mac_.end() && it->second == i) {
            record_by_mac_.erase(it);
            // Another record may carry the same MAC (a file written elsewhere).
            for (std::uint32_t j = i + 1; j < records; ++j)
                if (mac_key(hardware.item(j) + hw_record::mac.offset) == old_key) {
                    record_by_mac_.emplace(old_key, j);
                    break;
                }
        }
    }
    record_added(i, new_key);
}

void StoreIndex::record_added(std::uint32_t i, std::uint64_t key) {
    if (key == 0) {
        free_records_.insert(i);
        return;
    }
    auto it = record_by_mac_.find(key);
    if (it == record_by_mac_.end())
        record_by_mac_.emplace(key, i);
    else if (it->second > i)
        it->second = i;
}

void StoreIndex::set_free_bit(std::uint32_t k, bool free) {
    const std::size_t word = k / 64;
    if (word >= free_entry_bits_.size()) free_entry_bits_.resize(word + 1, 0);
    const std::uint64_t bit = std::uint64_t(1) << (k % 64);
    if (free) {
        free_entry_bits_[word] |= bit;
        free_entry_word_ = std::min(free_entry_word_, word);
    } else {
        free_entry_bits_[word] &= ~bit;
    }
}

std::optional<std::uint32_t> StoreIndex::first_free_entry() {
    for (std::size_t w = free_entry_word_; w < free_entry_bits_.size(); ++w) {
        if (free_entry_bits_[w] == 0) continue;
        free_entry_word_ = w;
        return static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(free_entry_bits_[w])));
    }
    free_entry_word_ = free_entry_bits_.size();
    return std::nullopt;
}

bool StoreIndex::room_for_entry(std::uint32_t k) {
    try {
        if (k >= next_entry_.size()) next_entry_.resize(std::size_t(k) + 1, no_entry);
        if (k / 64 >= free_entry_bits_.size()) free_entry_bits_.resize(k / 64 + 1, 0);
        entries_by_mac_.reserve(entries_by_mac_.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void StoreIndex::link_entry(EntryList& list, std::uint32_t k) {
    if (k >= next_entry_.size()) next_entry_.resize(std::size_t(k) + 1, no_entry);
    ++list.count;
    if (list.count == 1 || k > list.last) {
        // The common case: a new entry lies beyond the computer's others.
        next_entry_[k] = no_entry;
        if (list.count == 1)
            list.first = k;
        else
            next_entry_[list.last] = k;
        list.last = k;
        return;
    }
    if (k < list.first) {
        next_entry_[k] = list.first;
        list.first = k;
        return;
    }
    std::uint32_t p = list.first;
    while (next_entry_[p] < k) p = next_entry_[p];
    next_entry_[k] = next_entry_[p];
    next_entry_[p] = k;
}

void StoreIndex::unlink_entry(std::uint64_t key, std::uint32_t k) {
    auto it = entries_by_mac_.find(key);
    if (it == entries_by_mac_.end()) return;
    EntryList& list = it->second;
    if (list.first == k) {
        list.first = next_entry_[k];
    } else {
        std::uint32_t p = list.first;
        while (p != no_entry && next_entry_[p] != k) p = next_entry_[p];
        if (p == no_entry) return;
        next_entry_[p] = next_entry_[k];
        if (list.last == k) list.last = p;
    }
    next_entry_[k] = no_entry;
    if (--list.count == 0) entries_by_mac_.erase(it);
}

void StoreIndex::entry_changed(std::uint32_t k, std::uint64_t old_key, std::uint64_t new_key) {
    if (old_key == new_key) return;
    if (old_key != 0) unlink_entry(old_key, k);
    entry_added(k, new_key);
}

void StoreIndex::entry_added(std::uint32_t k, std::uint64_t key) {
    if (key != 0) link_entry(entries_by_mac_.try_emplace(key, EntryList{no_entry, no_entry, 0}).first->second, k);
    set_free_bit(k, key == 0);
}

std::size_t StoreIndex::count_of(std::uint64_t key) const {
    auto it = entries_by_mac_.find(key);
    return it == entries_by_mac_.end() ? 0 : it->second.count;
}

std::vector<std::uint32_t> StoreIndex::entries_of(std::uint64_t key) const {
    std::vector<std::uint32_t> list;
    if (key == 0) {
        for (std::size_t w = 0; w < free_entry_bits_.size(); ++w)
            for (std::uint64_t bits = free_entry_bits_[w]; bits != 0; bits &= bits - 1)
                list.push_back(static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))));
        return list;
    }
    auto it = entries_by_mac_.find(key);
    if (it == entries_by_mac_.end()) return list;
    list.reserve(it->second.count);
    for (std::uint32_t k = it->second.first; k != no_entry; k = next_entry_[k]) list.push_back(k);
    return list;
}

std::vector<std::uint32_t> StoreIndex::release(std::uint64_t key) {
    if (key == 0) return entries_of(0);
    std::vector<std::uint32_t> list = entries_of(key);
    if (list.empty()) return list;
    entries_by_mac_.erase(key);
    for (std::uint32_t k : list) {
        next_entry_[k] = no_entry;
        set_free_bit(k, true);
    }
    return list;
}

}  // namespace tally
