// A database file opened in binary update mode, with positioned whole-record
// writes. Writes that continue one another are gathered and handed to the
// operating system together at the next flush() (or at the next write
// elsewhere in the file); callers flush before they return to the message
// loop, so every record that was handled survives a crash of the server.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tally {

class DbFile {
public:
    enum class OpenResult { opened, created, missing_and_not_created, failed };

    DbFile() = default;
    ~DbFile() { close(); }
    DbFile(const DbFile&) = delete;
    DbFile& operator=(const DbFile&) = delete;
    DbFile(DbFile&& other) noexcept
        : f_(other.f_), pending_offset_(other.pending_offset_), pending_(std::move(other.pending_)) {
        other.f_ = nullptr;
    }
    DbFile& operator=(DbFile&& other) noexcept;

    // Opens the file for reading and writing ("rb+"); creates it empty
    // ("wb+") when it does not exist.
    OpenResult open_or_create(const std::string& path);
    bool is_open() const { return f_ != nullptr; }
    // Length in bytes, or -1 when it cannot be taken.
    std::int64_t length();
    // Reads up to n bytes from the start; returns the bytes read.
    std::size_t read_from_start(std::uint8_t* out, std::size_t n);
    // Writes n bytes at offset: gathered with the pending write when it
    // continues it, else after the pending write has gone out. False when a
    // write that had to go out failed.
    bool write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t n);
    // Hands the pending write to the operating system. False on failure.
    bool flush();
    void close();

private:
    bool seek(std::uint64_t offset, int whence);
    std::FILE* f_ = nullptr;
    std::uint64_t pending_offset_ = 0;
    std::vector<std::uint8_t> pending_;
};

// Directory and file name joined with the platform's separator: directly
// when the directory already ends in one, otherwise with one between.
std::string join_path(const std::string& directory, const std::string& file_name);

}  // namespace tally
