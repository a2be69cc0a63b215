// The per-run seed of the MAC hash.
#include "server/store/mac_hash.h"

#include <chrono>
#include <random>

namespace tally {

namespace {

std::uint64_t make_seed() {
    std::uint64_t seed = 0;
    try {
        std::random_device device;
        seed = (std::uint64_t(device()) << 32) ^ device();
    } catch (...) {
        // No randomness here: the clock and an address below still vary.
    }
    const int local = 0;
    seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) << 17;
    seed ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&local)) << 5;
    return mix_mac_key64(seed, 0x2545f4914f6cdd1dull);
}

}  // namespace

std::uint64_t mac_hash_seed() {
    static const std::uint64_t seed = make_seed();
    return seed;
}

}  // namespace tally
