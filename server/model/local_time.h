// The local time of a moment, by the platform's thread-safe conversion: one
// header, local_time_posix.cpp and local_time_win32.cpp.
#pragma once

#include <ctime>

namespace tally {

// False when the moment cannot be converted.
bool local_time(std::time_t t, std::tm& out);

}  // namespace tally
