// The hash of every table keyed by MAC Address: all six bytes mixed into the
// whole width of size_t, with a seed made once per run, so that neither the
// MACs of one maker (which share their first bytes) nor a sender choosing
// MACs can make the keys share buckets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tally {

// The seed of this run, made on first use from the system's randomness and
// the clock (so it varies per run even where the randomness does not).
std::uint64_t mac_hash_seed();

// A splitmix64 finaliser of the key and the seed: every bit of the key
// reaches every bit of the result.
constexpr std::uint64_t mix_mac_key64(std::uint64_t key, std::uint64_t seed) {
    std::uint64_t z = (key ^ seed) + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

// The same folded into 32 bits, as a 32-bit program's size_t holds it.
constexpr std::uint32_t mix_mac_key32(std::uint64_t key, std::uint64_t seed) {
    const std::uint64_t z = mix_mac_key64(key, seed);
    return static_cast<std::uint32_t>(z ^ (z >> 32));
}

// The hasher of the maps and sets keyed by mac_key().
struct MacHash {
    std::size_t operator()(std::uint64_t key) const {
        if constexpr (sizeof(std::size_t) >= 8)
            return static_cast<std::size_t>(mix_mac_key64(key, seed));
        else
            return static_cast<std::size_t>(mix_mac_key32(key, seed));
    }
    std::uint64_t seed = mac_hash_seed();
};

}  // namespace tally
