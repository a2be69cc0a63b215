// Upkeep of the store's MAC indexes.
#include "server/store/store_index.h"

#include <algorithm>

#include "protocol/bytes.h"
#include "server/store/records.h"

namespace tally {

void StoreIndex::build(const std::uint8_t* hardware, std::uint32_t records, const std::uint8_t* software,
                       std::uint32_t entries) {
    record_by_mac_.clear();
    free_records_.clear();
    entries_by_mac_.clear();
    free_entry_word_ = 0;
    for (std::uint32_t i = 0; i < records; ++i) {
        const std::uint64_t key = mac_key(hardware + std::size_t(i) * hw_record::size + hw_record::mac.offset);
        if (key == 0)
            free_records_.insert(free_records_.end(), i);
        else
            record_by_mac_.emplace(key, i);
    }
    free_entry_bits_.assign(entries / 64 + 1, 0);
    // A computer's entries mostly lie side by side: look its list up once per run.
    std::uint64_t last_key = 0;
    std::vector<std::uint32_t>* list = nullptr;
    for (std::uint32_t k = 0; k < entries; ++k) {
        const std::uint64_t key = mac_key(software + std::size_t(k) * sw_entry::size + sw_entry::mac.offset);
        if (key == 0) {
            free_entry_bits_[k / 64] |= std::uint64_t(1) << (k % 64);
            continue;
        }
        if (key != last_key || !list) {
            list = &entries_by_mac_[key];
            last_key = key;
        }
        list->push_back(k);
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
                                const std::uint8_t* hardware, std::uint32_t records) {
    if (old_key == new_key) return;
    if (old_key == 0) {
        free_records_.erase(i);
    } else {
        auto it = record_by_mac_.find(old_key);
        if (it != record_by_mac_.end() && it->second == i) {
            record_by_mac_.erase(it);
            // Another record may carry the same MAC (a file written elsewhere).
            for (std::uint32_t j = i + 1; j < records; ++j)
                if (mac_key(hardware + std::size_t(j) * hw_record::size + hw_record::mac.offset) == old_key) {
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

void StoreIndex::entry_changed(std::uint32_t k, std::uint64_t old_key, std::uint64_t new_key) {
    if (old_key == new_key) return;
    if (old_key != 0) {
        auto it = entries_by_mac_.find(old_key);
        if (it != entries_by_mac_.end()) {
            auto& list = it->second;
            auto pos = std::find(list.begin(), list.end(), k);
            if (pos != list.end()) {
                *pos = list.back();
                list.pop_back();
            }
        }
    }
    entry_added(k, new_key);
}

void StoreIndex::entry_added(std::uint32_t k, std::uint64_t key) {
    if (key != 0) entries_by_mac_[key].push_back(k);
    set_free_bit(k, key == 0);
}

std::size_t StoreIndex::count_of(std::uint64_t key) const {
    auto it = entries_by_mac_.find(key);
    return it == entries_by_mac_.end() ? 0 : it->second.size();
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
    list = it->second;
    std::sort(list.begin(), list.end());
    return list;
}

std::vector<std::uint32_t> StoreIndex::release(std::uint64_t key) {
    if (key == 0) return entries_of(0);
    auto it = entries_by_mac_.find(key);
    if (it == entries_by_mac_.end()) return {};
    std::vector<std::uint32_t> list = std::move(it->second);
    entries_by_mac_.erase(it);
    std::sort(list.begin(), list.end());
    for (std::uint32_t k : list) set_free_bit(k, true);
    return list;
}

}  // namespace tally
