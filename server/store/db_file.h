// A database file opened in binary update mode, unbuffered, with positioned
// writes that reach the operating system before the call returns, so a
// record that was handled survives a crash of the server.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "protocol/owned_handle.h"

namespace tally {

class DbFile {
public:
    enum class OpenResult { opened, created, missing_and_not_created, failed };

    // Opens the file for reading and writing ("rb+"); creates it empty
    // ("wb+") when it does not exist.
    OpenResult open_or_create(const std::string& path);
    // Opens an existing file for reading only ("rb"); false when it cannot.
    bool open_read_only(const std::string& path);
    bool is_open() const { return file_.is_open(); }
    // Length in bytes, or -1 when it cannot be taken.
    std::int64_t length();
    // Reads up to n bytes from the start; returns the bytes read.
    std::size_t read_from_start(std::uint8_t* out, std::size_t n) { return read_at(0, out, n); }
    // Reads up to n bytes from offset on; returns the bytes read.
    std::size_t read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n);
    // Writes n bytes at offset and flushes them. False when any step fails
    // (some of the bytes may have been written).
    bool write_at(std::uint64_t offset, const std::uint8_t* data, std::size_t n);
    // Asks the system to put the file's bytes on the disk.
    bool sync();
    // Cuts the file to `length` bytes.
    bool truncate(std::uint64_t length);
    void close() { file_.reset(); }

private:
    // 64-bit positioning of the stream.
    bool seek(std::uint64_t offset, int whence);
    std::int64_t tell();
    // Result not checked: each write was flushed, and checked, when it was made.
    static void close_stream(std::FILE* f) { std::fclose(f); }
    OwnedHandle<std::FILE*, nullptr, close_stream> file_;  // closed with the DbFile
};

// The platform's path separator: '\\' on Windows, '/' elsewhere.
extern const char path_separator;

// Directory and file name joined with the platform's separator: directly
// when the directory already ends in one, otherwise with one between.
std::string join_path(const std::string& directory, const std::string& file_name);

}  // namespace tally
