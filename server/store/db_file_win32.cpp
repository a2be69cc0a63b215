// The Windows side of database files: 64-bit positioning, cutting, the '\\'.
#include <io.h>

#include "server/store/db_file.h"

namespace tally {

const char path_separator = '\\';

bool DbFile::seek(std::uint64_t offset, int whence) {
    return _fseeki64(file_.get(), static_cast<std::int64_t>(offset), whence) == 0;
}

std::int64_t DbFile::tell() { return static_cast<std::int64_t>(_ftelli64(file_.get())); }

bool DbFile::truncate(std::uint64_t length) {
    return file_.is_open() && _chsize_s(_fileno(file_.get()), static_cast<long long>(length)) == 0;
}

}  // namespace tally
