// The store's lookups as plain scans from the start of each table: the
// reference the indexed answers are checked against.
#pragma once

#include <cstring>
#include <optional>
#include <vector>

#include "server/store/store.h"

namespace tally::test {

// First record with this MAC, else the first free record.
inline std::optional<std::uint32_t> plain_find_record(const Store& store, const std::uint8_t* mac) {
    for (std::uint32_t i = 0; i < store.record_count(); ++i)
        if (std::memcmp(store.record(i).mac(), mac, 6) == 0) return i;
    for (std::uint32_t i = 0; i < store.record_count(); ++i)
        if (store.record(i).is_free()) return i;
    return std::nullopt;
}

// Lowest free entry, else the used length.
inline std::size_t plain_find_free_entry(const Store& store) {
    for (std::size_t o = 0; o < store.used_length(); o += sw_entry::size)
        if (store.entry(o).is_free()) return o;
    return store.used_length();
}

inline std::vector<std::size_t> plain_entry_offsets_of(const Store& store, const std::uint8_t* mac) {
    std::vector<std::size_t> offsets;
    for (std::size_t o = 0; o < store.used_length(); o += sw_entry::size)
        if (std::memcmp(store.entry(o).mac(), mac, 6) == 0) offsets.push_back(o);
    return offsets;
}

}  // namespace tally::test
