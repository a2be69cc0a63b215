// The cryptography seam on Windows CNG (bcrypt): SHA-256, HMAC-SHA-256 and the
// system's preferred random generator.
#include "protocol/crypto.h"

#include <windows.h>

#include <bcrypt.h>

namespace tally {

namespace {

// An algorithm provider opened once and closed with the object.
class Provider {
public:
    explicit Provider(ULONG flags) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, flags)))
            handle_ = nullptr;
    }
    ~Provider() {
        if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// One hash object: keyed (HMAC) when a key is given, fed in chunks CNG's ULONG sizes take.
Sha256 digest(ULONG flags, const std::uint8_t* key, std::size_t key_size, const std::uint8_t* data,
              std::size_t size) {
    static Provider plain(0);
    static Provider keyed(BCRYPT_ALG_HANDLE_HMAC_FLAG);
    Sha256 out{};
    BCRYPT_ALG_HANDLE algorithm = flags ? keyed.get() : plain.get();
    if (!algorithm || key_size > 0xFFFFFFFFu) return out;
    static const UCHAR no_key = 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    PUCHAR secret = const_cast<PUCHAR>(key_size ? key : &no_key);
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, flags ? secret : nullptr,
                                         static_cast<ULONG>(key_size), 0)))
        return out;
    bool ok = true;
    while (ok && size > 0) {
        ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data), chunk, 0));
        data += chunk;
        size -= chunk;
    }
    if (ok && !BCRYPT_SUCCESS(BCryptFinishHash(hash, out.data(), static_cast<ULONG>(out.size()), 0))) out = Sha256{};
    BCryptDestroyHash(hash);
    return out;
}

}  // namespace

Sha256 sha256(const std::uint8_t* data, std::size_t size) { return digest(0, nullptr, 0, data, size); }

Sha256 hmac_sha256(const std::uint8_t* key, std::size_t key_size, const std::uint8_t* data, std::size_t size) {
    return digest(BCRYPT_ALG_HANDLE_HMAC_FLAG, key, key_size, data, size);
}

bool random_bytes(std::uint8_t* out, std::size_t size) {
    while (size > 0) {
        ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;
        out += chunk;
        size -= chunk;
    }
    return true;
}

bool equal_in_constant_time(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < size; ++i) difference = difference | static_cast<std::uint8_t>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace tally
