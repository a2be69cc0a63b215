// File replacement and flushing on Windows.
#include "server/store/file_replace.h"

#include <io.h>
#include <windows.h>

namespace tally {

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool flush_to_disk(std::FILE* f) { return std::fflush(f) == 0 && _commit(_fileno(f)) == 0; }

}  // namespace tally
