// Chunk allotment of the store's tables.
#include "server/store/table.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tally {

bool ChunkedTable::allot(std::size_t items, std::size_t keep) {
    const std::size_t chunk_bytes = chunk_items() * item_size_;
    try {
        chunks_.reserve((items + mask_) >> shift_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    while (allotted() < items) {
        std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[chunk_bytes]);
        if (!chunk) return false;
        const std::size_t first = allotted();
        const std::size_t kept = keep > first ? std::min(keep - first, chunk_items()) : 0;
        std::memset(chunk.get() + kept * item_size_, 0, chunk_bytes - kept * item_size_);
        chunks_.push_back(std::move(chunk));  // room reserved above
    }
    return true;
}

}  // namespace tally
