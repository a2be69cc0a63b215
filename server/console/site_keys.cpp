// Signing settings: the key change-over, the registry value images and the
// dialog's texts.
#include "server/console/site_keys.h"

#include "server/model/formats.h"

namespace tally {

void change_site_key(SigningSettings& settings, const SiteKey& fresh, std::uint64_t now) {
    KeyRing& keys = settings.keys;
    if (keys.current) {
        keys.previous = keys.current;
        keys.previous_until = now + key_change_over_seconds;
    }
    keys.current = fresh;
}

std::optional<std::vector<std::uint8_t>> seal_key(const SiteKey& key, DataProtection& protection) {
    std::vector<std::uint8_t> sealed;
    if (!protection.protect(std::vector<std::uint8_t>(key.begin(), key.end()), sealed) || sealed.empty())
        return std::nullopt;
    return sealed;
}

std::optional<SiteKey> unseal_key(const std::vector<std::uint8_t>& sealed, DataProtection& protection) {
    std::vector<std::uint8_t> plain;
    SiteKey key;
    if (sealed.empty() || !protection.unprotect(sealed, plain) || plain.size() != key.size()) return std::nullopt;
    std::copy(plain.begin(), plain.end(), key.begin());
    return key;
}

std::vector<std::uint8_t> time_value(std::uint64_t seconds) {
    std::vector<std::uint8_t> value(8);
    put_u64(value.data(), seconds);
    return value;
}

std::uint64_t time_from_value(const std::uint8_t* bytes, std::size_t size) {
    return size == 8 ? get_u64(bytes) : 0;
}

std::vector<std::uint8_t> rule_value(bool accept_unsigned) { return {static_cast<std::uint8_t>(accept_unsigned)}; }

bool accept_unsigned_from_value(const std::uint8_t* bytes, std::size_t size) { return size == 0 || bytes[0] != 0; }

std::string site_key_state_text(const KeyRing& keys) {
    if (!keys.current) return "No site key: reports are not signed";
    return "Site key " + key_id_text(key_id(*keys.current));
}

std::string previous_key_text(const KeyRing& keys, std::uint64_t now) {
    if (!keys.previous || now >= keys.previous_until) return std::string();
    // The date text without its line end; a time beyond 2106 shows as such.
    const std::uint32_t until = keys.previous_until > 0xFFFFFFFFull ? 0xFFFFFFFFu
                                                                     : static_cast<std::uint32_t>(keys.previous_until);
    std::string date = date_text(until);
    if (!date.empty() && date.back() == '\n') date.pop_back();
    return "Previous key accepted until " + date;
}

std::string new_key_note_text() {
    return "This key is shown only now. Give it to every computer through Group Policy: key "
           "HKEY_LOCAL_MACHINE\\Software\\Policies\\Kestrin\\scoutly, value SiteKey (REG_SZ). "
           "Clients with the previous key are accepted for 14 more days.";
}

}  // namespace tally
