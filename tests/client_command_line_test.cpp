// scoutly's command line: resident switch, colon split, port cut and
// arithmetic, server address kinds and the usage text.
#include "client/command_line.h"

#include <gtest/gtest.h>

namespace tally::client {
namespace {

struct FakeLookups : AddressLookups {
    std::string dotted_seen, host_seen;
    bool dotted_ok = true, host_ok = true;
    bool parse_dotted(const std::string& t, Ipv4& out) override {
        dotted_seen = t;
        if (dotted_ok) out = {10, 0, 0, 5};
        return dotted_ok;
    }
    bool lookup_host(const std::string& t, Ipv4& out) override {
        host_seen = t;
        if (host_ok) out = {192, 168, 1, 9};
        return host_ok;
    }
};

TEST(ClientCommandLine, ResidentSwitchIsDecidedByTheFirstDashOnly) {
    EXPECT_TRUE(split_command_line("10.0.0.5 -R").resident);
    EXPECT_TRUE(split_command_line("10.0.0.5:1234 -r").resident);
    EXPECT_FALSE(split_command_line("10.0.0.5").resident);
    // A '-' earlier in the line hides the switch.
    EXPECT_FALSE(split_command_line("audit-server -R").resident);
    // A host name with "-r" inside turns resident mode on.
    EXPECT_TRUE(split_command_line("audit-room").resident);
    EXPECT_FALSE(split_command_line("server -").resident);
}

TEST(ClientCommandLine, ColonSplitsServerAndPortAndServerEndsAtBlank) {
    CommandLine cl = split_command_line("10.0.0.5:1234 -R");
    EXPECT_EQ(cl.server_text, "10.0.0.5");
    EXPECT_TRUE(cl.has_port);
    EXPECT_EQ(cl.port_text, "1234 -R");
    EXPECT_EQ(port_from_command_line(cl), 1234);

    cl = split_command_line("server-name -R");
    EXPECT_EQ(cl.server_text, "server-name");
    EXPECT_FALSE(cl.has_port);
    EXPECT_EQ(port_from_command_line(cl), 54333);

    EXPECT_EQ(split_command_line("  host  ").server_text, "host");
    EXPECT_EQ(split_command_line("").server_text, "");
    cl = split_command_line(":1234");
    EXPECT_EQ(cl.server_text, "");
    EXPECT_EQ(cl.port_text, "1234");
}

TEST(ClientCommandLine, PortTextIsCutAfterFiveCharactersAndReadAsNumber) {
    EXPECT_EQ(port_from_text("123456"), 12345);
    EXPECT_EQ(port_from_text("  80"), 80);
    EXPECT_EQ(port_from_text("1234 -R"), 1234);
    EXPECT_EQ(port_from_text("80.9"), 80);
    EXPECT_EQ(port_from_text("-5.7"), -5);
    EXPECT_EQ(port_from_text("abc"), 0);
    EXPECT_EQ(port_from_text(""), 0);
    EXPECT_EQ(port_from_text("1e4"), 10000);
    // Values no port can hold count as no port.
    EXPECT_EQ(port_from_text("1e99"), 0);
    EXPECT_EQ(port_from_text("inf"), 0);
    EXPECT_EQ(port_from_text("nan"), 0);

    EXPECT_EQ(port_from_command_line(split_command_line("h:0")), 54333);
    EXPECT_EQ(port_from_command_line(split_command_line("h:xyz")), 54333);
    EXPECT_EQ(port_from_command_line(split_command_line("h:")), 54333);
}

TEST(ClientCommandLine, PortsAreTakenModulo65536) {
    EXPECT_EQ(destination_port(54333), 54333);
    EXPECT_EQ(bind_port(54333), 54334);
    EXPECT_EQ(bind_port(65535), 0);  // lets the system choose
    EXPECT_EQ(destination_port(99999), 99999 - 65536);
    EXPECT_EQ(bind_port(99999), 99999 - 65536 + 1);
    EXPECT_EQ(destination_port(-5), 65531);
    EXPECT_EQ(bind_port(-1), 0);
}

TEST(ClientCommandLine, ServerTextKindByFirstCharacter) {
    EXPECT_EQ(classify_server_text(""), ServerTextKind::empty);
    EXPECT_EQ(classify_server_text("10.0.0.5"), ServerTextKind::dotted);
    EXPECT_EQ(classify_server_text("?x"), ServerTextKind::dotted);
    EXPECT_EQ(classify_server_text(";"), ServerTextKind::dotted);
    EXPECT_EQ(classify_server_text("/x"), ServerTextKind::host_name);
    EXPECT_EQ(classify_server_text("@x"), ServerTextKind::host_name);
    EXPECT_EQ(classify_server_text("server"), ServerTextKind::host_name);
}

TEST(ClientCommandLine, ServerAddressUsesTheMatchingLookup) {
    FakeLookups l;
    Ipv4 a{};
    EXPECT_TRUE(server_address("10.0.0.5", l, a));
    EXPECT_EQ(l.dotted_seen, "10.0.0.5");
    EXPECT_EQ(a, (Ipv4{10, 0, 0, 5}));
    EXPECT_TRUE(server_address("auditserver", l, a));
    EXPECT_EQ(l.host_seen, "auditserver");
    EXPECT_EQ(a, (Ipv4{192, 168, 1, 9}));

    EXPECT_FALSE(server_address("", l, a));
    l.host_ok = false;
    EXPECT_FALSE(server_address("unknown", l, a));
    l.dotted_ok = false;
    EXPECT_FALSE(server_address("10.0.0.999", l, a));

    struct ZeroLookups : FakeLookups {
        bool parse_dotted(const std::string&, Ipv4& out) override {
            out = {0, 0, 0, 0};
            return true;
        }
    } zero;
    EXPECT_FALSE(server_address("0.0.0.0", zero, a));
}

TEST(ClientCommandLine, UsageTextHasItsThirteenLines) {
    const std::string& t = usage_text();
    EXPECT_EQ(t.find('\n'), std::string::npos);
    EXPECT_NE(t.back(), '\r');
    int lines = 1;
    for (char c : t) lines += c == '\r';
    EXPECT_EQ(lines, 13);
    EXPECT_EQ(t.rfind("Invalid Parameters\r\rAn IP or computer name address is required.  Command line", 0), 0u);
    EXPECT_NE(t.find("\rServer\tIP address or host name of computer running server software (required)\r"),
              std::string::npos);
    EXPECT_NE(t.find("\r-R\tif you want the program to remain resident for remote update requests (optional)\r"
                     "Examples\r\rscoutly "),
              std::string::npos);
    EXPECT_NE(t.find(":54543 -R"), std::string::npos);
}

}  // namespace
}  // namespace tally::client
