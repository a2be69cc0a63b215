// The hardware probes of scoutly on Windows: thin calls that hand their raw
// results to the portable code in hardware.h.
#include "client/win32.h"

#include <cpuid.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <oleauto.h>
#include <snmp.h>
#include <wbemidl.h>
#include <x86intrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tally::client {

namespace {

using SnmpInitFn = BOOL(WINAPI*)(DWORD, HANDLE*, AsnObjectIdentifier*);
using SnmpQueryFn = BOOL(WINAPI*)(BYTE, RFC1157VarBindList*, AsnInteger32*, AsnInteger32*);

constexpr BYTE snmp_get_next = 0xA1;
constexpr UINT column_ids = 10;
UINT if_type_column[column_ids] = {1, 3, 6, 1, 2, 1, 2, 2, 1, 3};
UINT if_phys_address_column[column_ids] = {1, 3, 6, 1, 2, 1, 2, 2, 1, 6};
// A walk that never leaves the table (an agent that keeps answering) still ends.
constexpr int max_interface_rows = 4096;

constexpr DWORD drive_string_buffer = 16384;
constexpr DWORD computer_name_size = 50;
constexpr DWORD user_name_size = 256;
constexpr DWORD clock_sleep_ms = 40;
// Each management object is awaited this long at most, and all of one
// session's objects together no longer than the session budget, so a stuck
// management service cannot hold up a log-in script.
constexpr DWORD management_object_wait_ms = 5000;
constexpr DWORD management_session_budget_ms = 15000;
#ifndef WBEM_FLAG_CONNECT_USE_MAX_WAIT
#define WBEM_FLAG_CONNECT_USE_MAX_WAIT 0x80
#endif
constexpr char windows_version_key[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr DWORD registry_text_room = 256;

bool column_matches(AsnObjectIdentifier* name, UINT* column) {
    AsnObjectIdentifier col{column_ids, column};
    return SnmpUtilOidNCmp(name, &col, column_ids) == 0;
}

// An owned COM interface pointer, released when it goes out of scope.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { reset(); }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T** out() {
        reset();
        return &p_;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// An owned BSTR.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

// COM started for one session, ended when the session ends.
class ComScope {
public:
    ComScope() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (started_) CoUninitialize();
    }
    bool started() const { return started_; }

private:
    bool started_;
};

// A string property as its UTF-16 text ("" when it is no string).
std::wstring property_text(IWbemClassObject* object, const wchar_t* property) {
    VARIANT v;
    VariantInit(&v);
    std::wstring text;
    if (SUCCEEDED(object->Get(property, 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR && v.bstrVal)
        text.assign(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return text;
}

std::string low_bytes(const std::wstring& text) {
    return low_bytes_of_utf16(reinterpret_cast<const std::uint16_t*>(text.c_str()), text.size());
}

// UTF-16 text in the ANSI code page, as the other text fields travel.
std::string ansi_text(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return trim_blanks(out);
}

// One connection to the management service in ROOT\CIMV2. Members are
// released in reverse order, the COM scope last.
class ManagementSession {
public:
    ManagementSession() : start_(GetTickCount()) {
        if (!com_.started()) return;
        const HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        // Security set by an earlier pass of a resident run is fine.
        if (FAILED(hr) && hr != RPC_E_TOO_LATE) return;
        Bstr name_space(L"ROOT\\CIMV2");
        if (!name_space) return;
        if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(locator_.out()))))
            return;
        // The connection is given up after the service's own maximum wait;
        // a service too old to know that flag is asked without it.
        HRESULT connected = locator_->ConnectServer(name_space, nullptr, nullptr, nullptr,
                                                    WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr, services_.out());
        if (connected == static_cast<HRESULT>(WBEM_E_INVALID_PARAMETER))
            connected = locator_->ConnectServer(name_space, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                                services_.out());
        if (FAILED(connected)) {
            services_.reset();
            return;
        }
        if (FAILED(CoSetProxyBlanket(services_.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                     RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
            services_.reset();
    }

    // Runs a WQL query and hands each object to `use`, in order; every wait
    // is bounded by the per-object time-out and the session budget.
    template <typename Use>
    void for_each(const wchar_t* wql, Use use) {
        if (!services_) return;
        Bstr language(L"WQL");
        Bstr query(wql);
        if (!language || !query) return;
        ComRef<IEnumWbemClassObject> enumerator;
        if (FAILED(services_->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                        nullptr, enumerator.out())))
            return;
        for (;;) {
            const DWORD used = GetTickCount() - start_;
            if (used >= management_session_budget_ms) return;
            const DWORD wait = std::min(management_object_wait_ms, management_session_budget_ms - used);
            ComRef<IWbemClassObject> object;
            ULONG returned = 0;
            const HRESULT hr = enumerator->Next(static_cast<long>(wait), 1, object.out(), &returned);
            if (FAILED(hr) || returned == 0 || !object) return;
            use(object.get());
        }
    }

private:
    ComScope com_;
    DWORD start_;
    ComRef<IWbemLocator> locator_;
    ComRef<IWbemServices> services_;
};

// A text value of the registry ("" when it is missing or no text).
std::string registry_text(HKEY key, const char* name) {
    char buffer[registry_text_room] = {0};
    DWORD type = 0;
    DWORD size = sizeof buffer - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    return trim_blanks(std::string(buffer, strnlen(buffer, sizeof buffer)));
}

}  // namespace

Win32Probes::~Win32Probes() {
    if (snmp_agent_) FreeLibrary(snmp_agent_);
}

// Interfaces table of the SNMP agent: the type and physical-address columns
// walked together with get-next.
bool Win32Probes::snmp_rows(std::vector<AdapterRow>& rows) {
    if (!snmp_agent_) snmp_agent_ = LoadLibraryA("inetmib1.dll");
    if (!snmp_agent_) return false;
    auto init = reinterpret_cast<SnmpInitFn>(reinterpret_cast<void*>(GetProcAddress(snmp_agent_, "SnmpExtensionInit")));
    auto query =
        reinterpret_cast<SnmpQueryFn>(reinterpret_cast<void*>(GetProcAddress(snmp_agent_, "SnmpExtensionQuery")));
    if (!init || !query) return false;
    if (!snmp_started_) {
        HANDLE trap = nullptr;
        AsnObjectIdentifier region{0, nullptr};
        init(GetTickCount(), &trap, &region);
        snmp_started_ = true;
    }

    RFC1157VarBind binds[2];
    std::memset(binds, 0, sizeof binds);
    AsnObjectIdentifier type_col{column_ids, if_type_column};
    AsnObjectIdentifier addr_col{column_ids, if_phys_address_column};
    SnmpUtilOidCpy(&binds[0].name, &type_col);
    SnmpUtilOidCpy(&binds[1].name, &addr_col);
    RFC1157VarBindList list{binds, 2};

    for (int row = 0; row < max_interface_rows; ++row) {
        AsnInteger32 status = 0, index = 0;
        if (!query(snmp_get_next, &list, &status, &index)) break;
        if (!column_matches(&binds[0].name, if_type_column)) break;
        AdapterRow r;
        r.type = binds[0].value.asnType == ASN_INTEGER ? static_cast<std::uint32_t>(binds[0].value.asnValue.number)
                                                       : 0;
        if (!column_matches(&binds[1].name, if_phys_address_column)) break;
        // Only an octet string holds an address; an agent may answer with
        // another type when it runs out of the column.
        r.address_is_octets = binds[1].value.asnType == ASN_OCTETSTRING;
        if (r.address_is_octets && binds[1].value.asnValue.string.stream)
            r.address.assign(binds[1].value.asnValue.string.stream,
                             binds[1].value.asnValue.string.stream + binds[1].value.asnValue.string.length);
        rows.push_back(r);
    }
    SnmpUtilVarBindFree(&binds[0]);
    SnmpUtilVarBindFree(&binds[1]);
    return true;
}

// The IP helper's adapter list, in the order the system reports it.
bool Win32Probes::adapter_list_rows(std::vector<AdapterRow>& rows) {
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return false;
    std::vector<std::uint8_t> buffer(size);
    auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(info, &size) != ERROR_SUCCESS) return false;
    for (IP_ADAPTER_INFO* a = info; a; a = a->Next) {
        AdapterRow r;
        r.type = a->Type == MIB_IF_TYPE_ETHERNET ? ethernet_interface_type : a->Type;
        UINT length = a->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH ? a->AddressLength : MAX_ADAPTER_ADDRESS_LENGTH;
        r.address.assign(a->Address, a->Address + length);
        rows.push_back(r);
    }
    return true;
}

// The IP helper's interface table (Vista and later, looked up at run time):
// type, current and permanent address and the hardware-interface flag, in
// interface-index order, the order of the SNMP agent's interfaces table.
bool Win32Probes::interface_table_rows(std::vector<AdapterRow>& rows) {
    using GetIfTable2Fn = DWORD(WINAPI*)(PMIB_IF_TABLE2*);
    using FreeMibTableFn = void(WINAPI*)(PVOID);
    HMODULE helper = GetModuleHandleA("iphlpapi.dll");
    if (!helper) return false;
    auto get_table =
        reinterpret_cast<GetIfTable2Fn>(reinterpret_cast<void*>(GetProcAddress(helper, "GetIfTable2")));
    auto free_table =
        reinterpret_cast<FreeMibTableFn>(reinterpret_cast<void*>(GetProcAddress(helper, "FreeMibTable")));
    if (!get_table || !free_table) return false;
    PMIB_IF_TABLE2 table = nullptr;
    if (get_table(&table) != NO_ERROR || !table) return false;
    std::vector<std::pair<NET_IFINDEX, AdapterRow>> indexed;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        AdapterRow r;
        r.type = row.Type;
        const ULONG length = std::min<ULONG>(row.PhysicalAddressLength, IF_MAX_PHYS_ADDRESS_LENGTH);
        r.address.assign(row.PhysicalAddress, row.PhysicalAddress + length);
        r.permanent_address.assign(row.PermanentPhysicalAddress, row.PermanentPhysicalAddress + length);
        r.kind = row.InterfaceAndOperStatusFlags.HardwareInterface ? AdapterKind::physical : AdapterKind::virtual_;
        indexed.emplace_back(row.InterfaceIndex, r);
    }
    free_table(table);
    std::stable_sort(indexed.begin(), indexed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& entry : indexed) rows.push_back(std::move(entry.second));
    return true;
}

