// An index from names to the numbers they are kept under elsewhere: the
// software catalogue looks up the program name and the version text of
// every entry of the software table in two of them. One flat array of
// (hash, number) slots, probed in turn from the hash's place, so that a
// lookup reads one or two cache lines and the kept name only when the
// hashes agree; a node-based map scatters its nodes across a heap of a
// gigabyte and misses the cache on every lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tally {

// The hash of a name's bytes, mixed with the run's seed into every bit, so
// that a sender choosing names cannot aim them at one place.
std::uint32_t name_hash(std::string_view text);

class NameIndex {
public:
    static constexpr std::uint32_t none = 0xffffffffu;

    // The number of `text` (hash `hash`), none when it has none; `name_of`
    // gives the name kept under a number.
    template <typename NameOf>
    std::uint32_t find(std::string_view text, std::uint32_t hash, const NameOf& name_of) const {
        if (slots_.empty()) return none;
        for (std::size_t at = hash & mask_;; at = (at + 1) & mask_) {
            const Slot& slot = slots_[at];
            if (slot.id == none) return none;
            if (slot.hash == hash && name_of(slot.id) == text) return slot.id;
        }
    }
    // Adds a number under a name that has none yet.
    void insert(std::uint32_t hash, std::uint32_t id);
    // Takes out the number `id` under that hash; false when it is not there.
    bool erase(std::uint32_t hash, std::uint32_t id);
    void clear();
    std::size_t size() const { return used_; }

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t id = none;
    };
    void grow();

    std::vector<Slot> slots_;  // a power of two of them, at most half in use
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
};

}  // namespace tally
