// Shared helpers for the unit tests: a temporary working directory, file
// reading, a stand-in for the system's data protection, a notifier and
// console that record what they are asked to show, a store with an intake
// over it, a server's working directory with its history, and a desktop's
// hardware report.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "server/console/data_protection.h"
#include "server/intake/history_recorder.h"
#include "server/intake/intake.h"
#include "server/store/notify.h"

namespace tally::test {

// Cases of a function of a text: each text and what the function makes of it.
using TextCases = std::vector<std::pair<std::string, std::string>>;
// Checks every case, naming the text of each one that fails.
void expect_each_text(std::string (*fn)(const std::string&), const TextCases& cases);

// A fresh directory under the system's temporary directory, removed with
// its files when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// A software packet (list start) of the computer with these programs (name
// and version; an empty version is sent as none).
std::vector<std::uint8_t> software_packet(const Mac& mac, const std::vector<std::pair<std::string, std::string>>& programs);

std::vector<std::uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A file made unchangeable (even for root: writes to it fail) while the
// object lives; made() is false where the platform cannot (then the test
// that needs it is skipped).
class Unchangeable {
public:
    explicit Unchangeable(const std::string& path);
    ~Unchangeable() { release(); }
    void release();
    bool made() const { return made_; }

private:
    std::string path_;
    bool made_ = false;
};

// Stands for the system's protection: a reversible scramble with a marker,
// refusing what it did not seal, or everything when told.
struct FakeProtection : DataProtection {
    bool refuse = false;
    bool protect(const std::vector<std::uint8_t>& plain, std::vector<std::uint8_t>& out) override {
        if (refuse) return false;
        out = {0xD9};
        for (std::uint8_t b : plain) out.push_back(b ^ 0x5A);
        return true;
    }
    bool unprotect(const std::vector<std::uint8_t>& sealed, std::vector<std::uint8_t>& out) override {
        if (refuse || sealed.empty() || sealed[0] != 0xD9) return false;
        out.clear();
        for (std::size_t k = 1; k < sealed.size(); ++k) out.push_back(sealed[k] ^ 0x5A);
        return true;
    }
};

struct RecordingNotifier : Notifier {
    std::vector<Notice> notices;
    void notify(const Notice& n) override { notices.push_back(n); }
};

struct RecordingConsole : ConsoleHooks {
    std::vector<std::string> statuses;
    std::uint32_t counters[stats_counter_count] = {};  // by StatsCounter
    std::vector<DropReason> drops;
    std::vector<std::size_t> unwritten;
    std::vector<std::pair<std::uint32_t, RecordChange>> changes;
    void set_status(const std::string& text) override { statuses.push_back(text); }
    void show_counter(StatsCounter c, std::uint32_t v) override { counters[static_cast<int>(c)] = v; }
    void record_changed(std::uint32_t i, RecordChange change) override { changes.emplace_back(i, change); }
    void datagram_dropped(DropReason reason) override { drops.push_back(reason); }
    void unwritten_changed(std::size_t count) override { unwritten.push_back(count); }
    std::string status() const { return statuses.empty() ? std::string() : statuses.back(); }
};

// A report's drive in this slot: its letter, type, free and total bytes.
void set_drive(HardwareReport& r, int slot, char letter, std::uint32_t type, std::uint64_t free_bytes,
               std::uint64_t total_bytes);
// A report's Windows version (the platform stays).
void set_windows(HardwareReport& r, std::uint8_t major, std::uint8_t minor, std::uint16_t build);

// A desktop's hardware report: Windows XP, 512 MB, one fixed drive C (the
// letter sent lower-case, as the intake files it raised).
HardwareReport desktop_report(const Mac& mac, const std::string& name);

// True when a datagram opens with the head the client's packets, the manifest
// and the receipt share: the type byte, the MAC address, byte 7 zero (reserved,
// or no flags) and its own length in bytes 8 to 11; else which of them is off.
::testing::AssertionResult has_head(const std::uint8_t* d, std::size_t size, std::uint8_t type, const Mac& mac);

// A store in a fresh directory with an intake over it, as the intake's tests
// use them (the test opens the store).
struct IntakeRig {
    // The program names of a computer's entries, in list order.
    std::vector<std::string> names_of(const Mac& mac) const {
        std::vector<std::string> names;
        for (std::size_t o : store.entry_offsets_of(mac.data())) names.push_back(store.entry(o).display_name());
        return names;
    }

    TempDir dir;
    RecordingNotifier notifier;
    RecordingConsole console;
    Store store{notifier};
    Intake intake{store, console};
};

// A server's working directory: the store and the history opened in a
// fresh directory, the intake filing into the store, its reports recorded
// in the history once settled.
struct ServerFiles : IntakeRig {
    ServerFiles();
    bool opened = false;  // both files open
    History history;
    HistoryRecorder recorder{store, history};
};

}  // namespace tally::test
