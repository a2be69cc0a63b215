// Hashes, message authentication and random bytes from the platform's
// cryptography (Windows CNG, or OpenSSL's libcrypto elsewhere).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tally {

using Sha256 = std::array<std::uint8_t, 32>;

Sha256 sha256(const std::uint8_t* data, std::size_t size);
Sha256 hmac_sha256(const std::uint8_t* key, std::size_t key_size, const std::uint8_t* data, std::size_t size);
// Fills `out` from the system's random generator; false on failure.
bool random_bytes(std::uint8_t* out, std::size_t size);
// Compares without a time that depends on where the bytes differ.
bool equal_in_constant_time(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);

}  // namespace tally
