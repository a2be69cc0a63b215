// Publishing the inventory to an organisation's SQL database: the window's
// thread hands what changed (copies of the changed computers, the new change
// events, the deletions) to one worker thread that writes them in batched
// transactions over ODBC. The intake never waits for the database.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tally {

class Store;
class History;
class Database;  // server/publish/database.h: the seam to the SQL database

struct PublishSettings {
    bool enabled = false;           // "Publish to database"
    std::string connection_string;  // a DSN name or a driver connection string, password included
    std::string site;               // the site name; the server's computer name by default
};

// The state the console shows.
struct PublishStatus {
    bool enabled = false;
    bool connected = false;
    std::uint64_t awaiting = 0;  // "Awaiting Publish": computers and events not yet in the database
};

class Publisher {
public:
    // The publisher keeps its watermark beside the database files; `connect`
    // makes a database connection for the worker (ODBC in the programs, the
    // same with a scratch PostgreSQL in the tests: make_odbc_database). It
    // listens to the store's changes from construction on.
    Publisher(Store& store, History& history, std::unique_ptr<Database> (*connect)());
    // Stops the worker after it has written the batch in hand and what waits
    // for it (for at most 5 s); what is left goes at the next start.
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Starts, restarts or stops the worker for these settings and the store
    // opened in `working_directory`.
    void configure(const PublishSettings& settings, const std::string& working_directory);
    // On the window's thread, a few times a second (every 50 to 250 ms):
    // hands what changed since the last tick to the worker, at most about
    // 5 ms of work per call. `now`: seconds since 1970.
    void tick(std::uint32_t now);
    PublishStatus status() const;
    // The text for the status line when the database went away (once per
    // outage: "Cannot publish to the database: " and the driver's message)
    // or came back ("Publishing to the database again"); empty otherwise.
    std::string take_status_text();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Connects with the connection string and checks the schema can be made:
// empty when it works, otherwise the driver's message (the settings
// dialog's test at OK).
std::string test_connection(Database& database, const std::string& connection_string);

}  // namespace tally
