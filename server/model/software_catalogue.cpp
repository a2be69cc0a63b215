// The software catalogue: counted a computer at a time, at once or in
// slices, and kept in step with the tables as computers report.
#include "server/model/software_catalogue.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <unordered_map>

#include "server/model/systems_grid.h"

namespace tally {

namespace {

// A number let go earlier when there is one, else the next new one: the
// table's size before `grow` adds its row.
template <typename Grow>
std::uint32_t take_id(std::vector<std::uint32_t>& free_ids, std::size_t size, Grow grow) {
    if (free_ids.empty()) {
        grow();
        return static_cast<std::uint32_t>(size);
    }
    const std::uint32_t id = free_ids.back();
    free_ids.pop_back();
    return id;
}

// A text field up to its first NUL, the whole width without one. The loop
// is the program's own: the counting reads two fields of every entry, and
// a call into the C library for each costs more than the short texts.
std::string_view field_text(const std::uint8_t* entry, Field f) {
    const char* p = reinterpret_cast<const char*>(entry + f.offset);
    std::size_t n = 0;
    while (n < f.width && p[n] != 0) ++n;
    return std::string_view(p, n);
}

char folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = folded(c);
    return out;
}

// Whether `find` (lower case) is part of text, ASCII letters in either case.
bool contains_folded(const std::string& text, const std::string& find) {
    for (std::size_t at = 0; at + find.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < find.size() && folded(text[at + k]) == find[k]) ++k;
        if (k == find.size()) return true;
    }
    return false;
}

}  // namespace

std::string version_label(std::string_view version) { return version.empty() ? "(no version)" : std::string(version); }

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

std::string catalogue_count_text(std::size_t shown, std::size_t total, std::optional<std::uint32_t> counting_percent) {
    std::string text = std::to_string(shown) + " of " + std::to_string(total) + " programs";
    if (counting_percent) text += " (counting: " + std::to_string(*counting_percent) + "%)";
    return text;
}

std::uint32_t counted_percent(std::uint32_t counted, std::uint32_t records) {
    if (records == 0 || counted >= records) return 99;
    return static_cast<std::uint32_t>(std::uint64_t(counted) * 100 / records);
}

std::string computer_set_text(const CatalogueProgram& program, std::optional<std::size_t> version,
                              std::size_t computers) {
    std::string text = program.name;
    if (version && *version < program.versions.size()) text += " " + version_label(program.versions[*version].text);
    return text + ": " + std::to_string(computers) + (computers == 1 ? " computer" : " computers");
}

SoftwareCatalogue::~SoftwareCatalogue() { detach(); }

void SoftwareCatalogue::reset(const Store* store) {
    store_ = store;
    cursor_ = 0;
    complete_ = false;
    reopened_ = false;
    lists_.clear();
    owner_.clear();
    changed_.clear();
    programs_.clear();
    program_of_.clear();
    free_programs_.clear();
    version_texts_.clear();
    version_uses_.clear();
    version_of_.clear();
    free_versions_.clear();
    unused_.clear();
    by_name_.clear();
    added_.clear();
    dropped_.clear();
    listed_.clear();
    live_programs_ = 0;
    if (store) {
        lists_.resize(store->record_count());
        owner_.reserve(store->record_count());
    }
}

void SoftwareCatalogue::build(const Store& store) {
    detach();
    reset(&store);
    while (cursor_ < store.record_count()) count_record(cursor_++);
    complete_ = true;
    settle();
}

void SoftwareCatalogue::attach(Store& store) {
    detach();
    reset(&store);
    attached_ = &store;
    store.add_listener(this);
    refilter();
}

void SoftwareCatalogue::detach() {
    if (attached_) attached_->remove_listener(this);
    attached_ = nullptr;
}

bool SoftwareCatalogue::build_for(std::uint32_t budget_ms) {
    if (!store_) return false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget_ms);
    for (std::uint32_t n = 0; cursor_ < store_->record_count(); ++n) {
        if (n % 64 == 63 && std::chrono::steady_clock::now() >= until) break;
        count_record(cursor_++);
    }
    complete_ = cursor_ >= store_->record_count();
    settle();
    return complete_;
}

void SoftwareCatalogue::mac_changed(const std::uint8_t* mac) { changed_.insert(mac_key(mac)); }

void SoftwareCatalogue::store_reopened() { reopened_ = true; }

