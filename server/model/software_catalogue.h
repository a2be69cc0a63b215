// The software catalogue: every program name found in the software table,
// with the number of computers that have it and its versions with their
// counts, and for a program or one of its versions the set of computers.
// A computer that lists a program twice counts once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>
#include <deque>

#include "server/model/name_index.h"
#include "server/store/store.h"

namespace tally {

struct CatalogueVersion {
    std::string_view text;  // as reported; empty when the client sent none
    std::uint32_t computers = 0;
    std::uint32_t id = 0;  // the catalogue's number of the text
};

struct CatalogueProgram {
    std::string name;
    std::uint32_t computers = 0;
    std::vector<CatalogueVersion> versions;  // in natural order of their texts
};

enum class CatalogueOrder : std::uint8_t { name, computers };

// The label of a version in the window: the text, or "(no version)".
std::string version_label(std::string_view version);

// The cells of the program list ("Program", "Computers", "Versions") and of
// the version list ("Version", "Computers").
constexpr int program_columns = 3;
constexpr int version_columns = 2;
std::string program_cell(const CatalogueProgram& program, int column);
std::string version_cell(const CatalogueVersion& version, int column);

// The window's count line: "12 of 100 programs", while the computers are
// being counted "12 of 100 programs (counting: 45%)".
std::string catalogue_count_text(std::size_t shown, std::size_t total,
                                 std::optional<std::uint32_t> counting_percent = std::nullopt);
// How much of `records` the counting has done, in whole percent below 100.
std::uint32_t counted_percent(std::uint32_t counted, std::uint32_t records);
// The caption of a computer set: "Browser: 3 computers",
// "Browser 109.0: 2 computers", "Browser (no version): 1 computer".
std::string computer_set_text(const CatalogueProgram& program, std::optional<std::size_t> version,
                              std::size_t computers);

// The catalogue follows the tables a computer at a time: attached to the
// store, it hears which MACs changed, and applying those changes moves the
// counts of only the programs and versions those computers gained or lost.
// Each computer's distinct (program, version) pairs are kept for that;
// program names and version texts are held once, and let go when no
// computer has them any longer.
class SoftwareCatalogue : public StoreListener {
public:
    SoftwareCatalogue() = default;
    ~SoftwareCatalogue() override;
    SoftwareCatalogue(const SoftwareCatalogue&) = delete;
    SoftwareCatalogue& operator=(const SoftwareCatalogue&) = delete;

    // Reads the whole software table at once; entries whose computer has no
    // record are left out. The catalogue does not follow the store then.
    void build(const Store& store);
    // Follows the store from now on and starts counting from nothing: the
    // counting goes on in build_for, a slice at a time.
    void attach(Store& store);
    void detach();
    // Counts further computers for about `budget_ms` (at least one); true
    // when every computer is counted.
    bool build_for(std::uint32_t budget_ms);
    bool built() const { return store_ && cursor_ >= store_->record_count(); }
    // Computers counted so far, and of how many.
    std::uint32_t counted() const { return cursor_; }
    // Applies the changes heard since the last call, for about `budget_ms`
    // (at least a few computers; the rest stay held for the next call); true
    // when any count or the shown programs changed.
    // A slice also ends once it brought this many programs new to the
    // catalogue: each finds its place among all the names when the slice
    // settles, and reports whose names no other computer has would make
    // that outlast the slice's budget.
    static constexpr std::uint32_t no_budget = 0xffffffffu;
    static constexpr std::size_t new_names_per_slice = 2000;
    bool apply_changes(std::uint32_t budget_ms = no_budget);
    bool has_changes() const { return !changed_.empty() || reopened_; }

    // Substring of the program name, ASCII letters in either case.
    void set_find(const std::string& text);
    void sort_by(CatalogueOrder order, bool ascending);
    // A click on a column: the same order turns its direction; counts start
    // with the largest, names with A.
    void click_column(CatalogueOrder order);
    CatalogueOrder order() const { return order_; }
    bool ascending() const { return ascending_; }

    // The shown programs, in order.
    std::size_t size() const { return shown_.size(); }
    const CatalogueProgram& program_at(std::size_t row) const { return programs_[shown_[row]]; }
    // Programs that some computer has.
    std::size_t program_count() const { return live_programs_; }
    // Row of the program with this name, if shown.
    std::optional<std::size_t> row_of(const std::string& name) const;
    // Record indices of the computers with the program of `row` (and, when
    // given, its version number `version`), ascending.
    std::vector<std::uint32_t> computers_of(std::size_t row, std::optional<std::size_t> version = std::nullopt) const;

