// Machine-scope data protection (CryptProtectData) of the site keys and the
// database password: a sealed secret can be opened on this computer only, by
// any of its accounts, without a prompt.
#include <windows.h>
#include <wincrypt.h>

#include "server/console/win32/console_win32.h"

namespace tally {

namespace {

bool run_protection(bool seal, const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
    out.clear();
    DATA_BLOB input{static_cast<DWORD>(in.size()), const_cast<BYTE*>(in.data())};
    DATA_BLOB result{0, nullptr};
    const DWORD flags = CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN;
    const BOOL ok = seal ? CryptProtectData(&input, L"tallyhall secret", nullptr, nullptr, nullptr, flags, &result)
                         : CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, flags, &result);
    if (!ok) return false;
    out.assign(result.pbData, result.pbData + result.cbData);
    SecureZeroMemory(result.pbData, result.cbData);
    LocalFree(result.pbData);
    return true;
}

}  // namespace

bool SystemDataProtection::protect(const std::vector<std::uint8_t>& plain, std::vector<std::uint8_t>& out) {
    return run_protection(true, plain, out);
}

bool SystemDataProtection::unprotect(const std::vector<std::uint8_t>& sealed, std::vector<std::uint8_t>& out) {
    return run_protection(false, sealed, out);
}

}  // namespace tally
