// An IPv4 address as four bytes, and its dotted-decimal text.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tally {

// IPv4 address as the four bytes in network order (a.b.c.d).
using Ipv4 = std::array<std::uint8_t, 4>;

// "a.b.c.d" for an address.
std::string format_ipv4(const Ipv4& addr);
// Parses dotted decimal only; false for anything else.
bool parse_ipv4(const std::string& text, Ipv4& out);

}  // namespace tally
