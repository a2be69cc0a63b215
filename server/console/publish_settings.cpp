// Publishing settings: the connection string's password taken out and put
// back, the registry value images and the texts of the dialog and the Server
// Stats page.
#include "server/console/publish_settings.h"

#include <cctype>
#include <vector>

namespace tally {

namespace {

std::string trimmed(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

bool names_password(const std::string& key) {
    std::string lower;
    for (char c : trimmed(key)) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "pwd" || lower == "password";
}

// One attribute of a connection string: its text as written (without the
// ';' that ends it), its key and its value (braces removed, "}}" read as "}").
struct Attribute {
    std::string text;
    std::string key;
    std::string value;
};

// A value in braces from `at` (the '{'): to the '}' that is not doubled, or
// to the end when it is never closed (so an unclosed password is still
// taken out whole). Returns the position after it.
std::size_t read_braced(const std::string& s, std::size_t at, std::string& value) {
    std::size_t q = at + 1;
    while (q < s.size()) {
        if (s[q] == '}') {
            if (q + 1 < s.size() && s[q + 1] == '}') {
                value += '}';
                q += 2;
                continue;
            }
            return q + 1;
        }
        value += s[q++];
    }
    return q;
}

std::vector<Attribute> attributes(const std::string& s) {
    std::vector<Attribute> out;
    std::size_t p = 0;
    while (p < s.size()) {
        const std::size_t begin = p;
        while (p < s.size() && s[p] != '=' && s[p] != ';') ++p;
        Attribute a;
        a.key = s.substr(begin, p - begin);
        if (p < s.size() && s[p] == '=') {
            std::size_t v = ++p;
            while (v < s.size() && s[v] == ' ') ++v;
            if (v < s.size() && s[v] == '{') p = read_braced(s, v, a.value);
            const std::size_t rest = p;
            while (p < s.size() && s[p] != ';') ++p;
            if (v >= s.size() || s[v] != '{') a.value = s.substr(rest, p - rest);
        }
        a.text = s.substr(begin, p - begin);
        out.push_back(a);
        if (p < s.size()) ++p;  // the ';'
    }
    return out;
}

bool needs_braces(const std::string& value) {
    if (value.find_first_of(";{}") != std::string::npos) return true;
    return !value.empty() && (value.front() == ' ' || value.back() == ' ');
}

std::string braced(const std::string& value) {
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

}  // namespace

SplitConnection take_password(const std::string& connection) {
    SplitConnection split;
    for (const Attribute& a : attributes(connection)) {
        if (names_password(a.key)) {
            split.password = a.value;
            continue;
        }
        if (trimmed(a.text).empty()) continue;
        if (!split.without_password.empty()) split.without_password += ';';
        split.without_password += a.text;
    }
    const std::string end = trimmed(connection);
    if (!split.without_password.empty() && !end.empty() && end.back() == ';') split.without_password += ';';
    return split;
}

std::string connection_with_password(const std::string& connection, const std::string& password) {
    std::string full = trimmed(connection);
    if (!full.empty() && full.find('=') == std::string::npos) full = "DSN=" + full;
    if (password.empty()) return full;
    if (!full.empty() && full.back() != ';') full += ';';
    return full + "PWD=" + (needs_braces(password) ? braced(password) : password);
}

void take_connection_box(PublishConfig& config, const std::string& box) {
    if (trimmed(box).empty()) {
        config.connection.clear();
        config.password.clear();
        return;
    }
    SplitConnection split = take_password(box);
    config.connection = split.without_password;
    if (split.password) config.password = *split.password;
}

std::string effective_site(const PublishConfig& config, const std::string& computer_name) {
    const std::string site = trimmed(config.site);
    return site.empty() ? computer_name : site;
}

std::string site_from_box(const std::string& box, const std::string& computer_name) {
    const std::string site = trimmed(box);
    return site == computer_name ? std::string() : site;
}

PublishSettings publish_settings(const PublishConfig& config, const std::string& computer_name) {
    PublishSettings settings;
    settings.enabled = config.enabled && !trimmed(config.connection).empty();
    settings.connection_string = connection_with_password(config.connection, config.password);
    settings.site = effective_site(config, computer_name);
    return settings;
}

std::vector<std::uint8_t> publish_switch_value(bool enabled) { return {static_cast<std::uint8_t>(enabled ? 1 : 0)}; }

bool publish_switch_from_value(const std::uint8_t* bytes, std::size_t size) { return size > 0 && bytes[0] != 0; }

std::string text_from_value(const std::uint8_t* bytes, std::size_t size) {
    std::size_t n = 0;
    while (n < size && bytes[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

std::optional<std::vector<std::uint8_t>> seal_password(const std::string& password, DataProtection& protection) {
    std::vector<std::uint8_t> sealed;
    if (!protection.protect(std::vector<std::uint8_t>(password.begin(), password.end()), sealed) || sealed.empty())
        return std::nullopt;
    return sealed;
}

std::optional<std::string> unseal_password(const std::vector<std::uint8_t>& sealed, DataProtection& protection) {
    std::vector<std::uint8_t> plain;
    if (sealed.empty() || !protection.unprotect(sealed, plain)) return std::nullopt;
    return std::string(plain.begin(), plain.end());
}

std::string publish_test_failed_text(const std::string& driver_message) {
    const std::string message = trimmed(driver_message);
    return "Unable to connect to the database with this connection string:\n\n" +
           (message.empty() ? std::string("The driver gave no reason.") : message);
}

std::string awaiting_publish_text(const PublishStatus& status) {
    return status.enabled ? std::to_string(status.awaiting) : std::string("Off");
}

}  // namespace tally
