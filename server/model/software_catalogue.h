// The software catalogue: every program name found in the software table,
// with the number of computers that have it and its versions with their
// counts, and for a program or one of its versions the set of computers.
// A computer that lists a program twice counts once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/store/store.h"

namespace tally {

struct CatalogueVersion {
    std::string text;  // as reported; empty when the client sent none
    std::uint32_t computers = 0;
};

struct CatalogueProgram {
    std::string name;
    std::uint32_t computers = 0;
    std::vector<CatalogueVersion> versions;  // in natural order of their texts
    // (record index, version number) pairs, sorted and without repeats.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> members;
};

enum class CatalogueOrder : std::uint8_t { name, computers };

// The label of a version in the window: the text, or "(no version)".
std::string version_label(const std::string& version);

// The cells of the program list ("Program", "Computers", "Versions") and of
// the version list ("Version", "Computers").
constexpr int program_columns = 3;
constexpr int version_columns = 2;
std::string program_cell(const CatalogueProgram& program, int column);
std::string version_cell(const CatalogueVersion& version, int column);

// The window's count line: "12 of 100 programs".
std::string catalogue_count_text(std::size_t shown, std::size_t total);
// The caption of a computer set: "Browser: 3 computers",
// "Browser 109.0: 2 computers", "Browser (no version): 1 computer".
std::string computer_set_text(const CatalogueProgram& program, std::optional<std::size_t> version,
                              std::size_t computers);

class SoftwareCatalogue {
public:
    // Reads the whole software table; entries whose computer has no record
    // are left out.
    void build(const Store& store);

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
    std::size_t program_count() const { return programs_.size(); }
    // Row of the program with this name, if shown.
    std::optional<std::size_t> row_of(const std::string& name) const;
    // Record indices of the computers with the program of `row` (and, when
    // given, its version number `version`), ascending.
    std::vector<std::uint32_t> computers_of(std::size_t row, std::optional<std::size_t> version = std::nullopt) const;

private:
    void refilter();

    std::vector<CatalogueProgram> programs_;
    std::vector<std::uint32_t> shown_;
    std::string find_;  // lower case
    CatalogueOrder order_ = CatalogueOrder::name;
    bool ascending_ = true;
};

}  // namespace tally
