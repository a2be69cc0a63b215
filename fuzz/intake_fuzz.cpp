// libFuzzer target: arbitrary datagrams into the intake over a store in a
// temporary directory. Each input is split into datagrams at the byte pair
// 0xFF 0xFE, so that sequences (a hardware packet, then software packets for
// its MAC, then an ID packet) reach the store in one run.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "server/intake/intake.h"

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

std::string make_directory() {
    std::string templ = (std::filesystem::temp_directory_path() / "tally-fuzz-XXXXXX").string();
    if (!mkdtemp(&templ[0])) std::abort();
    return templ;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string directory = make_directory();
    std::filesystem::remove(directory + "/Hardware.Audit");
    std::filesystem::remove(directory + "/Software.Audit");
    std::filesystem::remove(directory + "/Extension.Audit");
    QuietNotifier notifier;
    QuietConsole console;
    tally::StoreOptions options;
    options.table_limit = 40 * 1024;  // a few hundred entries: growth failures are reached
    tally::Store store(notifier, options);
    if (store.open_store(directory) != 0) std::abort();
    tally::Intake intake(store, console);

    // One second a datagram, so that held passes and unannounced datagrams
    // expire within an input as well.
    std::uint32_t now = 1700000000u;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        const bool split = i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFE;
        if (i == size || split) {
            // Each datagram in a block of its own size, so that a read past its
            // end is caught by the address sanitizer.
            std::size_t n = i - start;
            if (n > tally::receive_buffer_size) n = tally::receive_buffer_size;
            std::uint8_t* copy = static_cast<std::uint8_t*>(std::malloc(n ? n : 1));
            std::copy(data + start, data + start + n, copy);
            intake.handle_datagram(copy, n, tally::Ipv4{127, 0, 0, 1}, now++, 40000);
            std::free(copy);
            start = i + 2;
            ++i;
        }
    }
    intake.expire_passes(now + tally::held_pass_seconds);
    if (intake.held_passes().held_bytes() != 0) std::abort();
    // The files always hold whole records and entries that match the tables.
    if (std::filesystem::file_size(directory + "/Hardware.Audit") != std::uint64_t(store.record_count()) * 808) std::abort();
    if (std::filesystem::file_size(directory + "/Software.Audit") != store.used_length()) std::abort();
    // The side file holds whole extension records, none beyond the table.
    const std::uint64_t side = std::filesystem::file_size(directory + "/Extension.Audit");
    if (side % 320 != 0 || side > std::uint64_t(store.record_count()) * 320) std::abort();
    return 0;
}
