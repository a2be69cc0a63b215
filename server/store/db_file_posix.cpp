// The POSIX side of database files: 64-bit positioning, cutting, the '/'.
#include <unistd.h>

#include "server/store/db_file.h"

namespace tally {

const char path_separator = '/';

bool DbFile::seek(std::uint64_t offset, int whence) { return fseeko(file_.get(), static_cast<off_t>(offset), whence) == 0; }

std::int64_t DbFile::tell() { return static_cast<std::int64_t>(ftello(file_.get())); }

bool DbFile::truncate(std::uint64_t length) {
    return file_.is_open() && ftruncate(fileno(file_.get()), static_cast<off_t>(length)) == 0;
}

}  // namespace tally
