// The flat name index: probing, growth and removal that closes the gap.
#include "server/model/name_index.h"

#include <cstring>

#include "server/store/mac_hash.h"

namespace tally {

std::uint32_t name_hash(std::string_view text) {
    // Eight bytes a step, each step a multiply and a shift that carry every
    // bit of the word into every bit of the state; the seed starts the state.
    static const std::uint64_t seed = mac_hash_seed();
    std::uint64_t h = seed ^ (text.size() * 0x9e3779b97f4a7c15ull);
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + at, 8);
        h = (h ^ word) * 0xff51afd7ed558ccdull;
        h ^= h >> 32;
    }
    std::uint64_t tail = 0;
    if (at < text.size()) std::memcpy(&tail, text.data() + at, text.size() - at);
    return mix_mac_key32(h ^ tail, seed);
}

void NameIndex::insert(std::uint32_t hash, std::uint32_t id) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    std::size_t at = hash & mask_;
    while (slots_[at].id != none) at = (at + 1) & mask_;
    slots_[at] = Slot{hash, id};
    ++used_;
}

bool NameIndex::erase(std::uint32_t hash, std::uint32_t id) {
    if (slots_.empty()) return false;
    std::size_t hole = hash & mask_;
    while (slots_[hole].id != id || slots_[hole].hash != hash) {
        if (slots_[hole].id == none) return false;
        hole = (hole + 1) & mask_;
    }
    // The slots after the hole move back into it while their own place lies
    // at or before the hole: every name stays reachable from its place.
    for (std::size_t next = (hole + 1) & mask_; slots_[next].id != none; next = (next + 1) & mask_) {
        const std::size_t home = slots_[next].hash & mask_;
        if (((next - home) & mask_) >= ((next - hole) & mask_)) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = Slot{};
    --used_;
    return true;
}

void NameIndex::clear() {
    slots_.clear();
    mask_ = 0;
    used_ = 0;
}

void NameIndex::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    mask_ = slots_.size() - 1;
    used_ = 0;
    for (const Slot& slot : old)
        if (slot.id != none) insert(slot.hash, slot.id);
}

}  // namespace tally
