// Database files on C streams; the 64-bit positioning, the cutting and the
// path separator of each platform are in db_file_posix.cpp and db_file_win32.cpp.
#include "server/store/db_file.h"

#include <cerrno>

#include "server/store/file_replace.h"

namespace tally {

std::string join_path(const std::string& directory, const std::string& file_name) {
    if (!directory.empty() && directory.back() == path_separator) return directory + file_name;
    return directory + path_separator + file_name;
}

DbFile::OpenResult DbFile::open_or_create(const std::string& path) {
    close();
    errno = 0;
    file_.reset(std::fopen(path.c_str(), "rb+"));
    OpenResult result = OpenResult::opened;
    if (!file_.is_open()) {
        if (errno != ENOENT) return OpenResult::failed;
        file_.reset(std::fopen(path.c_str(), "wb+"));
        if (!file_.is_open()) return OpenResult::missing_and_not_created;
        result = OpenResult::created;
    }
    // Unbuffered: a write that fails leaves nothing behind in the stream to
    // reach the file later at another position.
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    return result;
}

bool DbFile::open_read_only(const std::string& path) {
    close();
    file_.reset(std::fopen(path.c_str(), "rb"));
    return file_.is_open();
}

std::int64_t DbFile::length() {
    if (!file_.is_open() || !seek(0, SEEK_END)) return -1;
    return tell();
}

std::size_t DbFile::read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (!file_.is_open() || !seek(offset, SEEK_SET)) return 0;
    return std::fread(out, 1, n, file_.get());
}

bool DbFile::write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
    if (!file_.is_open() || !seek(offset, SEEK_SET)) return false;
    const bool ok = std::fwrite(data, 1, n, file_.get()) == n && std::fflush(file_.get()) == 0;
    if (!ok) std::clearerr(file_.get());
    return ok;
}

bool DbFile::sync() { return file_.is_open() && flush_to_disk(file_.get()); }

}  // namespace tally
