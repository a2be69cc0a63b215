// scoutly's Win32 side: the platform services, the probes and the uninstall
// entries behind the portable interfaces. Only the *_win32.cpp files include it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "client/client_run.h"
#include "client/hardware.h"
#include "client/software.h"
#include "protocol/udp.h"

namespace tally::client {

class Win32Platform : public ClientPlatform {
public:
    bool parse_dotted(const std::string& text, Ipv4& out) override;
    bool lookup_host(const std::string& text, Ipv4& out) override;
    bool start_sockets(std::uint16_t& winsock_version) override;
    void stop_sockets() override;
    void show_usage(const std::string& text, const char* caption) override;
    bool open_socket() override;
    bool bind_socket(std::uint16_t port) override;
    void send(const Ipv4& to, std::uint16_t port, const std::uint8_t* data, std::size_t size) override;
    ReceiveResult receive_within(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) override;
    std::uint64_t milliseconds() override;

private:
    UdpSocket socket_;
    bool started_ = false;
};

class Win32Probes : public HardwareProbes {
public:
    ~Win32Probes() override;
    void probe_mac(Mac& mac) override;
    void probe_processor(HardwareReport& r) override;
    void probe_drives(HardwareReport& r) override;
    void probe_memory(HardwareReport& r) override;
    void probe_version(HardwareReport& r) override;
    void probe_enclosure(std::string& asset_tag, std::string& serial_number, SystemFacts& facts) override;
    void probe_facts(SystemFacts& facts) override;
    void probe_computer_name(HardwareReport& r) override;
    void probe_user_name(HardwareReport& r) override;
    void probe_clock(HardwareReport& r, std::uint32_t& up_time_kept) override;
    void probe_display(HardwareReport& r) override;

private:
    bool interface_table_rows(std::vector<AdapterRow>& rows);
    bool snmp_rows(std::vector<AdapterRow>& rows);
    bool adapter_list_rows(std::vector<AdapterRow>& rows);

    HMODULE snmp_agent_ = nullptr;  // stays loaded for the run
    bool snmp_started_ = false;
    DEVMODEA display_mode_{};       // keeps the last mode obtained in this run
    std::string service_pack_;      // from the version probe, for the release text
};

// True on 64-bit Windows, where the registry has a 64-bit and a 32-bit view.
bool has_two_registry_views();

// The uninstall keys as one list: the machine key (on 64-bit Windows its
// 64-bit view, then its 32-bit view), then the current user's key.
class Win32UninstallEntries : public UninstallEntries {
public:
    ~Win32UninstallEntries() override { close(); }
    bool open() override;
    bool next(RegistryValue& name, RegistryValue& version) override;
    void close() override;

private:
    struct View {
        HKEY key = nullptr;
        REGSAM flags = 0;
    };
    static constexpr int max_views = 3;
    View views_[max_views];
    int view_count_ = 0;
    int view_ = 0;
    DWORD index_ = 0;
};

}  // namespace tally::client
