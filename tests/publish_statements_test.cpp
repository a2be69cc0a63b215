// The publisher without a database: texts as ASCII-only literals and their
// Unicode, the shapes of the multi-row statements, the batching rules, and
// the watermark record.
#include <gtest/gtest.h>

#include <algorithm>

#include "server/model/formats.h"
#include "server/publish/publish_batch.h"
#include "server/publish/sql_text.h"
#include "server/publish/watermark.h"
#include "test_support.h"

namespace tally {
namespace {

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

TEST(PublishText, LiteralsAreAsciiWithCodePointEscapes) {
    struct Case {
        const char* text;
        const char* literal;
    };
    const Case cases[] = {
        {"", "E''"},
        {"Office 2019 (x64) - 16.0.1", "E'Office 2019 (x64) - 16.0.1'"},
        {"O'Brien", "E'O\\u0027Brien'"},
        {"C:\\Tools\\", "E'C:\\u005cTools\\u005c'"},
        {"x'); DROP TABLE programs; --", "E'x\\u0027)\\u003b DROP TABLE programs\\u003b --'"},
        {"what? {fn NOW()} $1", "E'what\\u003f \\u007bfn NOW()\\u007d \\u00241'"},
        {"\"quoted\"\t", "E'\\u0022quoted\\u0022\\u0009'"},
        {"Caf\xE9", "E'Caf\\u00e9'"},
        {"\x80 \x81 \x8D \x8F \x90 \x9D \x9F \xFF", "E'\\u20ac \\u0081 \\u008d \\u008f \\u0090 \\u009d \\u0178 \\u00ff'"},
        {"\x96\x93\x94", "E'\\u2013\\u201c\\u201d'"},
    };
    for (const Case& c : cases) EXPECT_EQ(sql_literal(c.text), c.literal) << c.text;
}

TEST(PublishText, NoByteEndsALiteral) {
    // Every byte alone and after a backslash: two quotes only, both ends; ASCII only.
    for (int b = 1; b < 256; ++b) {
        for (const std::string& text : {std::string(1, char(b)), "\\" + std::string(1, char(b)) + "'"}) {
            const std::string literal = sql_literal(text);
            EXPECT_EQ(count(literal, "'"), 2u) << b;
            EXPECT_EQ(literal.rfind("E'", 0), 0u);
            EXPECT_EQ(literal.back(), '\'');
            EXPECT_TRUE(std::all_of(literal.begin(), literal.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) << b;
        }
    }
}

TEST(PublishText, Windows1252AndUtf16AsUtf8) {
    struct Case {
        std::string cp1252;
        std::string utf8;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"\x80", "\xE2\x82\xAC"},       // euro sign
        {"\x81\x9D", "\xC2\x81\xC2\x9D"},  // undefined bytes: the C1 controls
        {"\x9F", "\xC5\xB8"},
        {"\xA0\xFF", "\xC2\xA0\xC3\xBF"},
    };
    for (const Case& c : cases) EXPECT_EQ(cp1252_to_utf8(c.cp1252), c.utf8);
    EXPECT_EQ(utf16_to_utf8(u"A\u00e9\u20ac"), "A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(utf16_to_utf8(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");  // a pair
    EXPECT_EQ(utf16_to_utf8(std::u16string{0xDE00, u'x'}), "\xEF\xBF\xBDx");       // a lone half
    EXPECT_EQ(one_line("  [unixODBC]could not connect\n\tIs the server\r\nrunning?  "),
              "[unixODBC]could not connect Is the server running?");
}

// A computer of the store with `programs` programs (some listed twice).
PublishedComputer computer(int n, int programs, bool present = true) {
    PublishedComputer c;
    c.mac = {0x00, 0x50, 0x56, 0x00, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    c.snapshot.present = present;
    if (!present) return c;
    std::uint8_t* r = c.snapshot.record.data();
    std::copy(c.mac.begin(), c.mac.end(), r + hw_record::mac.offset);
    put_text(r, hw_record::computer_name, "PC" + std::to_string(n));
    for (int p = 0; p < programs; ++p) c.snapshot.programs.emplace_back("Program " + std::to_string(p % 700), "1");
    return c;
}

std::string mac_text(const PublishedComputer& c) { return sql_literal(format_mac(c.mac.data())); }

PublishItem item_of(PublishedComputer c) {
    PublishItem item;
    item.computer = std::move(c);
    return item;
}

TEST(PublishStatements, ProgramsGoInStatementsOfAtMostAThousandRowsNeverSplittingAComputer) {
    struct Case {
        const char* name;
        std::vector<int> programs;  // per computer
        std::size_t statements;
    };
    const Case cases[] = {
        {"one computer", {100}, 1},
        {"ten of 100 fill one statement", std::vector<int>(10, 100), 1},
        {"eleven of 100 need two", std::vector<int>(11, 100), 2},
        {"a computer of 1,500 alone", {1500}, 1},
        {"600 then 600", {600, 600}, 2},
        {"none: only the deletion of its programs", {0}, 1},
    };
    for (const Case& c : cases) {
        std::vector<PublishedComputer> held;
        for (std::size_t k = 0; k < c.programs.size(); ++k) held.push_back(computer(int(k), c.programs[k]));
        std::vector<const PublishedComputer*> list;
        for (const auto& h : held) list.push_back(&h);
        const auto statements = replace_programs("Site", list);
        EXPECT_EQ(statements.size(), c.statements) << c.name;
        for (const auto& h : held) {
            // Each computer in exactly one statement, which deletes what it no longer lists.
            std::size_t in = 0;
            for (const auto& s : statements) in += count(s, mac_text(h)) > 0;
            EXPECT_EQ(in, 1u) << c.name;
        }
        for (const auto& s : statements) {
            EXPECT_NE(s.find("DELETE FROM programs p WHERE p.site = E'Site'"), std::string::npos) << c.name;
            if (c.programs[0] == 0) {
                EXPECT_EQ(s.find("INSERT"), std::string::npos);
            }
        }
    }
    // A program listed twice with the same version is one row.
    const PublishedComputer twice = computer(1, 1400);  // programs 0 to 699 twice
    EXPECT_EQ(count(replace_programs("Site", {&twice})[0], "E'Program 1'"), 1u);
}

TEST(PublishStatements, ComputersUpsertInRunsAndKeepEqualRowsUntouched) {
    std::vector<PublishedComputer> held;
    for (int k = 0; k < 1001; ++k) held.push_back(computer(k, 0));
    std::vector<const PublishedComputer*> list;
    for (const auto& h : held) list.push_back(&h);
    const auto statements = upsert_computers("Site", list);
    ASSERT_EQ(statements.size(), 2u);
    EXPECT_EQ(count(statements[1], "E'Site'"), 1u);
    EXPECT_NE(statements[0].find("ON CONFLICT (site, mac) DO UPDATE SET computer_name = EXCLUDED.computer_name"),
              std::string::npos);
    EXPECT_NE(statements[0].find("IS DISTINCT FROM"), std::string::npos);
    // One value per column, the key first.
    const auto values = computer_values("Site", held[0]);
    ASSERT_EQ(values.size(), computer_columns().size());
    EXPECT_EQ(values[0], "E'Site'");
    EXPECT_EQ(values[1], mac_text(held[0]));
    EXPECT_EQ(values[2], "E'PC0'");
    EXPECT_EQ(values.back(), "NULL");  // no extension record: no facts
}

TEST(PublishBatch, RowAndTimeLimits) {
    struct Case {
        const char* name;
        std::vector<int> programs;  // computers added at once
        std::uint64_t at_ms;        // asked this long after the first
        bool full, ready;
    };
    const Case cases[] = {
        {"one computer, young", {10}, 999, false, false},
        {"one computer, a second old", {10}, 1000, false, true},
        {"just under 500 rows", {248, 249}, 0, false, false},  // 249 + 250 rows
        {"500 rows", {249, 249}, 0, true, true},
        {"one computer over the limit", {2000}, 0, true, true},
    };
    for (const Case& c : cases) {
        PublishBatch batch;
        for (std::size_t k = 0; k < c.programs.size(); ++k) batch.add(item_of(computer(int(k), c.programs[k])), 5000);
        EXPECT_EQ(batch.full(), c.full) << c.name;
        EXPECT_EQ(batch.ready(5000 + c.at_ms), c.ready) << c.name;
    }
    PublishBatch empty;
    EXPECT_FALSE(empty.ready(1u << 30));
}

TEST(PublishBatch, TheLatestStateOfAComputerWins) {
    struct Case {
        const char* name;
        std::vector<bool> states;  // present or deleted, in the order handed
        bool upserted, deleted;
        std::size_t rows;
    };
    const Case cases[] = {
        {"report", {true}, true, false, 11},
        {"deletion", {false}, false, true, 1},
        {"report, then deletion", {true, false}, false, true, 1},
        {"deletion, then report", {false, true}, true, false, 11},
        {"report twice", {true, true}, true, false, 11},
    };
    for (const Case& c : cases) {
        PublishBatch batch;
        for (bool present : c.states) batch.add(item_of(computer(7, 10, present)), 0);
        EXPECT_EQ(batch.rows(), c.rows) << c.name;
        EXPECT_EQ(batch.units(), c.states.size()) << c.name;  // each handing awaits its commit
        std::string all;
        for (const auto& s : batch.statements("Site", "token", {})) all += s + "\n";
        EXPECT_EQ(all.find("INSERT INTO computers") != std::string::npos, c.upserted) << c.name;
        EXPECT_EQ(all.find("DELETE FROM computers") != std::string::npos, c.deleted) << c.name;
    }
}

TEST(PublishBatch, FullSyncAndMarks) {
    PublishBatch batch;
    PublishItem begin;
    begin.kind = PublishItem::Kind::full_sync_begin;
    begin.token = "new-token";
    batch.add(begin, 0);
    batch.add(item_of(computer(1, 3)), 0);
    PublishItem mark;
    mark.kind = PublishItem::Kind::checkpoint;
    mark.mark = {41, 1700000000};
    batch.add(mark, 0);
    EXPECT_FALSE(batch.full());
    PublishItem end;
    end.kind = PublishItem::Kind::full_sync_end;
    end.mark = {42, 1700000001};
    batch.add(end, 0);
    EXPECT_TRUE(batch.full());  // the removal of the unsynced computers ends its transaction
    MacSet synced{mac_key(computer(1, 0).mac.data())};
    const auto statements = batch.statements("Site", "old-token", synced);
    ASSERT_GE(statements.size(), 4u);
    EXPECT_EQ(statements.front().rfind("INSERT INTO sites", 0), 0u);
    EXPECT_NE(statements.front().find("E'new-token'"), std::string::npos);
    EXPECT_NE(statements[statements.size() - 2].find("NOT EXISTS (SELECT 1 FROM keep"), std::string::npos);
    EXPECT_NE(statements[statements.size() - 2].find(mac_text(computer(1, 0))), std::string::npos);
    // The end's mark, under the new token.
    EXPECT_EQ(statements.back(), note_sequence("Site", "new-token", 42));
    // An emptied store removes every computer of the site, and only of the site.
    EXPECT_EQ(remove_unsynced("Site", {}),
              "WITH gone AS (DELETE FROM programs WHERE site = E'Site') DELETE FROM computers WHERE site = E'Site'");
}

TEST(PublishWatermark, RecordRoundTripsAndRefusesDamage) {
    const Watermark w{"0123456789abcdef0123456789abcdef", {123456789012ull, 1700000000}};
    std::uint8_t bytes[watermark_record::size];
    encode_watermark(w, bytes);
    ASSERT_TRUE(decode_watermark(bytes).has_value());
    EXPECT_EQ(*decode_watermark(bytes), w);
    for (std::size_t k : {std::size_t(0), std::size_t(20), watermark_record::size - 1}) {
        std::uint8_t damaged[watermark_record::size];
        std::copy(bytes, bytes + sizeof bytes, damaged);
        damaged[k] ^= 0x10;
        EXPECT_FALSE(decode_watermark(damaged).has_value()) << k;
    }
    encode_watermark({"", w.mark}, bytes);
    EXPECT_FALSE(decode_watermark(bytes).has_value());  // no token: never synced

    test::TempDir dir;
    EXPECT_FALSE(read_watermark(dir.path()).has_value());
    ASSERT_TRUE(write_watermark(dir.path(), w));
    ASSERT_TRUE(write_watermark(dir.path(), {w.token, {7, 8}}));
    EXPECT_EQ(read_watermark(dir.path())->mark, (PublishMark{7, 8}));
    EXPECT_EQ(test::read_file(dir.file(watermark_file_name)).size(), watermark_record::size);
    remove_watermark(dir.path());
    EXPECT_FALSE(read_watermark(dir.path()).has_value());
}

}  // namespace
}  // namespace tally