bool SoftwareCatalogue::apply_changes(std::uint32_t budget_ms) {
    if (!store_) return false;
    if (reopened_) {
        // Every table changed: counted again from nothing.
        reset(store_);
        refilter();
        return true;
    }
    if (changed_.empty()) return false;
    // A complete catalogue takes in the records added meanwhile here.
    if (complete_) cursor_ = store_->record_count();
    if (lists_.size() < store_->record_count()) lists_.resize(store_->record_count());
    // The held MACs are taken a slice at a time, so that a backlog of
    // reports does not hold the console; the rest wait for the next call.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget_ms);
    std::vector<std::uint64_t> keys;
    while (!changed_.empty()) {
        keys.clear();
        for (auto it = changed_.begin(); it != changed_.end() && keys.size() < 16;) {
            keys.push_back(*it);
            it = changed_.erase(it);
        }
        take_changes(keys);
        if (budget_ms != no_budget &&
            (added_.size() >= new_names_per_slice || std::chrono::steady_clock::now() >= until))
            break;
    }
    settle();
    return true;
}

void SoftwareCatalogue::take_changes(const std::vector<std::uint64_t>& keys) {
    // First every changed MAC's old list goes, then its new one comes: a
    // record that changed its MAC belongs to two of them. When the other
    // one's change came in an earlier slice, the record holds the new MAC's
    // list already and keeps it.
    for (const std::uint64_t key : keys) {
        const auto it = owner_.find(key);
        if (it == owner_.end()) continue;
        const std::uint32_t i = it->second;
        owner_.erase(it);
        if (i < store_->record_count()) {
            const auto now = owner_.find(mac_key(store_->record(i).mac()));
            if (now != owner_.end() && now->second == i) continue;
        }
        remove_list(i);
    }
    for (const std::uint64_t key : keys) {
        Mac mac{};
        for (std::size_t b = 0; b < 6; ++b) mac[b] = static_cast<std::uint8_t>(key >> (8 * b));
        const auto found = store_->find_record(mac.data());
        // Records the counting has not reached yet are counted when it does.
        if (!found || *found >= cursor_ || !store_->holds_computer(*found) ||
            mac_key(store_->record(*found).mac()) != key)
            continue;
        // The record's old MAC is still held for a later slice: its list goes now.
        if (!lists_[*found].empty()) remove_list(*found);
        add_list(*found, mac.data());
        owner_.emplace(key, *found);
    }
}

void SoftwareCatalogue::count_record(std::uint32_t i) {
    if (!store_->holds_computer(i)) return;
    const std::uint8_t* mac = store_->record(i).mac();
    const std::uint64_t key = mac_key(mac);
    const auto found = store_->find_record(mac);
    if (!found || *found != i || owner_.count(key)) return;
    if (lists_.size() <= i) lists_.resize(std::size_t(i) + 1);
    add_list(i, mac);
    owner_.emplace(key, i);
}

void SoftwareCatalogue::add_list(std::uint32_t i, const std::uint8_t* mac) {
    // The pairs are gathered in one vector kept for every computer, and the
    // computer keeps a copy of just their size: one allocation a computer.
    std::vector<Pair>& pairs = gathered_;
    pairs.clear();
    store_->for_each_entry_offset(mac, [&](std::size_t offset) {
        const std::uint8_t* e = store_->entry(offset).bytes();
        pairs.push_back({intern_program(field_text(e, sw_entry::display_name)),
                         intern_version(field_text(e, sw_entry::display_version))});
    });
    // A computer that lists a program (or a version) twice counts once.
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    for (std::size_t k = 0; k < pairs.size(); ++k)
        count_pair(pairs[k], k == 0 || pairs[k - 1].program != pairs[k].program, 1);
    lists_[i].assign(pairs.begin(), pairs.end());
}

void SoftwareCatalogue::remove_list(std::uint32_t i) {
    std::vector<Pair> list = std::move(lists_[i]);
    lists_[i] = std::vector<Pair>();
    for (std::size_t k = 0; k < list.size(); ++k)
        count_pair(list[k], k == 0 || list[k - 1].program != list[k].program, -1);
}

void SoftwareCatalogue::count_program(std::uint32_t id, int step) {
    CatalogueProgram& program = programs_[id];
    if (order_ == CatalogueOrder::computers) shown_stale_ = true;
    // by_name_ follows in order_names, once for all the changes taken.
    if (step > 0 && program.computers++ == 0) {
        ++live_programs_;
        if (!listed_[id]) added_.push_back(id);
        if (!listed_[id]) listed_[id] = 1;
        shown_stale_ = true;
    } else if (step < 0 && --program.computers == 0) {
        --live_programs_;
        dropped_.push_back(id);
        unused_.push_back(id);
        shown_stale_ = true;
    }
}

