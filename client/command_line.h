// scoutly's command line: Server[:Port] [-R], the port arithmetic and the
// usage message. Portable; the address lookups are passed in by the caller.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/udp.h"

namespace tally::client {

struct CommandLine {
    bool resident = false;     // a '-' followed by 'r' or 'R' (first '-' only)
    std::string server_text;   // up to the first ':' and the first blank
    bool has_port = false;     // a ':' was present
    std::string port_text;     // after the ':', unparsed
};

// Splits the text after the program name. The first '-' alone decides the
// resident switch; the first ':' separates server and port; the server text
// starts after leading blanks and ends at the first blank, so a switch that
// follows a server without a port is not part of the address.
CommandLine split_command_line(const std::string& line);

// Port text to port number: cut after five characters, read as a decimal
// floating-point number (leading blanks skipped, 0 when none), truncated
// toward zero. A value that no integer port can hold (infinite, or beyond
// the 32-bit range, as "1e99" would give) counts as 0.
std::int32_t port_from_text(const std::string& port_text);
// The port the client sends to: 0 means the default 54333.
std::int32_t port_from_command_line(const CommandLine& cl);
// Ports as they go into a socket address: modulo 65536.
std::uint16_t destination_port(std::int32_t port);
std::uint16_t bind_port(std::int32_t port);  // port + 1, modulo 65536

// How the server text is turned into an address.
enum class ServerTextKind { empty, dotted, host_name };
// A first character from '0' to '?' means a dotted address, anything else a
// host name.
ServerTextKind classify_server_text(const std::string& server_text);

// The two lookups of the platform: the dotted-address parser and the
// host-name lookup. Each returns false when it yields no address.
struct AddressLookups {
    virtual ~AddressLookups() = default;
    virtual bool parse_dotted(const std::string& text, Ipv4& out) = 0;
    virtual bool lookup_host(const std::string& text, Ipv4& out) = 0;
};
// The server address for the server text; false when there is none (empty
// text, a text the parser rejects, a name that is not found, or 0.0.0.0).
bool server_address(const std::string& server_text, AddressLookups& lookups, Ipv4& out);

// The text of the usage message: lines separated by a single carriage
// return, a tab after each option name, no line break at the end.
const std::string& usage_text();
constexpr char usage_caption[] = "Error";

}  // namespace tally::client
