// Command-line parsing and port arithmetic of scoutly.
#include "client/command_line.h"

#include <cmath>
#include <cstdlib>

#include "protocol/packets.h"

namespace tally::client {

CommandLine split_command_line(const std::string& line) {
    CommandLine cl;
    std::size_t dash = line.find('-');
    if (dash != std::string::npos && dash + 1 < line.size() && (line[dash + 1] == 'r' || line[dash + 1] == 'R'))
        cl.resident = true;

    std::size_t colon = line.find(':');
    std::string server = line.substr(0, colon);
    if (colon != std::string::npos) {
        cl.has_port = true;
        cl.port_text = line.substr(colon + 1);
    }
    std::size_t start = server.find_first_not_of(" \t");
    if (start == std::string::npos) return cl;
    std::size_t end = server.find_first_of(" \t", start);
    cl.server_text = server.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return cl;
}

std::int32_t port_from_text(const std::string& port_text) {
    std::string cut = port_text.substr(0, 5);
    double v = std::strtod(cut.c_str(), nullptr);
    if (!std::isfinite(v) || v >= 2147483648.0 || v <= -2147483649.0) return 0;
    return static_cast<std::int32_t>(v);  // truncates toward zero
}

std::int32_t port_from_command_line(const CommandLine& cl) {
    std::int32_t port = cl.has_port ? port_from_text(cl.port_text) : 0;
    return port == 0 ? static_cast<std::int32_t>(default_port) : port;
}

std::uint16_t destination_port(std::int32_t port) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(port) & 0xFFFFu);
}

std::uint16_t bind_port(std::int32_t port) {
    return static_cast<std::uint16_t>((static_cast<std::uint32_t>(port) + 1u) & 0xFFFFu);
}

ServerTextKind classify_server_text(const std::string& server_text) {
    if (server_text.empty()) return ServerTextKind::empty;
    unsigned char c = static_cast<unsigned char>(server_text[0]);
    return (c >= '0' && c <= '?') ? ServerTextKind::dotted : ServerTextKind::host_name;
}

bool server_address(const std::string& server_text, AddressLookups& lookups, Ipv4& out) {
    Ipv4 addr{};
    bool found = false;
    switch (classify_server_text(server_text)) {
    case ServerTextKind::empty: return false;
    case ServerTextKind::dotted: found = lookups.parse_dotted(server_text, addr); break;
    case ServerTextKind::host_name: found = lookups.lookup_host(server_text, addr); break;
    }
    if (!found || addr == Ipv4{}) return false;
    out = addr;
    return true;
}

const std::string& usage_text() {
    static const std::string text =
        "Invalid Parameters\r"
        "\r"
        "An IP or computer name address is required.  Command line should be executed as follows\r"
        "\r"
        "scoutly Server[:Port] [-R]\r"
        "\r"
        "Server\tIP address or host name of computer running server software (required)\r"
        "Port\tPort number server is listening on. Leave blank for default (optional)\r"
        "-R\tif you want the program to remain resident for remote update requests (optional)\r"
        "Examples\r"
        "\r"
        "scoutly 192.168.0.10\r"
        "scoutly auditserver:54543 -R";
    return text;
}

}  // namespace tally::client
