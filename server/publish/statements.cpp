// The schema and the multi-row statements of the publisher.
#include "server/publish/statements.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "server/model/formats.h"
#include "server/model/windows_names.h"
#include "server/publish/sql_text.h"

namespace tally {
namespace {

const std::vector<ComputerColumn> columns = {
    {"site", "text NOT NULL"},       {"mac", "text NOT NULL"},         {"computer_name", "text"},
    {"user_name", "text"},           {"ip_address", "text"},           {"windows", "text"},
    {"windows_version", "text"},     {"processor", "text"},            {"processor_mhz", "bigint"},
    {"memory_mb", "bigint"},         {"disk_total_mb", "bigint"},      {"disk_free_mb", "bigint"},
    {"last_report", "timestamptz"},  {"first_seen", "timestamptz"},    {"serial_number", "text"},
    {"asset_tag", "text"},           {"custom_field_1", "text"},       {"custom_field_2", "text"},
    {"product_type", "smallint"},    {"processor_name", "text"},       {"manufacturer", "text"},
    {"model", "text"},               {"bios_serial", "text"},          {"windows_edition", "text"},
    {"display_version", "text"},     {"facts_reported", "timestamptz"},
};
constexpr std::size_t key_columns = 2;  // site, mac

std::string number(std::uint64_t n) { return std::to_string(n); }
std::string timestamp(std::uint32_t seconds) {
    return seconds ? "to_timestamp(" + std::to_string(seconds) + ")" : std::string("NULL");
}
std::string mac_literal(const std::uint8_t* mac) { return sql_literal(format_mac(mac)); }

Mac mac_of_key(std::uint64_t key) {
    Mac m{};
    for (int i = 0; i < 6; ++i) m[i] = static_cast<std::uint8_t>(key >> (8 * i));
    return m;
}

// "(a, b, c)"
std::string tuple(const std::vector<std::string>& values) {
    std::string out = "(";
    for (std::size_t k = 0; k < values.size(); ++k) {
        if (k) out += ", ";
        out += values[k];
    }
    return out + ")";
}

// Deletions one MAC at a time: with the site and the MAC both given, the
// database finds their rows by the key's index whatever its statistics say.
constexpr std::size_t macs_per_deletion = 100;

// "WITH first, d0 AS (m0), d1 AS (m1) primary": data-modifying statements
// run once each, with the primary statement.
std::string with_each(const std::vector<std::string>& modifying, const std::string& first, const std::string& primary) {
    std::string out;
    if (!first.empty()) out = first;
    for (std::size_t k = 0; k < modifying.size(); ++k)
        out += (out.empty() ? "" : ", ") + ("d" + std::to_string(k) + " AS (" + modifying[k] + ")");
    return out.empty() ? primary : "WITH " + out + " " + primary;
}

// The computer's distinct (program, version) pairs.
std::vector<std::pair<std::string, std::string>> distinct_programs(const ComputerSnapshot& s) {
    auto programs = s.programs;
    std::sort(programs.begin(), programs.end());
    programs.erase(std::unique(programs.begin(), programs.end()), programs.end());
    return programs;
}

// Splits the computers into runs of at most rows_per_statement rows each
// (a computer's rows are never split).
template <typename RowsOf>
std::vector<std::pair<std::size_t, std::size_t>> runs(std::size_t count, RowsOf rows_of) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    std::size_t start = 0, rows = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t r = rows_of(k);
        if (k > start && rows + r > rows_per_statement) {
            out.emplace_back(start, k);
            start = k;
            rows = 0;
        }
        rows += r;
    }
    if (start < count) out.emplace_back(start, count);
    return out;
}

std::string site_is(const std::string& site, const char* table = nullptr) {
    return std::string(table ? table : "") + (table ? "." : "") + "site = " + sql_literal(site);
}

}  // namespace

