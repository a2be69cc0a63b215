// The store's texts as Unicode and as ASCII-only SQL literals.
#include "server/publish/sql_text.h"

namespace tally {
namespace {

// Bytes 0x80 to 0x9F of Windows-1252; 0 where the code page defines nothing.
constexpr char16_t cp1252_high[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Characters that stand for themselves in a literal: none of them means
// anything to PostgreSQL's string syntax or to an ODBC driver's scan for
// parameter markers and escape sequences.
bool plain_in_literal(char32_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case ' ': case '.': case ',': case '-': case '_': case '(': case ')': case '+': case ':':
        case '/': case '#': case '@': case '&': case '=': case '!': case '[': case ']': case '%':
            return true;
        default:
            return false;
    }
}

}  // namespace

char32_t cp1252_code_point(std::uint8_t byte) {
    if (byte < 0x80 || byte >= 0xA0) return byte;
    const char16_t mapped = cp1252_high[byte - 0x80];
    return mapped ? mapped : byte;
}

std::string cp1252_to_utf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char b : text) append_utf8(out, cp1252_code_point(b));
    return out;
}

std::string utf16_to_utf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
        char32_t c = text[k];
        if (c >= 0xD800 && c < 0xDC00 && k + 1 < text.size() && text[k + 1] >= 0xDC00 && text[k + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[k + 1] - 0xDC00);
            ++k;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        append_utf8(out, c);
    }
    return out;
}

std::string sql_literal(const std::string& cp1252_text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "E'";
    out.reserve(cp1252_text.size() + 3);
    for (unsigned char b : cp1252_text) {
        const char32_t c = cp1252_code_point(b);
        if (plain_in_literal(c)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(hex[(c >> shift) & 0xF]);
    }
    out.push_back('\'');
    return out;
}

std::string one_line(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\r' || c == '\n' || c == '\t';
        if (blank) {
            if (!out.empty() && out.back() != ' ') out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace tally
