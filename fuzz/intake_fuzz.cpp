// libFuzzer target: stored files, then arbitrary datagrams into the intake,
// over a store in a temporary directory. Each input is split into parts at
// the byte pair 0xFF 0xFE. An input that starts with 'F' first seeds the
// three files (whole, partial or damaged) with its next three parts
// (Hardware.Audit, Software.Audit, Extension.Audit; its second byte chooses
// the table limit) before the store opens. Every further part is a datagram,
// so that sequences (a hardware packet, then software packets for its MAC,
// then an ID packet) reach the store in one run; a part that starts with
// 0xDD deletes the record its next byte names, one with 0xDC opens the
// store anew. A software catalogue follows the store throughout and must
// end equal to one counted afresh.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "server/intake/intake.h"
#include "server/model/software_catalogue.h"

namespace {

struct QuietNotifier : tally::Notifier {
    void notify(const tally::Notice&) override {}
};
struct QuietConsole : tally::ConsoleHooks {
    void set_status(const std::string&) override {}
    void show_counter(tally::StatsCounter, std::uint32_t) override {}
    void record_changed(std::uint32_t, tally::RecordChange) override {}
    void datagram_dropped(tally::DropReason) override {}
    void unwritten_changed(std::size_t) override {}
};

constexpr std::uint8_t delete_part = 0xDD;
constexpr std::uint8_t reopen_part = 0xDC;

std::string make_directory() {
    std::string templ = (std::filesystem::temp_directory_path() / "tally-fuzz-XXXXXX").string();
    if (!mkdtemp(&templ[0])) std::abort();
    return templ;
}

// The parts of an input, between the byte pairs 0xFF 0xFE.
std::vector<std::pair<const std::uint8_t*, std::size_t>> split(const std::uint8_t* data, std::size_t size) {
    std::vector<std::pair<const std::uint8_t*, std::size_t>> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || (i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFE)) {
            parts.emplace_back(data + start, i - start);
            start = i + 2;
            ++i;
        }
    }
    return parts;
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t n) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(n));
}

std::string shown(const tally::SoftwareCatalogue& c) {
    std::string out = std::to_string(c.program_count()) + ";";
    for (std::size_t row = 0; row < c.size(); ++row) {
        const tally::CatalogueProgram& p = c.program_at(row);
        out += p.name + "=" + std::to_string(p.computers) + ":";
        for (const auto& v : p.versions) out += std::string(v.text) + "/" + std::to_string(v.computers) + ",";
        for (std::uint32_t i : c.computers_of(row)) out += std::to_string(i) + ",";
    }
    return out;
}

std::uint64_t size_of(const std::string& path) {
    std::error_code ec;
    const std::uint64_t n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string directory = make_directory();
    const std::string hardware = directory + "/Hardware.Audit", software = directory + "/Software.Audit",
                      side = directory + "/Extension.Audit";
    for (const std::string& f : {hardware, software, side}) std::filesystem::remove(f);
    auto parts = split(data, size);
    std::size_t first = 0;
    tally::StoreOptions options;
    options.table_limit = 40 * 1024;  // a few hundred entries: growth failures are reached
    std::uint64_t seeded_side = 0;
    if (size >= 2 && data[0] == 'F' && parts.size() >= 4) {
        if (data[1] & 1) options.table_limit = 400 * 1024;
        write_file(hardware, parts[1].first, parts[1].second);
        write_file(software, parts[2].first, parts[2].second);
        write_file(side, parts[3].first, parts[3].second);
        seeded_side = parts[3].second / 320;
        first = 4;
    }
    QuietNotifier notifier;
    QuietConsole console;
    tally::Store store(notifier, options);
    if (store.open_store(directory) != 0) return 0;  // seeded files beyond the limit
    tally::Intake intake(store, console);
    tally::SoftwareCatalogue catalogue;
    catalogue.attach(store);
    catalogue.build_for(0);

    for (std::size_t k = first; k < parts.size(); ++k) {
        const std::size_t n = std::min(parts[k].second, tally::receive_buffer_size);
        if (n >= 2 && parts[k].first[0] == delete_part) {
            store.delete_record(parts[k].first[1]);
        } else if (n >= 1 && parts[k].first[0] == reopen_part) {
            if (store.open_store(directory) != 0) return 0;
        } else {
            // Each datagram in a block of its own size, so that a read past its
            // end is caught by the address sanitizer.
            std::uint8_t* copy = static_cast<std::uint8_t*>(std::malloc(n ? n : 1));
            std::copy(parts[k].first, parts[k].first + n, copy);
            intake.handle_datagram(copy, n, tally::Ipv4{127, 0, 0, std::uint8_t(1 + k % 3)}, 1700000000u);
            std::free(copy);
        }
        catalogue.apply_changes();
        catalogue.build_for(0);
    }
    while (!catalogue.build_for(1000)) {
    }
    tally::SoftwareCatalogue fresh;
    fresh.build(store);
    if (shown(catalogue) != shown(fresh)) std::abort();
    // The files hold whole records and entries that match the tables (a
    // partial one seeded at the end stays until a write replaces it).
    if (size_of(hardware) / 808 != store.record_count()) std::abort();
    if (size_of(software) / 102 * 102 != store.used_length()) std::abort();
    // The side file holds no extension record beyond the table or the seed.
    if (size_of(side) / 320 > std::max<std::uint64_t>(store.record_count(), seeded_side)) std::abort();
    return 0;
}
