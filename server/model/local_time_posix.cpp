// Local time on POSIX systems.
#include "server/model/local_time.h"

namespace tally {

bool local_time(std::time_t t, std::tm& out) { return localtime_r(&t, &out) != nullptr; }

}  // namespace tally
