// The software catalogue, built in one pass over the software table.
#include "server/model/software_catalogue.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string_view>
#include <unordered_map>

#include "server/model/systems_grid.h"

namespace tally {

namespace {

std::string_view field_text(const std::uint8_t* entry, Field f) {
    const char* p = reinterpret_cast<const char*>(entry + f.offset);
    const void* nul = std::memchr(p, 0, f.width);
    return std::string_view(p, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - p) : f.width);
}

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

}  // namespace

std::string version_label(const std::string& version) { return version.empty() ? "(no version)" : version; }

std::string program_cell(const CatalogueProgram& program, int column) {
    switch (column) {
        case 0: return program.name;
        case 1: return std::to_string(program.computers);
        case 2: return std::to_string(program.versions.size());
        default: return std::string();
    }
}

std::string version_cell(const CatalogueVersion& version, int column) {
    switch (column) {
        case 0: return version_label(version.text);
        case 1: return std::to_string(version.computers);
        default: return std::string();
    }
}

std::string catalogue_count_text(std::size_t shown, std::size_t total) {
    return std::to_string(shown) + " of " + std::to_string(total) + " programs";
}

std::string computer_set_text(const CatalogueProgram& program, std::optional<std::size_t> version,
                              std::size_t computers) {
    std::string text = program.name;
    if (version && *version < program.versions.size()) text += " " + version_label(program.versions[*version].text);
    return text + ": " + std::to_string(computers) + (computers == 1 ? " computer" : " computers");
}

void SoftwareCatalogue::build(const Store& store) {
    programs_.clear();
    // The record of each computer: the first that carries its MAC.
    std::unordered_map<std::uint64_t, std::uint32_t> record_of;
    record_of.reserve(store.record_count() * 2u);
    for (std::uint32_t i = 0; i < store.record_count(); ++i) {
        const RecordView r = store.record(i);
        if (!r.is_free()) record_of.emplace(mac_key(r.mac()), i);
    }

    // Names and versions are interned once; the maps look them up by views
    // of the table's bytes, which point into the owned copies below.
    std::deque<std::string> names, versions;
    std::unordered_map<std::string_view, std::uint32_t> program_of, version_of;
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> members;  // per program: (record, version id)
    std::uint64_t last_key = 0;
    std::uint32_t last_record = 0;
    bool last_known = false;
    const std::size_t used = store.used_length();
    for (std::size_t offset = 0; offset + sw_entry::size <= used; offset += sw_entry::size) {
        const std::uint8_t* e = store.entry(offset).bytes();
        const std::uint64_t key = mac_key(e);
        if (key == 0) continue;
        if (key != last_key) {
            const auto found = record_of.find(key);
            last_key = key;
            last_known = found != record_of.end();
            if (last_known) last_record = found->second;
        }
        if (!last_known) continue;
        const std::string_view name = field_text(e, sw_entry::display_name);
        auto p = program_of.find(name);
        if (p == program_of.end()) {
            names.emplace_back(name);
            p = program_of.emplace(std::string_view(names.back()), std::uint32_t(names.size() - 1)).first;
            members.emplace_back();
        }
        const std::string_view version = field_text(e, sw_entry::display_version);
        auto v = version_of.find(version);
        if (v == version_of.end()) {
            versions.emplace_back(version);
            v = version_of.emplace(std::string_view(versions.back()), std::uint32_t(versions.size() - 1)).first;
        }
        members[p->second].emplace_back(last_record, v->second);
    }

    programs_.resize(names.size());
    std::unordered_map<std::uint32_t, std::uint32_t> slot_of;  // version id -> slot in the program
    for (std::size_t k = 0; k < names.size(); ++k) {
        CatalogueProgram& program = programs_[k];
        program.name = names[k];
        auto& m = members[k];
        std::sort(m.begin(), m.end());
        m.erase(std::unique(m.begin(), m.end()), m.end());
        // The program's versions in natural order, numbered by that order.
        std::vector<std::uint32_t> ids;
        for (const auto& member : m) ids.push_back(member.second);
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        std::sort(ids.begin(), ids.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return natural_compare(versions[a], versions[b]) < 0; });
        slot_of.clear();
        program.versions.resize(ids.size());
        for (std::uint32_t s = 0; s < ids.size(); ++s) {
            slot_of[ids[s]] = s;
            program.versions[s].text = versions[ids[s]];
        }
        std::uint32_t previous = ~std::uint32_t(0);
        for (auto& member : m) {
            member.second = slot_of[member.second];
            ++program.versions[member.second].computers;
            if (member.first != previous) ++program.computers;
            previous = member.first;
        }
        std::sort(m.begin(), m.end());
        program.members = std::move(m);
    }
    refilter();
}

void SoftwareCatalogue::refilter() {
    shown_.clear();
    for (std::uint32_t k = 0; k < programs_.size(); ++k)
        if (find_.empty() || lower(programs_[k].name).find(find_) != std::string::npos) shown_.push_back(k);
    std::sort(shown_.begin(), shown_.end(), [this](std::uint32_t a, std::uint32_t b) {
        int order;
        if (order_ == CatalogueOrder::computers) {
            const std::uint32_t x = programs_[a].computers, y = programs_[b].computers;
            order = x < y ? -1 : (x > y ? 1 : 0);
            if (!ascending_) order = -order;
            // Equal counts by name, always from A.
            if (order == 0) order = natural_compare(programs_[a].name, programs_[b].name);
        } else {
            order = natural_compare(programs_[a].name, programs_[b].name);
            if (!ascending_) order = -order;
        }
        return order != 0 ? order < 0 : a < b;
    });
}

void SoftwareCatalogue::set_find(const std::string& text) {
    find_ = lower(text);
    refilter();
}

void SoftwareCatalogue::sort_by(CatalogueOrder order, bool ascending) {
    order_ = order;
    ascending_ = ascending;
    refilter();
}

void SoftwareCatalogue::click_column(CatalogueOrder order) {
    if (order == order_)
        sort_by(order, !ascending_);
    else
        sort_by(order, order == CatalogueOrder::name);
}

std::optional<std::size_t> SoftwareCatalogue::row_of(const std::string& name) const {
    for (std::size_t row = 0; row < shown_.size(); ++row)
        if (programs_[shown_[row]].name == name) return row;
    return std::nullopt;
}

std::vector<std::uint32_t> SoftwareCatalogue::computers_of(std::size_t row, std::optional<std::size_t> version) const {
    std::vector<std::uint32_t> records;
    for (const auto& member : program_at(row).members) {
        if (version && member.second != *version) continue;
        if (records.empty() || records.back() != member.first) records.push_back(member.first);
    }
    return records;
}

}  // namespace tally