void Win32Probes::probe_mac(Mac& mac) {
    // The interface table tells hardware from virtual adapters; where it is
    // missing, the SNMP agent's table, then the adapter list, by the rule of
    // the last usable adapter.
    std::vector<AdapterRow> rows;
    if (interface_table_rows(rows) && choose_mac(rows, mac)) return;
    rows.clear();
    if (snmp_rows(rows) && choose_mac(rows, mac)) return;
    // Without the agent, or without a usable row from it, every such computer
    // would share the zero key: ask the IP helper instead.
    rows.clear();
    if (adapter_list_rows(rows)) choose_mac(rows, mac);
}

void Win32Probes::probe_processor(HardwareReport& r) {
    CpuidZero f0;
    unsigned int eax, ebx, ecx, edx;
    __cpuid(0, eax, ebx, ecx, edx);
    f0.eax = eax;
    f0.ebx = ebx;
    f0.ecx = ecx;
    f0.edx = edx;
    std::uint32_t f1_eax = 0;
    if (eax >= 1) {
        __cpuid(1, eax, ebx, ecx, edx);
        f1_eax = eax;
    }
    set_processor_fields(r, f0, f1_eax);
}

void Win32Probes::probe_drives(HardwareReport& r) {
    std::vector<char> buffer(drive_string_buffer, '\0');
    DWORD length = GetLogicalDriveStringsA(drive_string_buffer - 1, buffer.data());
    if (length == 0 || length >= drive_string_buffer) return;
    std::vector<std::string> roots = split_drive_strings(buffer.data(), length);
    for (std::size_t i = 0; i < roots.size(); ++i) {
        r.drive_letters[i] = static_cast<std::uint8_t>(roots[i][0]);
        r.drive_types[i] = GetDriveTypeA(roots[i].c_str());
        if (r.drive_types[i] != fixed_drive_type) continue;
        ULARGE_INTEGER available, total, free_bytes;
        if (GetDiskFreeSpaceExA(roots[i].c_str(), &available, &total, &free_bytes)) {
            r.total_disk_space[i] = total.QuadPart;
            r.free_disk_space[i] = free_bytes.QuadPart;
        }
    }
}

