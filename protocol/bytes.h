// Little-endian field access on byte buffers, and the one way fixed layouts
// are declared: a Field names an offset and a width inside a datagram or record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace tally {

struct Field {
    std::size_t offset;
    std::size_t width;
    constexpr std::size_t end() const { return offset + width; }
};

inline std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t get_u64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(get_u32(p)) | (static_cast<std::uint64_t>(get_u32(p + 4)) << 32);
}
inline void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_u64(std::uint8_t* p, std::uint64_t v) {
    put_u32(p, static_cast<std::uint32_t>(v));
    put_u32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
// IEEE 754 single precision, little-endian.
inline float get_f32(const std::uint8_t* p) {
    std::uint32_t bits = get_u32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline void put_f32(std::uint8_t* p, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    put_u32(p, bits);
}

// Field accessors on a buffer that holds a whole layout.
inline std::uint8_t get_u8(const std::uint8_t* base, Field f) { return base[f.offset]; }
inline std::uint16_t get_u16(const std::uint8_t* base, Field f) { return get_u16(base + f.offset); }
inline std::uint32_t get_u32(const std::uint8_t* base, Field f) { return get_u32(base + f.offset); }
inline std::uint64_t get_u64(const std::uint8_t* base, Field f) { return get_u64(base + f.offset); }
inline float get_f32(const std::uint8_t* base, Field f) { return get_f32(base + f.offset); }
inline void put_u8(std::uint8_t* base, Field f, std::uint8_t v) { base[f.offset] = v; }
// A 24-bit unsigned value in a 3-byte field (the high byte of v is dropped).
inline std::uint32_t get_u24(const std::uint8_t* base, Field f) {
    const std::uint8_t* p = base + f.offset;
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}
inline void put_u24(std::uint8_t* base, Field f, std::uint32_t v) {
    for (int i = 0; i < 3; ++i) base[f.offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put_u16(std::uint8_t* base, Field f, std::uint16_t v) { put_u16(base + f.offset, v); }
inline void put_u32(std::uint8_t* base, Field f, std::uint32_t v) { put_u32(base + f.offset, v); }
inline void put_u64(std::uint8_t* base, Field f, std::uint64_t v) { put_u64(base + f.offset, v); }
inline void put_f32(std::uint8_t* base, Field f, float v) { put_f32(base + f.offset, v); }

// Text of at most max_chars bytes starting at p: up to the first NUL, or all
// max_chars bytes when they hold none; assign_text stores it into `out`,
// whose room is reused.
inline void assign_text(std::string& out, const std::uint8_t* p, std::size_t max_chars) {
    const void* nul = std::memchr(p, 0, max_chars);
    std::size_t n = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : max_chars;
    out.assign(reinterpret_cast<const char*>(p), n);
}
inline std::string get_text(const std::uint8_t* p, std::size_t max_chars) {
    std::string text;
    assign_text(text, p, max_chars);
    return text;
}
// Text of a whole field (at most its width; a full field needs no NUL).
inline std::string get_text(const std::uint8_t* base, Field f) { return get_text(base + f.offset, f.width); }

// Stores text into a field: at most max_chars characters (never more than
// width - 1, so a NUL always follows), the rest of the field zero-filled so
// that no earlier bytes survive behind the terminator.
inline void put_text(std::uint8_t* base, Field f, const std::string& text, std::size_t max_chars) {
    std::size_t limit = max_chars < f.width - 1 ? max_chars : f.width - 1;
    std::size_t n = 0;
    while (n < text.size() && n < limit && text[n] != '\0') ++n;
    std::memcpy(base + f.offset, text.data(), n);
    std::memset(base + f.offset + n, 0, f.width - n);
}
inline void put_text(std::uint8_t* base, Field f, const std::string& text) {
    put_text(base, f, text, f.width - 1);
}

// Copies up to max_chars bytes of text (stopping at a NUL) from src into a
// field and zero-fills the rest, as put_text does.
inline void copy_text(std::uint8_t* base, Field f, const std::uint8_t* src, std::size_t max_chars) {
    put_text(base, f, get_text(src, max_chars), max_chars);
}

// The text with every control character (below 0x20, and 0x7F) shown as
// '?': texts from the network or a damaged file are shown only as printable
// characters.
inline std::string printable_text(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

// The check of a side file's record: over the little-endian 32-bit words of
// its first `length` bytes (a multiple of 4), h = 2166136261, then
// h = (h xor word) x 16777619 (mod 2^32) each.
inline std::uint32_t words_check(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t h = 2166136261u;
    for (std::size_t k = 0; k + 4 <= length; k += 4) h = (h ^ get_u32(bytes + k)) * 16777619u;
    return h;
}

// A 6-byte MAC address as one integer key (byte 0 in the low bits).
inline std::uint64_t mac_key(const std::uint8_t* mac) {
    std::uint64_t k = 0;
    for (int i = 5; i >= 0; --i) k = (k << 8) | mac[i];
    return k;
}

}  // namespace tally
