// Texts on their way into the database: the store's 8-bit texts (Windows-1252)
// as Unicode, and as SQL string literals that are plain ASCII whatever they
// hold, so no quote, backslash or code page of a program name can change a
// statement.
#pragma once

#include <cstdint>
#include <string>

namespace tally {

// The Unicode code point of a Windows-1252 byte. The five bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) are taken as the C1
// controls of the same number, so every byte has one code point.
char32_t cp1252_code_point(std::uint8_t byte);
// The store's text as UTF-8.
std::string cp1252_to_utf8(const std::string& text);
// UTF-16 (as ODBC hands results) to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(const std::u16string& text);

// The text as a PostgreSQL escape string literal, E'...': letters, digits,
// blanks and harmless punctuation as they are, every other character
// (quotes, backslashes, '?', braces, controls and all beyond ASCII) as a
// \uXXXX escape of its code point. The literal needs a UTF-8 database.
std::string sql_literal(const std::string& cp1252_text);

// A driver's diagnostic on one line: line ends and tabs as blanks, runs of
// blanks as one, none at either end.
std::string one_line(const std::string& text);

}  // namespace tally
