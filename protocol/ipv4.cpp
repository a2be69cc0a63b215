// Dotted-decimal IPv4 text, and the socket parts that need no platform call.
#include <cstdio>

#include "protocol/ipv4.h"
#include "protocol/udp.h"

namespace tally {

std::string format_ipv4(const Ipv4& a) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return text;
}

bool parse_ipv4(const std::string& text, Ipv4& out) {
    unsigned part[4];
    int used = 0;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%n", &part[0], &part[1], &part[2], &part[3], &used) != 4)
        return false;
    if (static_cast<std::size_t>(used) != text.size() || text.empty() || text[0] < '0' || text[0] > '9') return false;
    for (int i = 0; i < 4; ++i) {
        if (part[i] > 255) return false;
        out[i] = static_cast<std::uint8_t>(part[i]);
    }
    return true;
}

bool resolve_ipv4(const std::string& host, Ipv4& out) { return parse_ipv4(host, out) || lookup_ipv4(host, out); }

}  // namespace tally
