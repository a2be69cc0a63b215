// The software catalogue: counts per program and version, order, find, and
// the computers of a program or a version.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "console_fixture.h"
#include "server/model/software_catalogue.h"

namespace tally {
namespace {

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        tables.add_record(test::mac_of(1), "A");
        tables.add_free_record();
        tables.add_record(test::mac_of(2), "B");
        tables.add_record(test::mac_of(3), "C");
        const struct {
            std::uint32_t computer;  // 0: a freed entry; 9: a computer without a record
            const char* name;
            const char* version;
        } entries[] = {
            {1, "Browser", "109.0"}, {2, "Browser", "109.0"}, {3, "Browser", "110.0"}, {1, "Office Suite", "16.0"},
            {0, "Browser", "1"},     {9, "Browser", "99"},    {1, "Browser", "109.0"},  // listed twice: counts once
            {3, "Office Suite", ""}, {2, "zip", "9"},         {3, "Zip", "10"},         {1, "Browser", "9.5"},
        };
        for (const auto& e : entries)
            tables.add_entry(e.computer ? test::mac_of(e.computer) : std::array<std::uint8_t, 6>{}, e.name,
                             e.version);
        ASSERT_TRUE(tables.load(store, dir));
        catalogue.build(store);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (std::size_t row = 0; row < catalogue.size(); ++row) out.push_back(catalogue.program_at(row).name);
        return out;
    }
    test::TempDir dir;
    test::RecordingNotifier notifier;
    Store store{notifier};
    test::Tables tables;
    SoftwareCatalogue catalogue;
};

