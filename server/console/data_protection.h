// The system's protection of secrets at rest, for the site keys and the
// database password the server keeps in the registry: on Windows
// machine-scope data protection (readable by this computer only), a stand-in
// in the native tests.
#pragma once

#include <cstdint>
#include <vector>

namespace tally {

class DataProtection {
public:
    virtual ~DataProtection() = default;
    // False when the system refuses; out is then left empty.
    virtual bool protect(const std::vector<std::uint8_t>& plain, std::vector<std::uint8_t>& out) = 0;
    virtual bool unprotect(const std::vector<std::uint8_t>& sealed, std::vector<std::uint8_t>& out) = 0;
};

}  // namespace tally