void SoftwareCatalogue::count_pair(const Pair& p, bool first_of_program, int step) {
    if (first_of_program) count_program(p.program, step);
    auto& versions = programs_[p.program].versions;
    auto v = std::find_if(versions.begin(), versions.end(), [&](const CatalogueVersion& x) { return x.id == p.version; });
    if (step > 0) {
        if (v == versions.end()) {
            const std::string& text = version_texts_[p.version];
            const auto after = std::find_if(versions.begin(), versions.end(), [&](const CatalogueVersion& x) {
                return natural_compare(version_texts_[x.id], text) > 0;
            });
            v = versions.insert(after, CatalogueVersion{text, 0, p.version});
            ++version_uses_[p.version];
        }
        ++v->computers;
    } else if (v != versions.end() && --v->computers == 0) {
        versions.erase(v);
        --version_uses_[p.version];
    }
}

std::uint32_t SoftwareCatalogue::program_numbered(std::string_view name, std::uint32_t hash) const {
    return program_of_.find(name, hash, [this](std::uint32_t id) -> std::string_view { return programs_[id].name; });
}

std::uint32_t SoftwareCatalogue::intern_program(std::string_view name) {
    const std::uint32_t hash = name_hash(name);
    const std::uint32_t found = program_numbered(name, hash);
    if (found != NameIndex::none) return found;
    const std::uint32_t id = take_id(free_programs_, programs_.size(), [this] {
        programs_.emplace_back();
        listed_.push_back(0);
    });
    programs_[id].name.assign(name.data(), name.size());
    program_of_.insert(hash, id);
    unused_.push_back(id);  // let go again unless a computer is counted with it
    return id;
}

std::uint32_t SoftwareCatalogue::intern_version(std::string_view text) {
    const std::uint32_t hash = name_hash(text);
    const std::uint32_t found = version_of_.find(text, hash, [this](std::uint32_t id) -> std::string_view {
        return version_texts_[id];
    });
    if (found != NameIndex::none) return found;
    const std::uint32_t id = take_id(free_versions_, version_texts_.size(), [this] {
        version_texts_.emplace_back();
        version_uses_.push_back(0);
    });
    version_texts_[id].assign(text.data(), text.size());
    version_of_.insert(hash, id);
    unused_versions_.push_back(id);
    return id;
}

void SoftwareCatalogue::settle() {
    order_names();
    let_go_unused();
    refilter();
}

bool SoftwareCatalogue::name_before(std::uint32_t a, std::uint32_t b) const {
    return natural_compare(programs_[a].name, programs_[b].name) < 0;
}

void SoftwareCatalogue::order_names() {
    // Those that gained their first computer are sorted once and each finds
    // its place by its name, then one pass from the back makes room: a batch
    // of new names costs one pass over the programs and a search each, not
    // a pass each.
    drop_names();
    const auto before = [this](std::uint32_t a, std::uint32_t b) { return name_before(a, b); };
    added_.erase(std::remove_if(added_.begin(), added_.end(),
                                [this](std::uint32_t id) {
                                    if (programs_[id].computers != 0) return false;
                                    listed_[id] = 0;
                                    return true;
                                }),
                 added_.end());
    if (added_.empty()) return;
    std::sort(added_.begin(), added_.end(), before);
    std::vector<std::size_t> places(added_.size());
    for (std::size_t k = 0; k < added_.size(); ++k) {
        const auto from = by_name_.begin() + static_cast<std::ptrdiff_t>(k == 0 ? 0 : places[k - 1]);
        places[k] = static_cast<std::size_t>(std::upper_bound(from, by_name_.end(), added_[k], before) - by_name_.begin());
    }
    std::size_t from = by_name_.size();
    by_name_.resize(by_name_.size() + added_.size());
    std::size_t to = by_name_.size();
    for (std::size_t k = added_.size(); k-- > 0;) {
        const auto ahead = static_cast<std::ptrdiff_t>(from - places[k]);
        std::move_backward(by_name_.begin() + static_cast<std::ptrdiff_t>(places[k]),
                           by_name_.begin() + static_cast<std::ptrdiff_t>(from),
                           by_name_.begin() + static_cast<std::ptrdiff_t>(to));
        to -= static_cast<std::size_t>(ahead);
        from = places[k];
        by_name_[--to] = added_[k];
        listed_[added_[k]] = 2;
    }
    added_.clear();
}

