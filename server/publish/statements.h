// The SQL the publisher sends: the schema (made when missing), and the
// multi-row statements that put computers, their programs, deletions and
// change events of one site into the database. Every statement is keyed by
// site and so idempotent: sent twice, it changes nothing the second time.
// Texts go in as ASCII-only literals (sql_text.h).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "protocol/bytes.h"
#include "server/store/change_events.h"
#include "server/store/mac_hash.h"

namespace tally {

// A computer as it goes to the database: what the store holds of it (not
// present: it was deleted) and when the history first saw it.
struct PublishedComputer {
    Mac mac{};
    ComputerSnapshot snapshot;
    std::uint32_t first_seen = 0;  // 0: not known
};

// A set of MAC keys (mac_key).
using MacSet = std::unordered_set<std::uint64_t, MacHash>;

// Most rows one statement carries (a computer with more programs than this
// still goes in one statement: its programs are replaced as a set).
constexpr std::size_t rows_per_statement = 1000;

// CREATE TABLE IF NOT EXISTS for the sites, computers, programs and
// change_events tables, and the index of programs by name.
std::vector<std::string> schema_statements();

// The columns of the computers table, in order, and the literals of one
// computer's row (the same order; site first).
struct ComputerColumn {
    const char* name;
    const char* type;
};
const std::vector<ComputerColumn>& computer_columns();
std::vector<std::string> computer_values(const std::string& site, const PublishedComputer& computer);

// Upserts of the computers' rows; a row whose values are all the same is
// left untouched. One statement per rows_per_statement computers.
std::vector<std::string> upsert_computers(const std::string& site, const std::vector<const PublishedComputer*>& computers);
// Replaces each computer's programs as a set: the database's rows it no
// longer lists go, new ones come, the rest stay untouched. A program listed
// twice with the same version is one row.
std::vector<std::string> replace_programs(const std::string& site, const std::vector<const PublishedComputer*>& computers);
// Deletes the computers' rows and their programs.
std::vector<std::string> delete_computers(const std::string& site, const std::vector<Mac>& macs);
// Inserts the change events; one already there (same site and sequence) stays as it is.
std::vector<std::string> insert_events(const std::string& site, const std::vector<ChangeEvent>& events);

// The site's row at the start of a full sync: the new token.
std::string start_full_sync(const std::string& site, const std::string& token);
// At the end of a full sync: the site's computers and programs whose MAC
// is not in `kept` (MAC keys) go.
std::string remove_unsynced(const std::string& site, const MacSet& kept);
// The site's last published event sequence, while the database holds `token`.
std::string note_sequence(const std::string& site, const std::string& token, std::uint64_t sequence);
// The query of the site's token.
std::string select_token(const std::string& site);

}  // namespace tally