TEST_F(CatalogueTest, CountsComputersPerProgramAndVersion) {
    ASSERT_EQ(names(), (std::vector<std::string>{"Browser", "Office Suite", "Zip", "zip"}));
    const CatalogueProgram& browser = catalogue.program_at(0);
    EXPECT_EQ(browser.computers, 3u);  // A has two versions, counted once
    ASSERT_EQ(browser.versions.size(), 3u);
    const std::pair<const char*, std::uint32_t> versions[] = {{"9.5", 1}, {"109.0", 2}, {"110.0", 1}};
    for (std::size_t v = 0; v < 3; ++v) {
        EXPECT_EQ(browser.versions[v].text, versions[v].first);
        EXPECT_EQ(browser.versions[v].computers, versions[v].second);
    }
    // Records: 0 A, 1 free, 2 B, 3 C.
    EXPECT_EQ(catalogue.computers_of(0), (std::vector<std::uint32_t>{0, 2, 3}));
    EXPECT_EQ(catalogue.computers_of(0, 1), (std::vector<std::uint32_t>{0, 2}));
    EXPECT_EQ(catalogue.computers_of(0, 0), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(catalogue.program_at(1).versions[0].text, "");
    EXPECT_EQ(version_label(""), "(no version)");
    EXPECT_EQ(computer_set_text(browser, std::nullopt, 3), "Browser: 3 computers");
    EXPECT_EQ(computer_set_text(browser, 1, 2), "Browser 109.0: 2 computers");
    EXPECT_EQ(computer_set_text(catalogue.program_at(1), 0, 1), "Office Suite (no version): 1 computer");
    EXPECT_EQ(catalogue_count_text(4, 4), "4 of 4 programs");
    EXPECT_EQ(catalogue_count_text(4, 9, counted_percent(450, 1000)), "4 of 9 programs (counting: 45%)");
    EXPECT_EQ(program_cell(browser, 0) + "|" + program_cell(browser, 1) + "|" + program_cell(browser, 2), "Browser|3|3");
    EXPECT_EQ(version_cell(catalogue.program_at(1).versions[0], 0), "(no version)");
}

TEST_F(CatalogueTest, OrderAndFind) {
    const struct {
        CatalogueOrder order;
        bool ascending;
        const char* find;
        std::vector<std::string> names;
    } cases[] = {
        {CatalogueOrder::computers, false, "", {"Browser", "Office Suite", "Zip", "zip"}},
        {CatalogueOrder::computers, true, "", {"Zip", "zip", "Office Suite", "Browser"}},  // equal counts by name
        {CatalogueOrder::name, false, "", {"zip", "Zip", "Office Suite", "Browser"}},
        {CatalogueOrder::name, true, "ZI", {"Zip", "zip"}},
        {CatalogueOrder::name, true, "suite", {"Office Suite"}},
    };
    for (const auto& c : cases) {
        catalogue.set_find(c.find);
        catalogue.sort_by(c.order, c.ascending);
        EXPECT_EQ(names(), c.names) << c.find;
    }
    catalogue.set_find("");
    catalogue.click_column(CatalogueOrder::computers);
    EXPECT_FALSE(catalogue.ascending());  // counts start with the largest
    EXPECT_EQ(catalogue.row_of("Office Suite"), std::optional<std::size_t>(1));
}

// The window's chosen program and version follow their texts through new
// orders and find texts, and end when the program is no longer shown.
TEST_F(CatalogueTest, ChoiceKeptByItsTexts) {
    enum Step { program, version, find, names_descending };
    const struct {
        const char* name;
        std::vector<std::pair<Step, std::size_t>> steps;  // find: 1 "zip", 0 ""
        const char* chosen;  // what the steps returned, one letter each: y or n
        const char* program;
        const char* version;
        std::optional<std::size_t> row, slot;
    } cases[] = {
        {"a program", {{program, 0}}, "y", "Browser", nullptr, 0, std::nullopt},
        {"one of its versions", {{program, 0}, {version, 1}}, "yy", "Browser", "109.0", 0, 1},
        {"another program drops the version", {{program, 0}, {version, 1}, {program, 1}}, "yyy", "Office Suite",
         nullptr, 1, std::nullopt},
        {"the empty version text", {{program, 1}, {version, 0}}, "yy", "Office Suite", "", 1, 0},
        {"a new order moves the row", {{program, 0}, {version, 2}, {names_descending, 0}}, "yy", "Browser", "110.0",
         3, 2},
        {"a find text that hides it ends it", {{program, 0}, {version, 1}, {find, 1}}, "yy", nullptr, nullptr,
         std::nullopt, std::nullopt},
        {"shown again, it stays ended", {{program, 0}, {find, 1}, {find, 0}}, "y", nullptr, nullptr, std::nullopt,
         std::nullopt},
        {"rows not shown are not chosen", {{program, 4}, {version, 0}, {program, 2}, {version, 1}}, "nnyn", "Zip",
         nullptr, 2, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        catalogue.set_find("");
        catalogue.sort_by(CatalogueOrder::name, true);
        CatalogueChoice choice;
        std::string chosen;
        for (const auto& [step, n] : c.steps) {
            if (step == program) chosen += choice.choose_program(catalogue, n) ? 'y' : 'n';
            if (step == version) chosen += choice.choose_version(catalogue, n) ? 'y' : 'n';
            if (step == find) catalogue.set_find(n ? "zip" : "");
            if (step == names_descending) catalogue.sort_by(CatalogueOrder::name, false);
            if (step == find || step == names_descending) choice.settle(catalogue);
        }
        EXPECT_EQ(chosen, c.chosen);
        const CatalogueChoice::Place at = choice.settle(catalogue);
        EXPECT_EQ(choice.program(), c.program ? std::optional<std::string>(c.program) : std::nullopt);
        EXPECT_EQ(choice.version(), c.version ? std::optional<std::string>(c.version) : std::nullopt);
        EXPECT_EQ(at.row, c.row);
        EXPECT_EQ(at.slot, c.slot);
    }
}

// What a catalogue shows, in one text: every program with its count, its
// versions with theirs, and its computers.
std::string shown(const SoftwareCatalogue& c) {
    std::string out;
    for (std::size_t row = 0; row < c.size(); ++row) {
        const CatalogueProgram& p = c.program_at(row);
        out += p.name + "=" + std::to_string(p.computers) + "[";
        for (std::size_t v = 0; v < p.versions.size(); ++v) {
            out += std::string(p.versions[v].text) + ":" + std::to_string(p.versions[v].computers) + "(";
            for (std::uint32_t i : c.computers_of(row, v)) out += std::to_string(i) + ",";
            out += ")";
        }
        out += "]{";
        for (std::uint32_t i : c.computers_of(row)) out += std::to_string(i) + ",";
        out += "} ";
    }
    return out + std::to_string(c.program_count());
}

// A catalogue that follows the store a change at a time shows what one
// counted afresh shows, after each step.
TEST_F(CatalogueTest, FollowsEachChangeAsAFreshCountShowsIt) {
    SoftwareCatalogue live;
    live.attach(store);
    ASSERT_TRUE(live.build_for(1000));
    EXPECT_EQ(shown(live), shown(catalogue));
    const auto list = [&](std::uint32_t computer, std::vector<std::pair<const char*, const char*>> programs) {
        const auto mac = test::mac_of(computer);
        Store::WriteBatch batch(store);
        store.release_entries(mac.data());
        for (const auto& [name, version] : programs) store.add_entry(mac.data(), name, version);
    };
    const auto record = [&](std::uint32_t computer) {
        std::uint8_t r[hw_record::size] = {};
        const auto mac = test::mac_of(computer);
        std::copy(mac.begin(), mac.end(), r + hw_record::mac.offset);
        return std::vector<std::uint8_t>(r, r + sizeof r);
    };
    // Many computers at once, each with names no other has (as after a
    // backlog of reports), and records that take new MACs.
    const auto batch = [&](std::uint32_t from, const char* prefix, std::uint32_t count = 60) {
        for (std::uint32_t c = from; c < from + count; ++c) {
            const auto mac = test::mac_of(c);
            const auto at = store.find_record(mac.data());  // a free record when the MAC has none
            if (!at || !std::equal(mac.begin(), mac.end(), store.record(*at).mac())) {
                ASSERT_TRUE(store.add_record(record(c).data())) << c;
            }
            std::vector<std::string> names;
            for (int k = 0; k < 5; ++k) names.push_back(prefix + std::to_string((c * 7 + k) % 97) + " of " + std::to_string(c));
            list(c, {{names[0].c_str(), "1"}, {names[1].c_str(), "2"}, {names[2].c_str(), ""}, {names[3].c_str(), "1"},
                     {names[4].c_str(), "1"}, {"Browser", prefix}});
        }
        list(2, {{"Browser", "109.0"}});
        // Records that take new MACs: the old and the new MAC may come in different slices, either first.
        std::vector<std::uint32_t> moved;
        for (std::uint32_t c = from; c < from + count; c += 6) moved.push_back(store.find_record(test::mac_of(c).data()).value());
        for (const std::uint32_t i : moved) store.replace_record(i, record(from + 100 + i).data());
    };
    const struct {
        const char* step;
        std::function<void()> change;
        std::uint32_t budget_ms = SoftwareCatalogue::no_budget;  // 0: a slice of a few computers per call
    } steps[] = {
        {"add a program", [&] { list(2, {{"Browser", "109.0"}, {"zip", "9"}, {"Editor", "2"}}); }},
        {"remove programs", [&] { list(1, {{"Browser", "109.0"}}); }},
        {"change a version", [&] { list(2, {{"Browser", "111.0"}, {"zip", "9"}, {"Editor", "2"}}); }},
        {"duplicate names", [&] { list(3, {{"Editor", "2"}, {"Editor", "2"}, {"Editor", "3"}, {"Zip", "10"}}); }},
        {"the last computer of a program goes", [&] { list(3, {}); }},
        {"a new computer", [&] {
             store.add_record(record(7).data());
             list(7, {{"Browser", "9.5"}, {"Tool", ""}});
         }},
        {"a record takes the free one", [&] { store.replace_record(1, record(8).data()); list(8, {{"Tool", "1"}}); }},
        {"the computer without a record gets one", [&] { store.add_record(record(9).data()); }},
        {"a record changes its MAC", [&] { store.replace_record(1, record(1).data()); }},
        {"delete", [&] { store.delete_record(0); }},
        {"delete the duplicate", [&] { store.delete_record(1); }},
        {"re-open", [&] {
             ASSERT_EQ(store.open_store(dir.path()), 0);
             EXPECT_FALSE(live.apply_changes() && live.built() && store.record_count() > 0);
             live.build_for(1000);
         }},
        {"after the re-open", [&] { list(2, {{"Browser", "1"}}); }},
        {"a batch of many new names", [&] { batch(20, "Tool "); }},
        {"a batch in slices", [&] { batch(40, "Kit "); }, 0},
        {"more new names than a slice takes", [&] { batch(200, "Pack ", 560); }, 60000},
    };
    for (const auto& s : steps) {
        s.change();
        int slices = 0;
        do {
            live.apply_changes(s.budget_ms);
            ++slices;
            // Between slices every shown program has a computer.
            for (std::size_t row = 0; row < live.size(); ++row) ASSERT_GT(live.program_at(row).computers, 0u) << s.step;
            EXPECT_EQ(live.size(), live.program_count()) << s.step;
        } while (live.has_changes());
        EXPECT_EQ(slices > 1, s.budget_ms != SoftwareCatalogue::no_budget) << s.step;
        SoftwareCatalogue fresh;
        fresh.build(store);
        EXPECT_EQ(shown(live), shown(fresh)) << s.step;
        EXPECT_TRUE(live.built()) << s.step;
    }
}

// Counting in slices while reports arrive ends where a fresh count is.
TEST_F(CatalogueTest, CountsInSlicesWhileReportsArrive) {
    for (std::uint32_t c = 10; c < 400; ++c) {
        std::uint8_t r[hw_record::size] = {};
        const auto mac = test::mac_of(c);
        std::copy(mac.begin(), mac.end(), r + hw_record::mac.offset);
        store.add_record(r);
        for (int k = 0; k < 5; ++k) store.add_entry(mac.data(), "P" + std::to_string((c + k) % 17), std::to_string(c % 3));
    }
    SoftwareCatalogue live;
    live.attach(store);
    std::uint32_t c = 10;
    while (!live.build_for(0)) {
        const auto mac = test::mac_of(c);
        store.release_entries(mac.data());
        store.add_entry(mac.data(), "P" + std::to_string(c % 5), "new");
        if (c % 7 == 0) store.delete_record(store.find_record(test::mac_of(c + 200).data()).value());
        c += 3;
        live.apply_changes();
    }
    ASSERT_GT(c, 13u) << "more than one slice";
    SoftwareCatalogue fresh;
    fresh.build(store);
    EXPECT_EQ(shown(live), shown(fresh));
}

// The name index against a plain map, through growth and removals, with
// hashes that crowd into few places (so that removal must close gaps
// across runs of slots) and hashes that agree for different names.
TEST(NameIndexTest, FindsWhatAPlainMapFinds) {
    std::vector<std::string> names;
    std::vector<std::uint32_t> hashes;
    for (std::uint32_t k = 0; k < 300; ++k) {
        names.push_back("name " + std::to_string(k));
        hashes.push_back(k % 3 == 0 ? (k % 7) * 1024u : k % 2 == 0 ? 5u : name_hash(names.back()));
    }
    NameIndex index;
    std::map<std::string, std::uint32_t> plain;
    const auto name_of = [&](std::uint32_t id) -> std::string_view { return names[id]; };
    std::uint32_t state = 12345;
    for (int step = 0; step < 5000; ++step) {
        state = state * 1103515245u + 12345u;
        const std::uint32_t id = (state >> 8) % 300;
        const bool held = plain.count(names[id]) != 0;
        if (held && (state & 1)) {
            ASSERT_TRUE(index.erase(hashes[id], id));
            plain.erase(names[id]);
        } else if (!held) {
            index.insert(hashes[id], id);
            plain[names[id]] = id;
        }
        ASSERT_EQ(index.size(), plain.size());
        for (std::uint32_t k = 0; k < 300; k += 7) {
            const auto it = plain.find(names[k]);
            ASSERT_EQ(index.find(names[k], hashes[k], name_of), it == plain.end() ? NameIndex::none : it->second)
                << "step " << step << ", name " << k;
        }
    }
    EXPECT_FALSE(index.erase(12345u, 7));
}

}  // namespace
}  // namespace tally
