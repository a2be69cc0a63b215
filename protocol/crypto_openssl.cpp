// The cryptography seam on OpenSSL's libcrypto.
#include "protocol/crypto.h"

#include <climits>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace tally {

Sha256 sha256(const std::uint8_t* data, std::size_t size) {
    Sha256 out{};
    unsigned int length = 0;
    // result not checked: SHA-256 of memory in hand does not fail; the output stays zero if it did
    EVP_Digest(data, size, out.data(), &length, EVP_sha256(), nullptr);
    return out;
}

Sha256 hmac_sha256(const std::uint8_t* key, std::size_t key_size, const std::uint8_t* data, std::size_t size) {
    Sha256 out{};
    unsigned int length = 0;
    static const std::uint8_t no_key = 0;
    if (key_size > INT_MAX) return out;
    // HMAC() takes a null key as "no key given"; an empty key is a key of no bytes.
    HMAC(EVP_sha256(), key_size ? key : &no_key, static_cast<int>(key_size), data, size, out.data(), &length);
    return out;
}

bool random_bytes(std::uint8_t* out, std::size_t size) {
    while (size > 0) {
        int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
        if (RAND_bytes(out, chunk) != 1) return false;
        out += chunk;
        size -= static_cast<std::size_t>(chunk);
    }
    return true;
}

bool equal_in_constant_time(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
    return size == 0 || CRYPTO_memcmp(a, b, size) == 0;
}

}  // namespace tally