void Win32Probes::probe_memory(HardwareReport& r) {
    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return;
    r.ram_bytes = cap_bytes(status.ullTotalPhys);
    r.pagefile_bytes = cap_bytes(status.ullTotalPageFile);
    r.ram_mb = mb_from_bytes_capped(status.ullTotalPhys);
    r.pagefile_mb = mb_from_bytes_capped(status.ullTotalPageFile);
}

void Win32Probes::probe_version(HardwareReport& r) {
    // The extended structure also gives the product type; systems that do
    // not know it (Windows 95, NT 4 before SP6) take the 148-byte one.
    OSVERSIONINFOEXA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    bool extended = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != 0;
    if (!extended) {
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);  // 148
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return;
    }
    r.windows_major = static_cast<std::uint8_t>(info.dwMajorVersion);
    r.windows_minor = static_cast<std::uint8_t>(info.dwMinorVersion);
    r.windows_build = static_cast<std::uint16_t>(info.dwBuildNumber);
    r.windows_platform = info.dwPlatformId;
    if (extended) r.product_type = info.wProductType;
    service_pack_.assign(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
}

void Win32Probes::probe_enclosure(std::string& asset_tag, std::string& serial_number, SystemFacts& facts) {
    ManagementSession session;
    session.for_each(L"SELECT * FROM Win32_SystemEnclosure", [&](IWbemClassObject* object) {
        // The last enclosure object's values are the ones sent.
        serial_number = low_bytes(property_text(object, L"SerialNumber"));
        asset_tag = low_bytes(property_text(object, L"SMBIOSAssetTag"));
    });
    session.for_each(L"SELECT Manufacturer, Model FROM Win32_ComputerSystem", [&](IWbemClassObject* object) {
        facts.manufacturer = ansi_text(property_text(object, L"Manufacturer"));
        facts.model = ansi_text(property_text(object, L"Model"));
    });
    session.for_each(L"SELECT SerialNumber FROM Win32_BIOS", [&](IWbemClassObject* object) {
        facts.bios_serial = ansi_text(property_text(object, L"SerialNumber"));
    });
}

