// The database publishing settings ("Publish to database", the ODBC
// connection string, the site name): how they travel through the registry
// values beside Audit_PathName, how the password is taken out of the
// connection string and kept sealed, and their texts in the settings dialog
// and on the Server Stats page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "server/console/data_protection.h"
#include "server/publish/publisher.h"

namespace tally {

// Registry values under Software\Kestrin. The switch is REG_BINARY, 1 byte:
// 1 on, 0 (or no value) off. Connection string (without its password) and
// site are REG_SZ; no site value: the server's computer name. The password
// is REG_BINARY, sealed by the system's machine-scope data protection; it is
// never written as plain text.
constexpr char publish_value[] = "Audit_Publish";
constexpr char publish_connection_value[] = "Audit_PublishConnection";
constexpr char publish_site_value[] = "Audit_PublishSite";
constexpr char publish_password_value[] = "Audit_PublishPassword";

// The publishing settings as the server keeps them.
struct PublishConfig {
    bool enabled = false;
    std::string connection;  // a DSN name or a driver connection string, without its password
    std::string password;    // empty: none
    std::string site;        // empty: the server's computer name
};

// A connection string split into the rest and its password attribute
// (PWD= or Password=, in any case, braces-quoted values included; the last
// one counts). `password` is empty when the string names none.
struct SplitConnection {
    std::string without_password;
    std::optional<std::string> password;
};
SplitConnection take_password(const std::string& connection);

// The connection string the driver is given: a bare DSN name becomes
// DSN=name; the password, if any, is added as PWD=, braces-quoted when it
// holds characters the grammar reserves.
std::string connection_with_password(const std::string& connection, const std::string& password);

// The connection box at OK: a password in it replaces the stored one (an
// empty PWD= removes it), a box without one keeps it, an empty box clears
// both.
void take_connection_box(PublishConfig& config, const std::string& box);

// The site as the dialog shows it and the publisher uses it.
std::string effective_site(const PublishConfig& config, const std::string& computer_name);
// The site box at OK: the computer name (the default it shows) or nothing
// is kept as no site, so that the default follows a renamed computer.
std::string site_from_box(const std::string& box, const std::string& computer_name);
// What the publisher is configured with.
PublishSettings publish_settings(const PublishConfig& config, const std::string& computer_name);

// Registry images: the switch, a text value as read (up to its first NUL),
// the password sealed and back (nothing when the system refuses).
std::vector<std::uint8_t> publish_switch_value(bool enabled);
bool publish_switch_from_value(const std::uint8_t* bytes, std::size_t size);
std::string text_from_value(const std::uint8_t* bytes, std::size_t size);
std::optional<std::vector<std::uint8_t>> seal_password(const std::string& password, DataProtection& protection);
std::optional<std::string> unseal_password(const std::vector<std::uint8_t>& sealed, DataProtection& protection);

// The settings dialog's boxes at OK with publishing on.
constexpr char publish_connection_missing_text[] =
    "Please enter the ODBC connection string or the DSN name of the database to publish to.";
std::string publish_test_failed_text(const std::string& driver_message);
constexpr char publish_settings_caption[] = "Settings Error";
// After OK, when the system would not seal the password: it is not stored.
constexpr char publish_password_unsealed_text[] =
    "The database password could not be stored protected on this computer. It holds until the server ends.";
// The note beside the connection box.
constexpr char publish_password_note[] =
    "A password (PWD=) is kept sealed on this computer and not shown again; leave it out to keep it.";

// Server Stats, "Awaiting Publish": what is not yet in the database; "Off"
// while publishing is off.
std::string awaiting_publish_text(const PublishStatus& status);

}  // namespace tally
