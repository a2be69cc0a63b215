// The cryptography seam: SHA-256 and HMAC-SHA-256 against published vectors,
// the same table for the CNG and the libcrypto implementation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/crypto.h"

namespace tally {
namespace {

std::vector<std::uint8_t> from_hex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::uint8_t> from_text(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> repeated(std::uint8_t byte, std::size_t count) { return std::vector<std::uint8_t>(count, byte); }

std::string to_hex(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

struct HashCase {
    const char* name;
    std::vector<std::uint8_t> message;
    const char* expected;
};

TEST(Crypto, Sha256MatchesThePublishedVectors) {
    const HashCase cases[] = {
        {"empty", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", from_text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", from_text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a", repeated('a', 1000000), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        Sha256 h = sha256(c.message.data(), c.message.size());
        EXPECT_EQ(to_hex(h.data(), h.size()), c.expected) << c.name;
    }
}

struct HmacCase {
    int number;
    std::vector<std::uint8_t> key, data;
    const char* expected;  // the tag, or its first bytes where the case truncates it
};

TEST(Crypto, HmacSha256MatchesThePublishedCases) {
    const HmacCase cases[] = {
        {1, repeated(0x0b, 20), from_text("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {2, from_text("Jefe"), from_text("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {3, repeated(0xaa, 20), repeated(0xdd, 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {4, from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), repeated(0xcd, 50),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {5, repeated(0x0c, 20), from_text("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
        {6, repeated(0xaa, 131), from_text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {7, repeated(0xaa, 131),
         from_text("This is a test using a larger than block-size key and a larger than block-size data. "
                   "The key needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& c : cases) {
        Sha256 tag = hmac_sha256(c.key.data(), c.key.size(), c.data.data(), c.data.size());
        std::string expected = c.expected;
        EXPECT_EQ(to_hex(tag.data(), expected.size() / 2), expected) << "case " << c.number;
    }
}

TEST(Crypto, RandomBytesFillTheBufferAndDifferEachCall) {
    std::vector<std::uint8_t> a(64, 0), b(64, 0);
    ASSERT_TRUE(random_bytes(a.data(), a.size()));
    ASSERT_TRUE(random_bytes(b.data(), b.size()));
    EXPECT_NE(a, b);
    EXPECT_NE(a, std::vector<std::uint8_t>(64, 0));
}

TEST(Crypto, EqualInConstantTimeComparesEveryByte) {
    const std::uint8_t x[] = {1, 2, 3, 4}, y[] = {1, 2, 3, 5}, z[] = {9, 2, 3, 4};
    EXPECT_TRUE(equal_in_constant_time(x, x, 4));
    EXPECT_FALSE(equal_in_constant_time(x, y, 4));
    EXPECT_FALSE(equal_in_constant_time(x, z, 4));
    EXPECT_TRUE(equal_in_constant_time(x, y, 3));
    EXPECT_TRUE(equal_in_constant_time(x, z, 0));
}

}  // namespace
}  // namespace tally
