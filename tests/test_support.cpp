// Temporary directories and file helpers for the unit tests.
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace tally::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (;;) {
        fs::path p = fs::temp_directory_path() / ("tally-test-" + std::to_string(rd()));
        if (fs::create_directory(p)) {
            path_ = p.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

Unchangeable::Unchangeable(const std::string& path) : path_(path) {
#ifndef _WIN32
    made_ = std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) == 0;
#endif
}

void Unchangeable::release() {
    if (made_) made_ = std::system(("chattr -i '" + path_ + "'").c_str()) != 0;
}

}  // namespace tally::test
