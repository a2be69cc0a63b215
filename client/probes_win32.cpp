// The hardware probes of scoutly on Windows: thin calls that hand their raw
// results to the portable code in hardware.h.
#include "client/win32.h"

#include <cpuid.h>
#include <iphlpapi.h>
#include <oleauto.h>
#include <snmp.h>
#include <wbemidl.h>
#include <x86intrin.h>

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
// Each enclosure object is awaited this long at most, so a stuck management
// service cannot hold up a log-in script.
constexpr long enclosure_wait_ms = 5000;

bool column_matches(AsnObjectIdentifier* name, UINT* column) {
    AsnObjectIdentifier col{column_ids, column};
    return SnmpUtilOidNCmp(name, &col, column_ids) == 0;
}

// The low bytes of a string property, or "" for one that is not a string.
std::string enclosure_text(IWbemClassObject* object, const wchar_t* property) {
    VARIANT v;
    VariantInit(&v);
    std::string text;
    if (SUCCEEDED(object->Get(property, 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR && v.bstrVal) {
        const std::uint16_t* units = reinterpret_cast<const std::uint16_t*>(v.bstrVal);
        text = low_bytes_of_utf16(units, SysStringLen(v.bstrVal));
    }
    VariantClear(&v);
    return text;
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

void Win32Probes::probe_mac(Mac& mac) {
    std::vector<AdapterRow> rows;
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
}

void Win32Probes::probe_version(HardwareReport& r) {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;  // 148
    if (!GetVersionExA(&info)) return;
    r.windows_major = static_cast<std::uint8_t>(info.dwMajorVersion);
    r.windows_minor = static_cast<std::uint8_t>(info.dwMinorVersion);
    r.windows_build = static_cast<std::uint16_t>(info.dwBuildNumber);
    r.windows_platform = info.dwPlatformId;
}

void Win32Probes::probe_enclosure(std::string& asset_tag, std::string& serial_number) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) return;
    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    IEnumWbemClassObject* enumerator = nullptr;
    BSTR name_space = SysAllocString(L"ROOT\\CIMV2");
    BSTR language = SysAllocString(L"WQL");
    BSTR query = SysAllocString(L"SELECT * FROM Win32_SystemEnclosure");

    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                              nullptr, EOAC_NONE, nullptr);
    // Security set by an earlier pass of a resident run is fine.
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) goto clean_up;
    if (!name_space || !language || !query) goto clean_up;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator))))
        goto clean_up;
    if (FAILED(locator->ConnectServer(name_space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services)))
        goto clean_up;
    if (FAILED(CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
        goto clean_up;
    if (FAILED(services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                   &enumerator)))
        goto clean_up;
    for (;;) {
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        hr = enumerator->Next(enclosure_wait_ms, 1, &object, &returned);
        if (FAILED(hr) || returned == 0 || !object) break;
        // The last enclosure object's values are the ones sent.
        serial_number = enclosure_text(object, L"SerialNumber");
        asset_tag = enclosure_text(object, L"SMBIOSAssetTag");
        object->Release();
    }

clean_up:
    if (enumerator) enumerator->Release();
    if (services) services->Release();
    if (locator) locator->Release();
    SysFreeString(query);
    SysFreeString(language);
    SysFreeString(name_space);
    CoUninitialize();
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
