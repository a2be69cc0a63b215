// Sockets, address lookups and the usage message of scoutly on Windows.
#include "client/win32.h"

#include <cstring>
#include <ctime>

namespace tally::client {

namespace {

// _WSAIOW(IOC_VENDOR, 12): whether a datagram socket reports "connection reset".
constexpr DWORD udp_connection_reset_control = 0x9800000C;

// Where Group Policy puts the client's settings.
const char policy_key[] = "Software\\Policies\\Kestrin\\scoutly";

// The SiteKey text of the policy key in one registry view; nothing when the
// key, the value or 64 hexadecimal digits are missing.
std::optional<SiteKey> policy_site_key(REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, policy_key, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char text[128] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(key, "SiteKey", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    text[size < sizeof text ? size : sizeof text - 1] = '\0';
    return parse_key_text(text);
}

Ipv4 ipv4_from_network_order(const void* addr) {
    Ipv4 out{};
    std::memcpy(out.data(), addr, 4);
    return out;
}

}  // namespace

bool Win32Platform::parse_dotted(const std::string& text, Ipv4& out) {
    unsigned long addr = inet_addr(text.c_str());
    // The parser's error value: the text is no address (a literal
    // 255.255.255.255 could not be sent to either).
    if (addr == INADDR_NONE) return false;
    out = ipv4_from_network_order(&addr);
    return true;
}

bool Win32Platform::lookup_host(const std::string& text, Ipv4& out) { return lookup_ipv4(text, out); }

bool Win32Platform::start_sockets(std::uint16_t& winsock_version) {
    if (!tally::start_sockets(&winsock_version)) return false;
    started_ = true;
    return true;
}

void Win32Platform::stop_sockets() {
    socket_.close();
    if (started_) tally::stop_sockets();
    started_ = false;
}

void Win32Platform::show_usage(const std::string& text, const char* caption) {
    MessageBoxA(nullptr, text.c_str(), caption, MB_OK | MB_ICONERROR);
}

bool Win32Platform::open_socket() {
    if (!socket_.open()) return false;
    // A report sent to a closed port must not turn into a receive error of
    // the resident wait ("connection reset" on a datagram socket).
    BOOL report_reset = FALSE;
    DWORD returned = 0;
    WSAIoctl(static_cast<SOCKET>(socket_.handle()), udp_connection_reset_control, &report_reset, sizeof report_reset, nullptr,
             0, &returned, nullptr, nullptr);
    return true;
}

bool Win32Platform::bind_socket(std::uint16_t port) { return socket_.bind(port); }

void Win32Platform::send(const Ipv4& to, std::uint16_t port, const std::uint8_t* data, std::size_t size) {
    socket_.send_to(to, port, data, size);
}

ReceiveResult Win32Platform::receive_within(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) {
    if (!socket_.wait_readable(timeout_ms)) {
        ReceiveResult none;
        none.would_block = true;
        return none;
    }
    ReceiveResult result = socket_.receive(buffer, capacity);
    // A socket that keeps failing must not spin the processor: a datagram
    // too long for the buffer is the one error expected here.
    if (!result.ok && result.error != error_message_too_long) Sleep(100);
    return result;
}

std::optional<SiteKey> Win32Platform::site_key() {
    // Group Policy writes the 64-bit view on 64-bit Windows; a 32-bit
    // Windows has only the plain one (where the flag is ignored).
    std::optional<SiteKey> key = policy_site_key(KEY_WOW64_64KEY);
    return key ? key : policy_site_key(0);
}

std::uint64_t Win32Platform::milliseconds() { return GetTickCount64(); }

}  // namespace tally::client