void Win32Probes::probe_facts(SystemFacts& facts) {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0x80000000u, eax, ebx, ecx, edx);
    if (eax >= brand_last_function && eax <= brand_last_function + 0xFFFFu) {
        std::uint32_t regs[12];
        for (std::uint32_t f = brand_first_function, i = 0; f <= brand_last_function; ++f, i += 4) {
            __cpuid(f, eax, ebx, ecx, edx);
            regs[i] = eax;
            regs[i + 1] = ebx;
            regs[i + 2] = ecx;
            regs[i + 3] = edx;
        }
        facts.processor_name = processor_brand(regs);
    }
    // The version key of the 64-bit view on 64-bit Windows.
    HKEY key = nullptr;
    const REGSAM view = has_two_registry_views() ? KEY_WOW64_64KEY : 0;
    std::string display_version, release_id;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, windows_version_key, 0, KEY_QUERY_VALUE | view, &key) == ERROR_SUCCESS) {
        facts.windows_edition = registry_text(key, "EditionID");
        display_version = registry_text(key, "DisplayVersion");
        release_id = registry_text(key, "ReleaseId");
        RegCloseKey(key);
    }
    facts.display_version = choose_display_version(display_version, release_id, service_pack_);
}

void Win32Probes::probe_computer_name(HardwareReport& r) {
    char name[computer_name_size] = {0};
    DWORD size = computer_name_size;
    if (GetComputerNameA(name, &size)) r.computer_name.assign(name, strnlen(name, sizeof name));
}

void Win32Probes::probe_user_name(HardwareReport& r) {
    char name[user_name_size] = {0};
    DWORD size = user_name_size;
    if (GetUserNameA(name, &size)) r.last_user.assign(name, strnlen(name, sizeof name));
}

void Win32Probes::probe_clock(HardwareReport& r, std::uint32_t& up_time_kept) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return;
    ClockSample samples[clock_sample_count];
    for (ClockSample& s : samples) {
        LARGE_INTEGER c1, c2;
        if (!QueryPerformanceCounter(&c1)) return;
        s.t1 = __rdtsc();
        Sleep(clock_sleep_ms);
        if (!QueryPerformanceCounter(&c2)) return;
        s.t2 = __rdtsc();
        s.c1 = static_cast<std::uint64_t>(c1.QuadPart);
        s.c2 = static_cast<std::uint64_t>(c2.QuadPart);
    }
    float speed = 0.0f;
    std::uint32_t up_time = 0;
    if (!compute_clock(static_cast<std::uint64_t>(frequency.QuadPart), samples, speed, up_time)) return;
    r.speed_mhz = speed;
    up_time_kept = up_time;
}

void Win32Probes::probe_display(HardwareReport& r) {
    DEVMODEA mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dmSize = sizeof mode;
    if (EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) display_mode_ = mode;
    r.bits_per_pixel = display_mode_.dmBitsPerPel;
    r.video_width = display_mode_.dmPelsWidth;
    r.video_height = display_mode_.dmPelsHeight;
    r.refresh_rate = static_cast<std::uint16_t>(display_mode_.dmDisplayFrequency);
    r.interlaced = interlaced_from_flags(display_mode_.dmDisplayFlags);
}

}  // namespace tally::client
