// File replacement and flushing on POSIX systems.
#include "server/store/file_replace.h"

#include <unistd.h>

namespace tally {

bool replace_file(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

bool flush_to_disk(std::FILE* f) { return std::fflush(f) == 0 && fsync(fileno(f)) == 0; }

}  // namespace tally
