// The benchmark process's resident memory in MiB: the working set of a
// Windows program (under Wine too), VmRSS natively.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <cstdlib>
#include <fstream>
#include <string>
#endif

namespace bench {

inline double resident_mib() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof c;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c)) return 0;
    return static_cast<double>(c.WorkingSetSize) / 1048576.0;
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return static_cast<double>(std::atol(line.c_str() + 6)) / 1024.0;
    return 0;
#endif
}

}  // namespace bench