void SoftwareCatalogue::drop_names() {
    // Programs that lost their last computer are found by their names (not
    // let go yet) and leave in one pass.
    std::vector<std::size_t> gone;
    for (const std::uint32_t id : dropped_) {
        if (programs_[id].computers != 0 || listed_[id] != 2) continue;
        auto at = std::lower_bound(by_name_.begin(), by_name_.end(), id,
                                   [this](std::uint32_t a, std::uint32_t b) { return name_before(a, b); });
        while (at != by_name_.end() && *at != id) ++at;  // names that compare equal
        if (at == by_name_.end()) continue;
        gone.push_back(static_cast<std::size_t>(at - by_name_.begin()));
        listed_[id] = 0;
    }
    dropped_.clear();
    if (gone.empty()) return;
    std::sort(gone.begin(), gone.end());
    std::size_t to = gone.front();
    for (std::size_t k = 0; k < gone.size(); ++k) {
        const std::size_t end = k + 1 < gone.size() ? gone[k + 1] : by_name_.size();
        for (std::size_t i = gone[k] + 1; i < end; ++i) by_name_[to++] = by_name_[i];
    }
    by_name_.resize(to);
}

void SoftwareCatalogue::let_go_unused() {
    // Names and texts that no computer has any longer are let go (their
    // numbers are used again), so passing or hostile names do not pile up.
    for (const std::uint32_t id : unused_) {
        CatalogueProgram& program = programs_[id];
        if (program.computers != 0) continue;
        if (!program_of_.erase(name_hash(program.name), id)) continue;  // let go already
        for (const CatalogueVersion& v : program.versions) {
            --version_uses_[v.id];
            unused_versions_.push_back(v.id);
        }
        program.versions.clear();
        program.name.clear();
        free_programs_.push_back(id);
    }
    unused_.clear();
    for (const std::uint32_t id : unused_versions_) {
        if (version_uses_[id] != 0) continue;
        if (!version_of_.erase(name_hash(version_texts_[id]), id)) continue;  // let go already
        version_texts_[id].clear();
        free_versions_.push_back(id);
    }
    unused_versions_.clear();
}

void SoftwareCatalogue::refilter() {
    shown_stale_ = false;
    shown_.clear();
    if (find_.empty())
        shown_ = by_name_;
    else
        for (const std::uint32_t k : by_name_)
            if (contains_folded(programs_[k].name, find_)) shown_.push_back(k);
    if (order_ == CatalogueOrder::name) {
        if (!ascending_) std::reverse(shown_.begin(), shown_.end());
        return;
    }
    // Equal counts by name, always from A: the names' order is kept.
    std::stable_sort(shown_.begin(), shown_.end(), [this](std::uint32_t a, std::uint32_t b) {
        return ascending_ ? programs_[a].computers < programs_[b].computers
                          : programs_[a].computers > programs_[b].computers;
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
    const std::uint32_t id = program_numbered(name, name_hash(name));
    if (id == NameIndex::none) return std::nullopt;
    const auto row = std::find(shown_.begin(), shown_.end(), id);
    if (row == shown_.end()) return std::nullopt;
    return static_cast<std::size_t>(row - shown_.begin());
}

std::vector<std::uint32_t> SoftwareCatalogue::computers_of(std::size_t row, std::optional<std::size_t> version) const {
    std::vector<std::uint32_t> records;
    const std::uint32_t id = shown_[row];
    const auto& versions = programs_[id].versions;
    if (version && *version >= versions.size()) return records;
    const Pair first{id, version ? versions[*version].id : 0};
    for (std::uint32_t i = 0; i < lists_.size(); ++i) {
        const auto& list = lists_[i];
        const auto p = std::lower_bound(list.begin(), list.end(), first);
        if (p != list.end() && p->program == id && (!version || p->version == first.version)) records.push_back(i);
    }
    return records;
}

bool CatalogueChoice::choose_program(const SoftwareCatalogue& catalogue, std::size_t row) {
    if (row >= catalogue.size()) return false;
    program_ = catalogue.program_at(row).name;
    version_.reset();
    return true;
}

bool CatalogueChoice::choose_version(const SoftwareCatalogue& catalogue, std::size_t slot) {
    const std::optional<std::size_t> row = place(catalogue).row;
    if (!row || slot >= catalogue.program_at(*row).versions.size()) return false;
    version_ = std::string(catalogue.program_at(*row).versions[slot].text);
    return true;
}

CatalogueChoice::Place CatalogueChoice::place(const SoftwareCatalogue& catalogue) const {
    Place at;
    if (program_) at.row = catalogue.row_of(*program_);
    if (!at.row || !version_) return at;
    const auto& versions = catalogue.program_at(*at.row).versions;
    for (std::size_t v = 0; v < versions.size(); ++v)
        if (versions[v].text == *version_) {
            at.slot = v;
            break;
        }
    return at;
}

CatalogueChoice::Place CatalogueChoice::settle(const SoftwareCatalogue& catalogue) {
    const Place at = place(catalogue);
    if (!at.row) program_.reset();
    if (!at.slot) version_.reset();
    return at;
}

}  // namespace tally
