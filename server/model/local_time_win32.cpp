// Local time on Windows.
#include "server/model/local_time.h"

namespace tally {

bool local_time(std::time_t t, std::tm& out) { return localtime_s(&out, &t) == 0; }

}  // namespace tally
