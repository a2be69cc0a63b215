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

DbFile& DbFile::operator=(DbFile&& other) noexcept {
    if (this != &other) {
        close();
        f_ = other.f_;
        other.f_ = nullptr;
    }
    return *this;
}

DbFile::OpenResult DbFile::open_or_create(const std::string& path) {
    close();
    errno = 0;
    f_ = std::fopen(path.c_str(), "rb+");
    OpenResult result = OpenResult::opened;
    if (!f_) {
        if (errno != ENOENT) return OpenResult::failed;
        f_ = std::fopen(path.c_str(), "wb+");
        if (!f_) return OpenResult::missing_and_not_created;
        result = OpenResult::created;
    }
    // Unbuffered: a write that fails leaves nothing behind in the stream to
    // reach the file later at another position.
    std::setvbuf(f_, nullptr, _IONBF, 0);
    return result;
}

bool DbFile::open_read_only(const std::string& path) {
    close();
    f_ = std::fopen(path.c_str(), "rb");
    return f_ != nullptr;
}

std::int64_t DbFile::length() {
    if (!f_ || !seek(0, SEEK_END)) return -1;
    return tell();
}

std::size_t DbFile::read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (!f_ || !seek(offset, SEEK_SET)) return 0;
    return std::fread(out, 1, n, f_);
}

bool DbFile::write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
    if (!f_ || !seek(offset, SEEK_SET)) return false;
    const bool ok = std::fwrite(data, 1, n, f_) == n && std::fflush(f_) == 0;
    if (!ok) std::clearerr(f_);
    return ok;
}

bool DbFile::sync() { return f_ && flush_to_disk(f_); }

void DbFile::close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
}

}  // namespace tally
