// The server's signing settings: its site key, the previous key during a
// change-over, and whether unsigned reports are accepted; how they travel
// through the registry values beside Audit_PathName, and their texts in the
// settings dialog.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/signing.h"
#include "server/console/data_protection.h"
#include "server/intake/signing_rules.h"

namespace tally {

// Registry values under Software\Kestrin, beside Audit_PathName and
// Audit_Port (which stay as they are). Both keys are REG_BINARY, sealed by
// the system's data protection; the time is 8 bytes, little-endian, seconds
// since 1970; the rule is one byte, 0 refused, anything else (or no value)
// accepted.
constexpr char site_key_value[] = "Audit_SiteKey";
constexpr char previous_key_value[] = "Audit_PreviousSiteKey";
constexpr char previous_until_value[] = "Audit_PreviousKeyUntil";
constexpr char unsigned_reports_value[] = "Audit_UnsignedReports";

// How long clients that still have the previous key are accepted after a
// new key was made: time for Group Policy to reach every computer.
constexpr std::uint64_t key_change_over_seconds = 14 * 24 * 60 * 60;

// "New Key...": the fresh key becomes current; the current one, if any,
// stays accepted until now + the change-over.
void change_site_key(SigningSettings& settings, const SiteKey& fresh, std::uint64_t now);

// A key as stored (sealed) and back; nothing when the system refuses or the
// value does not hold a key.
std::optional<std::vector<std::uint8_t>> seal_key(const SiteKey& key, DataProtection& protection);
std::optional<SiteKey> unseal_key(const std::vector<std::uint8_t>& sealed, DataProtection& protection);
std::vector<std::uint8_t> time_value(std::uint64_t seconds);
std::uint64_t time_from_value(const std::uint8_t* bytes, std::size_t size);
std::vector<std::uint8_t> rule_value(bool accept_unsigned);
bool accept_unsigned_from_value(const std::uint8_t* bytes, std::size_t size);

// The settings dialog's texts: the key in use, the previous key's deadline
// (empty when no previous key counts any longer), and the note beside the
// key shown once.
std::string site_key_state_text(const KeyRing& keys);
std::string previous_key_text(const KeyRing& keys, std::uint64_t now);
std::string new_key_note_text();
// The box when no key can be made or stored; the keys stay as they were.
constexpr char new_key_failed_text[] = "Unable to make and store a new site key. The keys in use are unchanged.";
constexpr char new_key_failed_caption[] = "Settings Error";

}  // namespace tally
