// Puts one file in place of another in one step of the file system, so
// that a crash leaves one of the two whole; and forces a file's bytes to disk.
#pragma once

#include <cstdio>
#include <string>

namespace tally {

// Renames `from` to `to`, replacing `to`. False on failure (both stay).
bool replace_file(const std::string& from, const std::string& to);
// Flushes the stream and asks the system to put its bytes on the disk.
bool flush_to_disk(std::FILE* f);

}  // namespace tally
