// A table of fixed-size items (hardware records, software entries) held in
// chunks of a power of two items each. The table never needs one block of
// its whole size, so a store of a gigabyte loads into a fragmented 32-bit
// address space, and an item stays where it is while the table grows: a
// view of it stays valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tally {

class ChunkedTable {
public:
    ChunkedTable(std::size_t item_size, unsigned chunk_shift)
        : item_size_(item_size), shift_(chunk_shift), mask_((std::size_t(1) << chunk_shift) - 1) {}

    std::size_t item_size() const { return item_size_; }
    std::size_t chunk_items() const { return mask_ + 1; }
    // Items the allotted chunks hold.
    std::size_t allotted() const { return chunks_.size() << shift_; }
    // Item k, which lies below allotted().
    std::uint8_t* item(std::size_t k) { return chunks_[k >> shift_].get() + (k & mask_) * item_size_; }
    const std::uint8_t* item(std::size_t k) const { return chunks_[k >> shift_].get() + (k & mask_) * item_size_; }
    // Whether item k is the first of its chunk (a run of items in one block
    // ends before it).
    bool starts_chunk(std::size_t k) const { return (k & mask_) == 0; }

    // Allots chunks until the table holds `items` items. The new chunks are
    // zero, except below item `keep` (which the caller is about to fill).
    // False, with the chunks allotted so far kept, when memory runs out.
    bool allot(std::size_t items, std::size_t keep = 0);
    void clear() { chunks_.clear(); }

private:
    std::size_t item_size_;
    unsigned shift_;
    std::size_t mask_;
    std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
};

}  // namespace tally
