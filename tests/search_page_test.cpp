// The Search page: list contents and their shown order, reading a row from
// its texts, the value rules of "Search", and "Clear".
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "server/model/search_page.h"

namespace tally {
namespace {

TEST(SearchPage, ListsHoldTheirEntriesInTheShownOrder) {
    EXPECT_EQ(operator_list_entries(), (std::vector<std::string>{"=", "<", ">", "!="}));
    EXPECT_EQ(item_list_entries(),
              (std::vector<std::string>{"CPU Speed (Mhz)", "RAM in MB", "CPU Family", "Free Disk Space",
                                        "Total Disk Space", "Refresh Rate", "Bits per Pixel", "Windows Build",
                                        "Windows Major Version", "Windows Minor Version", "Pagefile in MB",
                                        "Product Type"}));
    EXPECT_EQ(sorted_list_order(item_list_entries()),
              (std::vector<std::string>{"Bits per Pixel", "CPU Family", "CPU Speed (Mhz)", "Free Disk Space",
                                        "Pagefile in MB", "Product Type", "RAM in MB", "Refresh Rate",
                                        "Total Disk Space", "Windows Build", "Windows Major Version",
                                        "Windows Minor Version"}));
    EXPECT_EQ(sorted_list_order(connector_list_entries()), (std::vector<std::string>{"And", "Or"}));
    EXPECT_EQ(sorted_list_order(mode_list_entries()), (std::vector<std::string>{"Installed", "Not Installed"}));
    for (const std::string& name : item_list_entries()) EXPECT_EQ(item_text(item_from_text(name)), name);
}

TEST(SearchPage, ReadCriterion) {
    HardwareCriterion c = read_criterion("!=", "RAM in MB", "And");
    EXPECT_EQ(c.op, Operator::not_equal);
    EXPECT_EQ(c.item, HardwareItem::ram);
    EXPECT_EQ(c.connector, Connector::and_);
    EXPECT_EQ(c.value, 0u);

    // The operator by its first character only, the connector by "A"/"O".
    EXPECT_EQ(read_criterion("=", "", "").op, Operator::equal);
    EXPECT_EQ(read_criterion("<", "", "").op, Operator::less);
    EXPECT_EQ(read_criterion(">=", "", "").op, Operator::greater);
    EXPECT_EQ(read_criterion("!x", "", "").op, Operator::not_equal);
    EXPECT_EQ(read_criterion("", "", "").op, Operator::none);
    EXPECT_EQ(read_criterion("~", "", "").op, Operator::none);
    EXPECT_EQ(read_criterion("=", "", "Or").connector, Connector::or_);
    EXPECT_EQ(read_criterion("=", "", "Anything").connector, Connector::and_);
    EXPECT_EQ(read_criterion("=", "", "and").connector, Connector::none);
    EXPECT_EQ(read_criterion("=", "", "").connector, Connector::none);

    // The item: whole text, case-sensitive.
    EXPECT_EQ(read_criterion("=", "Windows Minor Version", "").item, HardwareItem::windows_minor_version);
    EXPECT_EQ(read_criterion("=", "Bits per Pixel", "").item, HardwareItem::bits_per_pixel);
    EXPECT_EQ(read_criterion("=", "ram in mb", "").item, HardwareItem::none);
    EXPECT_EQ(read_criterion("=", "RAM in MB ", "").item, HardwareItem::none);
    EXPECT_EQ(read_criterion("=", "RAM", "").item, HardwareItem::none);
}

SearchPageTexts row1(const std::string& item, const std::string& op, const std::string& value) {
    SearchPageTexts t = cleared_page_texts();
    t.item_text[0] = item;
    t.operator_text[0] = op;
    t.value_text[0] = value;
    return t;
}

TEST(SearchPage, SearchWithOneRow) {
    ActiveSearch s;
    search_tab_search(row1("RAM in MB", ">", "256"), s);
    EXPECT_TRUE(s.hardware_on);
    EXPECT_FALSE(s.software_on);
    EXPECT_EQ(s.hardware[0].item, HardwareItem::ram);
    EXPECT_EQ(s.hardware[0].op, Operator::greater);
    EXPECT_EQ(s.hardware[0].value, 256u);
    EXPECT_EQ(s.hardware[0].connector, Connector::none);
    EXPECT_EQ(s.software_connector, Connector::or_) << "nothing selected in the software connector";
}

// The hardware rows as "item operator value connector" each, "-" for none,
// so that one comparison shows all of every row.
std::string rows_text(const ActiveSearch& s) {
    static const char* const operators[] = {"-", "=", "<", ">", "!="};
    static const char* const connectors[] = {"-", "And", "Or"};
    std::string out;
    for (const HardwareCriterion& c : s.hardware) {
        if (!out.empty()) out += "; ";
        out += c.item == HardwareItem::none ? "-" : item_text(c.item);
        out += std::string(" ") + operators[static_cast<int>(c.op)] + ' ' + std::to_string(c.value) + ' ' +
               connectors[static_cast<int>(c.connector)];
    }
    return out;
}

TEST(SearchPage, ValueRules) {
    // Rows 2 and 3 filled; row 1 has its item and operator but no value yet.
    SearchPageTexts t = row1("RAM in MB", ">", "");
    t.connector_text = {"And", "Or"};
    t.item_text[1] = "CPU Family";
    t.value_text[1] = "15";
    t.item_text[2] = "Refresh Rate";
    t.value_text[2] = "60";
    ActiveSearch s;
    s.hardware_on = true;
    // Each step changes texts of the page further, then searches.
    struct Step {
        const char* what;
        std::vector<std::pair<std::string*, const char*>> texts;
        bool hardware_on;
        const char* rows;  // nullptr: the rows do not matter
    };
    const Step steps[] = {
        {"value 1 empty: no hardware filtering at all", {}, false, nullptr},
        {"4294967296 is no value either", {{&t.value_text[0], "4294967296"}}, false, nullptr},
        {"all three rows complete: all take part, row 3 without a connector", {{&t.value_text[0], "256"}}, true,
         "RAM in MB > 256 And; CPU Family = 15 Or; Refresh Rate = 60 -"},
        {"value 3 missing: row 3 dropped, row 2 decides after row 1", {{&t.value_text[2], ""}}, true,
         "RAM in MB > 256 And; CPU Family = 15 -; - - 0 -"},
        {"value 2 missing: row 2 dropped with row 1's connector; row 1 alone decides",
         {{&t.value_text[1], ""}, {&t.value_text[2], "60"}}, true, "RAM in MB > 256 -; - - 0 -; - - 0 -"},
        {"row 2's connector not chosen: row 3 is ignored even when filled",
         {{&t.value_text[1], "15"}, {&t.connector_text[1], ""}}, true,
         "RAM in MB > 256 And; CPU Family = 15 -; - - 0 -"},
        // Kept as it is: it fails and points on to row 2.
        {"row 1 with a value and connector Or but no item", {{&t.item_text[0], ""}, {&t.connector_text[0], "Or"}},
         true, "- > 256 Or; CPU Family = 15 -; - - 0 -"},
    };
    for (const Step& step : steps) {
        for (const auto& text : step.texts) *text.first = text.second;
        search_tab_search(t, s);
        EXPECT_EQ(s.hardware_on, step.hardware_on) << step.what;
        if (step.rows) {
            EXPECT_EQ(rows_text(s), step.rows) << step.what;
        }
    }
}

TEST(SearchPage, SoftwareRows) {
    SearchPageTexts t = cleared_page_texts();
    t.mode_text[0] = "Not Installed";
    t.software_text[0] = "Editor";
    ActiveSearch s;
    search_tab_search(t, s);
    EXPECT_FALSE(s.hardware_on);
    EXPECT_TRUE(s.software_on);
    EXPECT_EQ(s.software[0].mode, SoftwareMode::not_installed);
    EXPECT_EQ(s.software[0].text, "Editor");
    EXPECT_EQ(s.software[1].mode, SoftwareMode::installed);

    // The editable second mode box: a capital I means Installed, anything else not.
    t.mode_text[1] = "installed";
    t.software_text[1] = std::string(70, 'z');
    t.software_connector_text = "And";
    search_tab_search(t, s);
    EXPECT_EQ(s.software[1].mode, SoftwareMode::not_installed);
    EXPECT_EQ(s.software[1].text, std::string(63, 'z'));
    EXPECT_EQ(s.software_connector, Connector::and_);
    t.mode_text[1] = "Idle";
    search_tab_search(t, s);
    EXPECT_EQ(s.software[1].mode, SoftwareMode::installed);

    // Both texts empty: the software search is off.
    t.software_text = {"", ""};
    search_tab_search(t, s);
    EXPECT_FALSE(s.software_on);
}

TEST(SearchPage, ClearRestoresTheStartUpState) {
    ActiveSearch s;
    SearchPageTexts t = row1("RAM in MB", ">", "256");
    t.software_text[0] = "office";
    search_tab_search(t, s);
    ASSERT_TRUE(s.hardware_on && s.software_on);
    search_tab_clear(s);
    EXPECT_FALSE(s.hardware_on);
    EXPECT_FALSE(s.software_on);
    EXPECT_EQ(s.hardware[0].item, HardwareItem::none);
    EXPECT_EQ(s.software[0].text, "");

    const SearchPageTexts c = cleared_page_texts();
    for (const std::string& op : c.operator_text) EXPECT_EQ(op, "=");
    for (const std::string& m : c.mode_text) EXPECT_EQ(m, "Installed");
    for (const std::string& i : c.item_text) EXPECT_EQ(i, "");
    for (const std::string& v : c.value_text) EXPECT_EQ(v, "");
    EXPECT_EQ(c.software_connector_text, "");
}

}  // namespace
}  // namespace tally