    // StoreListener
    void mac_changed(const std::uint8_t* mac) override;
    void store_reopened() override;

private:
    struct Pair {
        std::uint32_t program;
        std::uint32_t version;
        bool operator<(const Pair& o) const { return program != o.program ? program < o.program : version < o.version; }
        bool operator==(const Pair& o) const { return program == o.program && version == o.version; }
    };
    void reset(const Store* store);
    // Counts record i when it is the first record of its MAC.
    void count_record(std::uint32_t i);
    // Counts the programs of the computer with this MAC as record i's.
    void add_list(std::uint32_t i, const std::uint8_t* mac);
    void remove_list(std::uint32_t i);
    // The number of a program name (its hash given), NameIndex::none when it has none.
    std::uint32_t program_numbered(std::string_view name, std::uint32_t hash) const;
    std::uint32_t intern_program(std::string_view name);
    std::uint32_t intern_version(std::string_view text);
    void count_program(std::uint32_t id, int step);
    void count_pair(const Pair& p, bool first_of_program, int step);
    void take_changes(const std::vector<std::uint64_t>& keys);
    void order_names();
    void drop_names();
    bool name_before(std::uint32_t a, std::uint32_t b) const;
    void let_go_unused();
    void settle();
    void refilter();

    const Store* store_ = nullptr;
    Store* attached_ = nullptr;
    std::uint32_t cursor_ = 0;  // records below are counted
    std::vector<std::vector<Pair>> lists_;  // by record: its pairs, while it is counted
    std::vector<Pair> gathered_;            // the pairs of the computer being counted
    std::unordered_map<std::uint64_t, std::uint32_t, MacHash> owner_;  // MAC -> the record counted for it
    std::unordered_set<std::uint64_t, MacHash> changed_;  // MACs heard of, not yet applied
    bool reopened_ = false;
    bool complete_ = false;  // every record was counted

    std::deque<CatalogueProgram> programs_;  // by program number; names stay where they are
    NameIndex program_of_;  // name -> program number
    std::vector<std::uint32_t> free_programs_;
    std::deque<std::string> version_texts_;  // by version number
    std::vector<std::uint32_t> version_uses_;  // programs that list each version text
    NameIndex version_of_;  // text -> version number
    std::vector<std::uint32_t> free_versions_;
    std::vector<std::uint32_t> unused_;           // programs that may have no computer left
    std::vector<std::uint32_t> unused_versions_;  // version texts that may be listed by no program
    std::vector<std::uint32_t> by_name_;  // live programs in natural order of their names
    std::vector<std::uint32_t> added_;    // programs that gained their first computer, not yet in by_name_
    std::vector<std::uint32_t> dropped_;  // programs that lost their last computer since
    std::vector<std::uint8_t> listed_;    // by program number: 0 nowhere, 1 in added_, 2 in by_name_
    std::size_t live_programs_ = 0;
    bool shown_stale_ = false;

    std::vector<std::uint32_t> shown_;
    std::string find_;  // lower case
    CatalogueOrder order_ = CatalogueOrder::name;
    bool ascending_ = true;
};

// The Catalogue window's chosen program and version, kept by their texts so
// that they survive a recount, a new order or a find text.
class CatalogueChoice {
public:
    // Where the choice stands in the catalogue: the program's row and the
    // version's place among its versions.
    struct Place {
        std::optional<std::size_t> row;
        std::optional<std::size_t> slot;
    };

    // The user chose a program's row (its version is not chosen) or a
    // version of the chosen program; false for a row that is not shown.
    bool choose_program(const SoftwareCatalogue& catalogue, std::size_t row);
    bool choose_version(const SoftwareCatalogue& catalogue, std::size_t slot);
    // Where the choice stands now.
    Place place(const SoftwareCatalogue& catalogue) const;
    // The same, and a program gone or filtered out ends the choice; a
    // version its program no longer lists ends the version's.
    Place settle(const SoftwareCatalogue& catalogue);

    const std::optional<std::string>& program() const { return program_; }
    const std::optional<std::string>& version() const { return version_; }

private:
    std::optional<std::string> program_;
    std::optional<std::string> version_;
};

}  // namespace tally
