// A list of items kept in blocks of a fixed number of items. Adding an
// item never moves the others, so a list of millions grows by one in the
// time of one block's allotment, and it never needs one block of its whole
// size (a fragmented 32-bit address space has no such block at fleet
// scale); a walk over the items stays within blocks, as within a vector.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace tally {

template <typename T, unsigned block_shift>
class BlockList {
public:
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return blocks_[i >> block_shift][i & mask]; }
    const T& operator[](std::size_t i) const { return blocks_[i >> block_shift][i & mask]; }

    void clear() {
        blocks_.clear();
        size_ = 0;
    }
    // Items from `n` on are emptied, new ones set to `value`. Throws
    // std::bad_alloc, with the list as it was, when a block cannot be had.
    void resize(std::size_t n, const T& value = T()) {
        while (blocks_.size() << block_shift < n) blocks_.push_back(std::make_unique<T[]>(mask + 1));
        for (std::size_t i = n; i < size_; ++i) (*this)[i] = T();
        for (std::size_t i = size_; i < n; ++i) (*this)[i] = value;
        size_ = n;
    }
    void assign(std::size_t n, const T& value) {
        clear();
        resize(n, value);
    }
    void push_back(T item) {
        resize(size_ + 1);
        (*this)[size_ - 1] = std::move(item);
    }

private:
    static constexpr std::size_t mask = (std::size_t(1) << block_shift) - 1;
    std::vector<std::unique_ptr<T[]>> blocks_;
    std::size_t size_ = 0;
};

}  // namespace tally