std::vector<std::string> schema_statements() {
    std::string computers = "CREATE TABLE IF NOT EXISTS computers (";
    for (const ComputerColumn& c : columns) computers += std::string(c.name) + " " + c.type + ", ";
    computers += "PRIMARY KEY (site, mac))";
    return {
        "CREATE TABLE IF NOT EXISTS sites (site text PRIMARY KEY, sync_token text NOT NULL, "
        "last_sequence bigint NOT NULL DEFAULT 0, last_publish timestamptz)",
        computers,
        "CREATE TABLE IF NOT EXISTS programs (site text NOT NULL, mac text NOT NULL, program text NOT NULL, "
        "version text NOT NULL, PRIMARY KEY (site, mac, program, version))",
        "CREATE INDEX IF NOT EXISTS programs_by_name ON programs (program, version)",
        "CREATE TABLE IF NOT EXISTS change_events (site text NOT NULL, sequence bigint NOT NULL, "
        "event_time timestamptz, mac text NOT NULL, computer_name text, kind smallint NOT NULL, kind_text text, "
        "what text, old_value text, new_value text, PRIMARY KEY (site, sequence))",
    };
}

const std::vector<ComputerColumn>& computer_columns() { return columns; }

std::vector<std::string> computer_values(const std::string& site, const PublishedComputer& computer) {
    const RecordView r(computer.snapshot.record.data());
    const ComputerSnapshot& s = computer.snapshot;
    const ExtensionRecord& ext = s.extension;
    const float mhz = r.speed_mhz();
    const FixedDisks disks = fixed_disks(r);
    std::vector<std::string> v = {
        sql_literal(site),
        mac_literal(computer.mac.data()),
        sql_literal(r.computer_name()),
        sql_literal(r.last_user()),
        sql_literal(format_ipv4(r.ip_address())),
        sql_literal(record_windows_text(r, s.has_extension ? ext.product_type : 0)),
        sql_literal(std::to_string(r.windows_major()) + "." + std::to_string(r.windows_minor()) + "." +
                    std::to_string(r.windows_build())),
        sql_literal(r.cpuid_response()),
        number((std::isfinite(mhz) && mhz > 0.0f && mhz < 4294967296.0f) ? std::uint64_t(mhz) : 0),
        number(r.ram_mb()),
        number(disks.total_mb),
        number(disks.free_mb),
        timestamp(r.last_update()),
        timestamp(computer.first_seen),
        sql_literal(real_serial(r.serial_number())),
        sql_literal(r.asset_tag()),
        sql_literal(r.custom_field_1()),
        sql_literal(r.custom_field_2()),
    };
    if (s.has_extension) {
        v.insert(v.end(), {number(ext.product_type), sql_literal(ext.facts.processor_name),
                           sql_literal(ext.facts.manufacturer), sql_literal(ext.facts.model),
                           sql_literal(real_serial(ext.facts.bios_serial)), sql_literal(ext.facts.windows_edition),
                           sql_literal(ext.facts.display_version), timestamp(ext.last_update)});
    } else {
        v.resize(columns.size(), "NULL");
    }
    return v;
}

std::vector<std::string> upsert_computers(const std::string& site, const std::vector<const PublishedComputer*>& computers) {
    std::string names, updates, old_row, new_row;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::string name = columns[c].name;
        names += (c ? ", " : "") + name;
        if (c < key_columns) continue;
        const char* sep = c > key_columns ? ", " : "";
        updates += sep + name + " = EXCLUDED." + name;
        old_row += sep + ("computers." + name);
        new_row += sep + ("EXCLUDED." + name);
    }
    std::vector<std::string> out;
    for (const auto& run : runs(computers.size(), [](std::size_t) { return std::size_t(1); })) {
        std::string sql = "INSERT INTO computers (" + names + ") VALUES ";
        for (std::size_t k = run.first; k < run.second; ++k)
            sql += (k > run.first ? ", " : "") + tuple(computer_values(site, *computers[k]));
        sql += " ON CONFLICT (site, mac) DO UPDATE SET " + updates + " WHERE (" + old_row + ") IS DISTINCT FROM (" +
               new_row + ")";
        out.push_back(std::move(sql));
    }
    return out;
}

std::vector<std::string> replace_programs(const std::string& site, const std::vector<const PublishedComputer*>& computers) {
    std::vector<std::vector<std::pair<std::string, std::string>>> lists;
    for (const PublishedComputer* c : computers) lists.push_back(distinct_programs(c->snapshot));
    std::vector<std::string> out;
    for (const auto& run : runs(computers.size(), [&](std::size_t k) { return std::max<std::size_t>(1, lists[k].size()); })) {
        std::string values;
        std::vector<std::string> deletes;
        for (std::size_t k = run.first; k < run.second; ++k) {
            const std::string mac = mac_literal(computers[k]->mac.data());
            for (const auto& p : lists[k])
                values += (values.empty() ? "" : ", ") + tuple({mac, sql_literal(p.first), sql_literal(p.second)});
            std::string gone = "DELETE FROM programs p WHERE " + site_is(site, "p") + " AND p.mac = " + mac;
            if (!lists[k].empty()) gone += " AND (p.program, p.version) NOT IN (SELECT program, version FROM v WHERE v.mac = " + mac + ")";
            deletes.push_back(std::move(gone));
        }
        if (values.empty()) {
            const std::string last = deletes.back();
            deletes.pop_back();
            out.push_back(with_each(deletes, "", last));
            continue;
        }
        out.push_back(with_each(deletes, "v (mac, program, version) AS (VALUES " + values + ")",
                                "INSERT INTO programs (site, mac, program, version) SELECT " + sql_literal(site) +
                                    ", mac, program, version FROM v ON CONFLICT DO NOTHING"));
    }
    return out;
}

std::vector<std::string> delete_computers(const std::string& site, const std::vector<Mac>& macs) {
    std::vector<std::string> out;
    for (std::size_t first = 0; first < macs.size(); first += macs_per_deletion) {
        std::vector<std::string> deletes;
        const std::size_t end = std::min(macs.size(), first + macs_per_deletion);
        for (std::size_t k = first; k < end; ++k)
            for (const char* table : {"programs", "computers"})
                deletes.push_back(std::string("DELETE FROM ") + table + " WHERE " + site_is(site) +
                                  " AND mac = " + mac_literal(macs[k].data()));
        const std::string last = deletes.back();
        deletes.pop_back();
        out.push_back(with_each(deletes, "", last));
    }
    return out;
}

std::vector<std::string> insert_events(const std::string& site, const std::vector<ChangeEvent>& events) {
    std::vector<std::string> out;
    for (const auto& run : runs(events.size(), [](std::size_t) { return std::size_t(1); })) {
        std::string sql = "INSERT INTO change_events (site, sequence, event_time, mac, computer_name, kind, kind_text, "
                          "what, old_value, new_value) VALUES ";
        for (std::size_t k = run.first; k < run.second; ++k) {
            const ChangeEvent& e = events[k];
            sql += (k > run.first ? ", " : "") +
                   tuple({sql_literal(site), number(e.sequence), timestamp(e.time), mac_literal(e.mac.data()),
                          sql_literal(e.computer), number(static_cast<std::uint8_t>(e.kind)),
                          sql_literal(change_kind_text(e.kind)), sql_literal(e.what), sql_literal(e.old_value),
                          sql_literal(e.new_value)});
        }
        out.push_back(sql + " ON CONFLICT (site, sequence) DO NOTHING");
    }
    return out;
}

std::string start_full_sync(const std::string& site, const std::string& token) {
    return "INSERT INTO sites (site, sync_token, last_publish) VALUES (" + sql_literal(site) + ", " +
           sql_literal(token) +
           ", now()) ON CONFLICT (site) DO UPDATE SET sync_token = EXCLUDED.sync_token, last_publish = "
           "EXCLUDED.last_publish";
}

std::string remove_unsynced(const std::string& site, const MacSet& kept) {
    if (kept.empty())
        return "WITH gone AS (DELETE FROM programs WHERE " + site_is(site) + ") DELETE FROM computers WHERE " +
               site_is(site);
    std::vector<std::uint64_t> keys(kept.begin(), kept.end());
    std::sort(keys.begin(), keys.end());
    std::string values;
    for (std::uint64_t key : keys) values += (values.empty() ? "(" : ", (") + mac_literal(mac_of_key(key).data()) + ")";
    return "WITH keep (mac) AS (VALUES " + values + "), gone AS (DELETE FROM programs p WHERE " + site_is(site, "p") +
           " AND NOT EXISTS (SELECT 1 FROM keep WHERE keep.mac = p.mac)) DELETE FROM computers c WHERE " +
           site_is(site, "c") + " AND NOT EXISTS (SELECT 1 FROM keep WHERE keep.mac = c.mac)";
}

std::string note_sequence(const std::string& site, const std::string& token, std::uint64_t sequence) {
    return "UPDATE sites SET last_sequence = " + number(sequence) + ", last_publish = now() WHERE " + site_is(site) +
           " AND sync_token = " + sql_literal(token);
}

std::string select_token(const std::string& site) {
    return "SELECT sync_token FROM sites WHERE " + site_is(site);
}

}  // namespace tally
